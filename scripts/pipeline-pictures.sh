#!/usr/bin/env bash
# Renders the pictures of docs/color-pipeline.md: the demo scene through
# each step of the output colour pipeline, small, into docs/pipeline/.
#   scripts/pipeline-pictures.sh [BUILD_DIR]      (default: build)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
program=$build/src/host/vexlar
out=$root/docs/pipeline
mkdir -p "$out"

render() {
  local name=$1
  shift
  "$program" -q --size 240x180 -o "$out/$name.png" "$@"
  echo "pipeline-pictures: wrote docs/pipeline/$name.png"
}

render 1-linear --set output.color=linear
render 2-library-exposure --set output.color=linear --set render.exposure=-1.5
render 3-srgb
render 4-exposure --set output.exposure=1
render 5-reinhard --set output.exposure=1 --set output.tonemap=reinhard
render 6-filmic --set output.exposure=1 --set output.tonemap=filmic
render 7-gamma --set 'output.color={"gamma": 2.2}'
