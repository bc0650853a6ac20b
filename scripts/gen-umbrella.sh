#!/usr/bin/env bash
# Rewrites src/vexlarcore/vexlarcore.h so that it includes every public header.
set -euo pipefail
cd "$(dirname "$0")/../src/vexlarcore"
{
  echo "// Umbrella header: includes every public header of libvexlarcore."
  echo "#ifndef VEXLARCORE_VEXLARCORE_H"
  echo "#define VEXLARCORE_VEXLARCORE_H"
  echo
  for h in $(ls *.h | grep -v '^vexlarcore\.h$' | sort); do
    echo "#include \"vexlarcore/$h\""
  done
  echo
  echo "#endif"
} > vexlarcore.h
