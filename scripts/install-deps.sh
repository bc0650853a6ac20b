#!/usr/bin/env bash
# Installs the Debian 12 packages vexlar needs to build, test and render
# (and, for the groups named as arguments, to fuzz or format the sources).
# Only packages that are missing are installed, so a machine that has them
# all is left alone (and needs no network).
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libpng-dev
  nlohmann-json3-dev libcli11-dev libtinyobjloader-dev
  python3 pngcheck
  libxxhash-dev
  libstb-dev libopenexr-dev openexr python3-pil python3-numpy
  libembree-dev
  libopenmpi-dev openmpi-bin
  libtinygltf-dev
)

# Extra groups, named on the command line: `fuzz` (clang and libFuzzer, for
# make fuzz), `format` (clang-format, for make format and format-check),
# `valgrind` (for scripts/valgrind.sh) and `blender` (Blender, for the
# add-on's tests; make test). CI uses fuzz, format and blender.
for group in "$@"; do
  case "$group" in
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    format) packages+=(clang-format) ;;
    # Blender for the add-on's tests (tests/blender/); large: several hundred MB
    # with its dependencies, so only `make test` and CI ask for it.
    blender) packages+=(blender) ;;
    valgrind) packages+=(valgrind) ;;
    *) echo "install-deps.sh: unknown group '$group' (known: fuzz, format, blender, valgrind)" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
