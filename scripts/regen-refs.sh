#!/usr/bin/env bash
# Regenerates the reference images of the vexlar program's end-to-end tests
# (tests/data/host_ref_*.png) after an intended change of what it renders.
# The images and the arguments they are rendered with are listed in
# tests/data/host_refs.txt; the tests use the same list.
#   scripts/regen-refs.sh [BUILD_DIR]      (default: build)
# Look at the new images before committing them.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
program=$build/src/host/vexlar
data=$root/tests/data

if [ ! -x "$program" ]; then
  echo "regen-refs: $program not found; build first (make build BUILD=...)" >&2
  exit 1
fi

while read -r file args; do
  case $file in ''|'#'*) continue ;; esac
  args=${args//@DATA@/$data}
  # shellcheck disable=SC2086  # the argument list is split on purpose
  "$program" -q -o "$data/$file" $args
  echo "regen-refs: wrote tests/data/$file"
done < "$data/host_refs.txt"
