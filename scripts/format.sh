#!/usr/bin/env bash
# Formats the C++ sources with the project's .clang-format.
#   scripts/format.sh                 format every tracked source in place
#   scripts/format.sh --check         list the sources that are not formatted; fail if any
#   scripts/format.sh [--check] FILE...   the same for the given files only
# CLANG_FORMAT selects the program (default clang-format, installed by
# scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

check=0
if [ "${1:-}" = "--check" ]; then
  check=1
  shift
elif [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
  sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'
  exit 0
fi

clang_format=${CLANG_FORMAT:-clang-format}
if ! command -v "$clang_format" >/dev/null 2>&1; then
  echo "format.sh: $clang_format not found (scripts/install-deps.sh installs it)" >&2
  exit 2
fi

if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files -- '*.cpp' '*.cc' '*.c' '*.h' '*.hpp')
fi

unformatted=0
for f in "${files[@]}"; do
  if [ ! -f "$f" ]; then
    echo "format.sh: no such file: $f" >&2
    exit 2
  fi
  if [ $check -eq 1 ]; then
    if ! "$clang_format" --style=file "$f" | cmp -s - "$f"; then
      echo "$f"
      unformatted=$((unformatted + 1))
    fi
  else
    "$clang_format" --style=file -i "$f"
  fi
done

if [ $check -eq 1 ] && [ $unformatted -gt 0 ]; then
  echo "format.sh: $unformatted of ${#files[@]} files are not formatted; run scripts/format.sh" >&2
  exit 1
fi
