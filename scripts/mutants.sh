#!/usr/bin/env bash
# Mutation testing: plants small faults in the library, the host and the
# plug-ins one at a time and checks that the test suite notices each.
#
# Usage: scripts/mutants.sh [options] [MUTANT_LIST]
#   MUTANT_LIST        the faults to plant (default: scripts/mutants.txt)
#   --only REGEX       plant only the mutants whose name matches REGEX
#   --dir DIR          scratch folder (default: /tmp/vexlar-mutants, or $MUTANTS_DIR)
#   --timeout SECONDS  per-test time limit (default: 60); a test that runs
#                      longer counts as failed, so the mutant as killed
#   --jobs N           build and test jobs (default: 2)
#   --sanitize         build the scratch tree with -DVEXLAR_SANITIZE=ON
#   --check            only check that every mutant's text is found once (no build)
#   --hints FILE       the output of an earlier run: a mutant it lists as killed
#                      by a test builds only that test's program (with what it
#                      depends on) and runs that test alone first, and builds
#                      and runs the whole suite only when that test passes (the
#                      verdict is the same, the run much shorter)
#
# The worktree itself is never touched. The script copies it (without build
# folders and .git) to DIR/src, configures DIR/build once and keeps it: each
# later run rebuilds only what changed, and ccache serves the objects of
# faults planted before. For every mutant it replaces the exact original text
# (which must occur once in its file) by the replacement, rebuilds, runs the
# whole suite with ctest (--stop-on-failure, per-test timeout) and puts the
# file back. One line per mutant:
#   killed           a test failed, crashed or timed out
#   survived         the whole suite passed with the fault in place
#   does not compile the fault broke the build (counted in neither figure)
#   not applicable   the original text is not in the file (any more), or
#                    occurs more than once: the code changed since the
#                    mutant was written; update or drop the entry
# and last the line "N killed, M survived".
#
# A full run plants every mutant and takes a while (10 to 25 seconds per
# mutant on two cores, two minutes for faults in widely included headers,
# quicker with --hints); it is
# not part of CI. Run it after changing tests, and extend the list when you
# add code: a surviving mutant is a fault the suite would let through, so it
# needs a test, or a note in the list explaining why it cannot be told apart
# from the original (an equivalent mutant).
#
# List format (scripts/mutants.txt): blank lines and lines starting with '#'
# are ignored. Each mutant is
#   == NAME
#   file PATH             (relative to the repository root)
#   - ORIGINAL LINE       (one or more; joined with newlines)
#   + REPLACEMENT LINE    (zero or more; none deletes the original text)
# The text after "- " or "+ " is taken exactly, leading blanks included.
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
list="$root/scripts/mutants.txt"
only=""
dir="${MUTANTS_DIR:-/tmp/vexlar-mutants}"
timeout=60
jobs=2
sanitize=OFF
check=0
hints=""

while [ $# -gt 0 ]; do
  case "$1" in
    --only) only="$2"; shift 2 ;;
    --dir) dir="$2"; shift 2 ;;
    --timeout) timeout="$2"; shift 2 ;;
    --jobs) jobs="$2"; shift 2 ;;
    --sanitize) sanitize=ON; shift ;;
    --check) check=1; shift ;;
    --hints) hints="$(cd "$(dirname "$2")" && pwd)/$(basename "$2")"; shift 2 ;;
    -h|--help) sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    -*) echo "mutants.sh: unknown option $1" >&2; exit 2 ;;
    *) list="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; shift ;;
  esac
done

[ -f "$list" ] || { echo "mutants.sh: no mutant list $list" >&2; exit 2; }
[ $check -eq 1 ] && dir="$(mktemp -d)"
src="$dir/src"
build="$dir/build"
log="$dir/log"
mkdir -p "$dir" "$log"

# A fresh copy of the sources. Files that did not change since the last run
# keep their copies (and timestamps), so they are not rebuilt; changed files
# are copied anew with the time of the copy, so that they are rebuilt even
# when their own timestamp is older than the objects of the last run.
rm -rf "$dir/incoming"
mkdir -p "$src" "$dir/incoming"
(cd "$root" && tar --exclude=./.git --exclude='./build*' --exclude=./demo.png -cf - .) |
  (cd "$dir/incoming" && tar -xf -)
python3 - "$dir/incoming" "$src" << 'EOF'
import filecmp, os, shutil, sys
new, old = sys.argv[1], sys.argv[2]
keep = set()
for base, dirs, files in os.walk(new):
    for f in files:
        rel = os.path.relpath(os.path.join(base, f), new)
        keep.add(rel)
        target = os.path.join(old, rel)
        if not os.path.isfile(target) or not filecmp.cmp(os.path.join(new, rel), target, shallow=False):
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy(os.path.join(new, rel), target)
for base, dirs, files in os.walk(old):
    for f in files:
        rel = os.path.relpath(os.path.join(base, f), old)
        if rel not in keep:
            os.remove(os.path.join(base, f))
EOF
rm -rf "$dir/incoming"
# A run stopped while a mutant was planted left its object behind, newer
# than the restored source: make that source newer again so it is rebuilt.
if [ -f "$dir/planted" ]; then
  touch "$src/$(cat "$dir/planted")" 2> /dev/null || true
  rm -f "$dir/planted"
fi

if [ $check -eq 0 ]; then
launcher=()
if command -v ccache > /dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
if ! cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXLAR_SANITIZE="$sanitize" -DVEXLAR_BUILD_BENCH=OFF \
  -DCMAKE_LINK_DEPENDS_NO_SHARED=ON "${launcher[@]}" > "$log/configure.txt" 2>&1; then
  echo "mutants.sh: configuring the scratch tree failed, see $log/configure.txt" >&2
  exit 1
fi

# Nothing run for a mutant may read the list being read: every build and
# test gets /dev/null as its input (mpirun, for one, passes its input on).
build_tree() { cmake --build "$build" -j "$jobs" > "$1" 2>&1 < /dev/null; }
# The package installation checks (install.consumer, install.outOfTreePlugin)
# configure and build programs against the installed package from scratch and
# test packaging, not behaviour: they are left out to keep each mutant quick.
# The MPI run and the Blender renders are the slowest tests and catch little
# alone: they run last, only when everything else passed, so that a mutant
# another test catches is not kept waiting for them (ctest starts the longest
# tests first and lets them finish).
slow='^(host_mpi_render|blender_)'
run_suite() {
  ctest --test-dir "$build" -j "$jobs" --timeout "$timeout" --stop-on-failure -E "^install\\.|$slow" \
    > "$1" 2>&1 < /dev/null &&
    ctest --test-dir "$build" -j "$jobs" --timeout "$timeout" --stop-on-failure -R "$slow" \
      --no-tests=ignore >> "$1" 2>&1 < /dev/null
}

# The test that killed NAME in the hints file, if any.
hint_for() {
  [ -n "$hints" ] && [ -f "$hints" ] || return 0
  awk -v n="$1" '$1 == "killed" && $2 == n && $3 == "by" { print $4; exit }' "$hints"
}
# The ctest pattern matching exactly the test named $1.
exact() { printf '^%s$' "$(printf '%s' "$1" | sed 's/[][\\.*^$+?(){}|]/\\&/g')"; }
# Runs only the test named $2; fails when it fails.
run_one() {
  ctest --test-dir "$build" --timeout "$timeout" --no-tests=ignore -R "$(exact "$2")" > "$1" 2>&1 < /dev/null
}
# Builds only the program that runs the test named $2 (a target named as
# the program's file); fails when there is none or it does not build.
build_for() {
  local program
  program="$(ctest --test-dir "$build" -N -V -R "$(exact "$2")" 2> /dev/null < /dev/null |
    sed -n 's/.*Test command: \([^ ]*\).*/\1/p' | head -n 1)"
  [ -n "$program" ] && cmake --build "$build" -j "$jobs" --target "$(basename "$program")" > "$1" 2>&1 < /dev/null
}

if ! build_tree "$log/baseline-build.txt"; then
  echo "mutants.sh: the unmodified tree does not build, see $log/baseline-build.txt" >&2
  exit 1
fi
if ! run_suite "$log/baseline-test.txt"; then
  echo "mutants.sh: the suite fails without any mutant, see $log/baseline-test.txt" >&2
  exit 1
fi
fi

# Plants or removes one mutant: apply FILE ORIGINAL REPLACEMENT prints
# "ok", "missing" or "ambiguous".
apply() {
  python3 - "$@" << 'EOF'
import sys
path, original, replacement = sys.argv[1], sys.argv[2], sys.argv[3]
try:
    with open(path, encoding="utf-8") as f:
        text = f.read()
except OSError:
    print("missing")
    sys.exit(0)
count = text.count(original)
if count != 1:
    print("missing" if count == 0 else "ambiguous")
    sys.exit(0)
with open(path, "w", encoding="utf-8") as f:
    f.write(text.replace(original, replacement))
print("ok")
EOF
}

killed=0
survived=0
broken=0
stale=0

plant() {
  local name="$1" file="$2" original="$3" replacement="$4"
  [ -n "$name" ] || return 0
  if [ -n "$only" ] && ! [[ "$name" =~ $only ]]; then return 0; fi
  local target="$src/$file" tag
  tag="$(printf '%s' "$name" | tr -c 'A-Za-z0-9._-' '_')"
  if [ -z "$file" ] || [ -z "$original" ]; then
    printf '%-16s %s (incomplete entry)\n' "not applicable" "$name"
    stale=$((stale + 1))
    return 0
  fi
  local backup="$dir/backup"
  cp -p "$target" "$backup" 2> /dev/null || true
  case "$(apply "$target" "$original" "$replacement")" in
    ok) ;;
    ambiguous)
      printf '%-16s %s (text occurs more than once in %s)\n' "not applicable" "$name" "$file"
      stale=$((stale + 1))
      return 0 ;;
    *)
      printf '%-16s %s (text not found in %s)\n' "not applicable" "$name" "$file"
      stale=$((stale + 1))
      return 0 ;;
  esac
  local status
  [ $check -eq 1 ] || printf '%s\n' "$file" > "$dir/planted"
  if [ $check -eq 1 ]; then
    cp "$backup" "$target"
    printf '%-16s %s\n' "applies" "$name"
    return 0
  fi
  local hint
  hint="$(hint_for "$name")"
  if [ -n "$hint" ] && build_for "$log/$tag.build.txt" "$hint" && ! run_one "$log/$tag.test.txt" "$hint"; then
    status="killed"
    killed=$((killed + 1))
  elif ! build_tree "$log/$tag.build.txt"; then
    status="does not compile"
    broken=$((broken + 1))
  elif [ -n "$hint" ] && ! run_one "$log/$tag.test.txt" "$hint"; then
    status="killed"
    killed=$((killed + 1))
  elif run_suite "$log/$tag.test.txt"; then
    status="survived"
    survived=$((survived + 1))
  else
    status="killed"
    killed=$((killed + 1))
  fi
  # Put the original back; its new timestamp makes the next build recompile
  # it (a ccache hit).
  cp "$backup" "$target"
  rm -f "$dir/planted"
  local why=""
  if [ "$status" = killed ]; then
    why="$(grep -m1 -E '^[[:space:]]+[0-9]+ - ' "$log/$tag.test.txt" | sed -E 's/^[[:space:]]+[0-9]+ - //')"
    [ -n "$why" ] && why=" by $why"
  fi
  printf '%-16s %s%s\n' "$status" "$name" "$why"
}

name="" file="" original="" replacement="" have_orig=0 have_repl=0
while IFS= read -r line || [ -n "$line" ]; do
  case "$line" in
    "== "*)
      plant "$name" "$file" "$original" "$replacement"
      name="${line#== }" file="" original="" replacement="" have_orig=0 have_repl=0 ;;
    "file "*) file="${line#file }" ;;
    "- "*|"-")
      text="${line#-}"; text="${text# }"
      if [ $have_orig -eq 1 ]; then original+=$'\n'"$text"; else original="$text"; have_orig=1; fi ;;
    "+ "*|"+")
      text="${line#+}"; text="${text# }"
      if [ $have_repl -eq 1 ]; then replacement+=$'\n'"$text"; else replacement="$text"; have_repl=1; fi ;;
    "#"*|"") ;;
    *) echo "mutants.sh: cannot read line: $line" >&2 ;;
  esac
done < "$list"
plant "$name" "$file" "$original" "$replacement"

if [ $check -eq 1 ]; then
  rm -rf "$dir"
  [ $stale -gt 0 ] && exit 1
  exit 0
fi
# Leave the scratch build matching the sources for the next run.
build_tree "$log/final-build.txt" || true

[ $broken -gt 0 ] && echo "($broken mutants do not compile)"
[ $stale -gt 0 ] && echo "($stale mutants not applicable)"
echo "$killed killed, $survived survived"
