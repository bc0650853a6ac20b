#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan + UBSan) and runs each for
# a while, one after the other, printing per target the executions and the
# findings (crashes, hangs, leaks, broken checks).
#
#   scripts/fuzz.sh [-t SECONDS] [-b BUILD_DIR] [-n] [TARGET...]
#     -t  seconds per target (default 60)
#     -b  build folder (default build-fuzz)
#     -n  do not configure and build (use what is in the build folder)
#     TARGET: targa obj scene transfer workermessage params image gltf (default: all)
#
# Each target starts from its seeds in fuzz/corpus/<target> and keeps what it
# finds in BUILD_DIR/corpus/<target>; a failing input goes to
# BUILD_DIR/artifacts/<target>-crash-... (or -timeout-, -leak-, -oom-). Copy
# it to fuzz/regressions/<target>/ once the fault is mended, so that the test
# suite replays it. The exit status is 1 when anything was found.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=60
build=build-fuzz
configure=1
[ "${1:-}" = "--help" ] && { sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0; }
while getopts "t:b:nh" opt; do
  case "$opt" in
    t) seconds=$OPTARG ;;
    b) build=$OPTARG ;;
    n) configure=0 ;;
    h) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) sed -n '2,16p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(targa obj scene transfer workermessage params image gltf meshcache)

if [ "$configure" = 1 ]; then
  bash scripts/install-deps.sh fuzz || exit 1
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  cmake -S . -B "$build" -G Ninja "${launcher[@]}" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEXLAR_FUZZ=ON -DVEXLAR_BUILD_TESTS=OFF -DVEXLAR_BUILD_BENCH=OFF \
    -DVEXLAR_WERROR="${WERROR:-OFF}" >/dev/null || exit 1
  cmake --build "$build" -j "${JOBS:-2}" --target "${targets[@]/#/fuzz_}" || exit 1
fi

# Longest input per target: scene files and pictures need more room.
maxLen() {
  case "$1" in
    scene | image) echo 16384 ;;
    workermessage | transfer) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

mkdir -p "$build/artifacts"
found=0
printf '%-14s %12s %9s  %s\n' target executions findings artifacts
for t in "${targets[@]}"; do
  bin="$build/fuzz/fuzz_$t"
  [ -x "$bin" ] || { echo "fuzz.sh: $bin was not built" >&2; exit 1; }
  mkdir -p "$build/corpus/$t"
  log="$build/artifacts/$t.log"
  before=$(ls "$build/artifacts" | grep -c "^$t-" || true)
  # Quiet about leaks of the plug-in modules kept loaded on purpose; any
  # other leak is a finding.
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
    "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$(maxLen "$t")" \
    -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" \
    "$build/corpus/$t" "fuzz/corpus/$t" >"$log" 2>&1
  status=$?
  execs=$(grep -h 'stat::number_of_executed_units' "$log" | awk '{print $2}' | tail -1)
  after=$(ls "$build/artifacts" | grep -c "^$t-" || true)
  new=$((after - before))
  # A run that ends early without an artifact (a crash in start-up) counts too.
  if [ "$status" -ne 0 ] && [ "$new" -eq 0 ]; then new=1; fi
  [ "$new" -gt 0 ] && found=1
  printf '%-14s %12s %9s  %s\n' "$t" "${execs:-?}" "$new" \
    "$( [ "$new" -gt 0 ] && echo "see $log" )"
done
exit $found
