#!/bin/sh
# Runs one Blender test script headless with the add-on from the source
# tree: run.sh VEXLAR_PROGRAM SCRIPT. Without Blender the test is skipped
# (exit 77) with a message, except where VEXLAR_REQUIRE_BLENDER is set (CI),
# where a missing Blender fails.
program=$1
script=$2
blender=${VEXLAR_BLENDER:-$(command -v blender)}
if [ -z "$blender" ]; then
  if [ -n "$VEXLAR_REQUIRE_BLENDER" ]; then
    echo "FAILED: Blender is not installed (scripts/install-deps.sh blender installs it)"
    exit 1
  fi
  echo "SKIPPED: Blender is not installed (scripts/install-deps.sh blender installs it)"
  exit 77
fi
VEXLAR_PROGRAM=$program exec "$blender" -b --factory-startup --python-exit-code 1 --python "$script"
