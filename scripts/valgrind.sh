#!/usr/bin/env bash
# Runs valgrind's memcheck over a representative part of the test suite and
# over the program itself: every invalid read or write, use of an
# uninitialised value, bad free, and every definitely or indirectly lost
# block is an error. Not part of CI: it takes several minutes (see
# docs/robustness.md for a measured time).
#
#   scripts/valgrind.sh [-b BUILD_DIR] [-n] [CHECK...]
#     -b  a normal (unsanitized) build folder (default build; configured
#         as RelWithDebInfo when it does not exist yet)
#     -n  do not build (use what is in the build folder)
#     CHECK: names of checks to run (as the report lists them; default: all)
#
# Forked workers are followed (--trace-children), so the multi-process
# driver's children are checked too. Exit status 1 when anything was found.
set -uo pipefail
cd "$(dirname "$0")/.."

build=build
configure=1
while getopts "b:n" opt; do
  case "$opt" in
    b) build=$OPTARG ;;
    n) configure=0 ;;
    *) sed -n '2,15p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
only=("$@")

# Library, host and plug-in families: readers of untrusted input, the pipes
# and the forked driver, the plug-in loader, whole renders.
tests=(test_targa test_transfer test_workermessage test_forkedscene test_workerfaults test_params
       test_pluginregistry test_plugins test_render test_mesh test_host_scene)
# (test_imageread is left out: its large pictures take over 13 minutes under
# memcheck; replay_image runs the picture readers over the image seeds.)
replays=(replay_targa replay_obj replay_scene replay_transfer replay_workermessage replay_params replay_image)

if [ "$configure" = 1 ]; then
  bash scripts/install-deps.sh valgrind || exit 1
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVEXLAR_BUILD_BENCH=OFF >/dev/null || exit 1
  fi
  cmake --build "$build" -j "${JOBS:-2}" --target vexlar "${tests[@]}" "${replays[@]}" || exit 1
fi

logs="$build/valgrind"
mkdir -p "$logs"
memcheck=(valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect
          --errors-for-leak-kinds=definite,indirect --trace-children=yes --child-silent-after-fork=no
          --track-origins=yes --quiet)
failed=0
check() {
  local name=$1
  shift
  if [ ${#only[@]} -gt 0 ] && [[ ! " ${only[*]} " == *" $name "* ]]; then return; fi
  local start=$SECONDS
  rm -f "$logs/$name".*.log
  "${memcheck[@]}" --log-file="$logs/$name.%p.log" "$@" >"$logs/$name.out" 2>&1
  local status=$?
  local errors
  errors=$(cat "$logs/$name".*.log 2>/dev/null | grep -c "^==[0-9]*== [A-Z].*\(Invalid\|uninitialised\|definitely lost\|indirectly lost\|Mismatched\)" || true)
  if [ "$status" -eq 99 ] || [ "$errors" -gt 0 ]; then
    failed=1
    printf '%-24s %5ss  ERRORS (see %s/%s.*.log)\n' "$name" $((SECONDS - start)) "$logs" "$name"
  elif [ "$status" -ne 0 ]; then
    failed=1
    printf '%-24s %5ss  failed with status %s (see %s/%s.out)\n' "$name" $((SECONDS - start)) "$status" "$logs" "$name"
  else
    printf '%-24s %5ss  clean\n' "$name" $((SECONDS - start))
  fi
}

total=$SECONDS
for t in "${tests[@]}"; do
  bin="$build/tests/$t"
  [ -x "$bin" ] || { echo "valgrind.sh: $bin was not built" >&2; exit 1; }
  # Tests of how work is shared between workers measure who did more; under
  # valgrind's serialised processes they say nothing about memory.
  check "$t" "$bin" --gtest_filter=-forkedScene.IdleWorkerTakesOverBlocksNobodyStarted
done
for r in "${replays[@]}"; do
  name=${r#replay_}
  inputs=(fuzz/corpus/"$name")
  [ -d fuzz/regressions/"$name" ] && inputs+=(fuzz/regressions/"$name")
  check "$r" "$build/$r" "${inputs[@]}"
done
scratch=$(mktemp -d)
check vexlar_demo_j1 "$build/src/host/vexlar" -q -j 1 --size 64x48 -o "$scratch/demo1.png"
check vexlar_demo_j2 "$build/src/host/vexlar" -q -j 2 --size 64x48 -o "$scratch/demo2.png"
rm -rf "$scratch"
echo "total $((SECONDS - total)) s"
exit $failed
