#!/bin/bash
# A mesh of many millions of triangles through the whole program: a bumpy
# square grid written as an OBJ file, rendered at 640 x 480 with one point
# light (the mesh cache off, so the file is read and the tree built); prints
# the phases of --stats, the peak memory and the bytes per triangle.
#
#   bench/bigmesh.sh [MILLIONS=10]
#
# Environment: BUILD (vexlar's build folder, default build-bench, built
# here when missing), OUT (the mesh, scene and picture, default
# /tmp/vexlar-bigmesh; the mesh is kept for the next run).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd -P)
MILLIONS=${1:-10}
[[ $MILLIONS =~ ^[1-9][0-9]*$ ]] || { echo "bigmesh.sh: MILLIONS must be a positive integer" >&2; exit 2; }
BUILD=$(realpath -m -- "${BUILD:-$ROOT/build-bench}")
OUT=$(realpath -m -- "${OUT:-/tmp/vexlar-bigmesh}")
mkdir -p "$OUT"
if [ ! -x "$BUILD/src/host/vexlar" ]; then
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXLAR_BUILD_TESTS=OFF >/dev/null
  cmake --build "$BUILD" -j "$(nproc)" --target vexlar >/dev/null
fi
mesh=$OUT/grid_${MILLIONS}m.obj
if [ ! -s "$mesh" ]; then
  echo "bigmesh.sh: writing $mesh" >&2
  # k x k cells of two triangles each over [-1, 1]^2, heights a few waves.
  python3 - "$MILLIONS" "$mesh.tmp" <<'PY'
import math, sys
k = int(math.ceil(math.sqrt(int(sys.argv[1]) * 1e6 / 2)))
with open(sys.argv[2], "w", buffering=1 << 24) as f:
    for j in range(k + 1):
        y = -1 + 2 * j / k
        f.write("".join("v %.6f %.6f %.6f\n" % (-1 + 2 * i / k, y,
                0.05 * math.sin(9 * i / k) * math.cos(7 * y)) for i in range(k + 1)))
    for j in range(k):
        rows = []
        for i in range(k):
            a = j * (k + 1) + i + 1
            rows.append("f %d %d %d\nf %d %d %d\n" % (a, a + 1, a + k + 2, a, a + k + 2, a + k + 1))
        f.write("".join(rows))
PY
  mv "$mesh.tmp" "$mesh"
fi
triangles=$(grep -c '^f ' "$mesh")
cat > "$OUT/scene.json" <<JSON
{
  "camera": {"from": [0, -2.2, 1.6], "to": [0, 0, 0], "up": [0, 0, 1], "resolution": [640, 480]},
  "render": {"gamma": 1, "self_shadow_bias": 0.0001},
  "lights": {"lamp": {"type": "point", "from": [-2, -1, 3], "color": [1, 1, 1], "power": 1, "fade": "none"}},
  "shaders": {"grey": {"type": "generic", "color": [0.7, 0.7, 0.7], "diffuse": 1}},
  "objects": {"grid": {"type": "mesh", "shader": "grey", "file": "$(basename "$mesh")"}},
  "output": {"file": "grid.png", "color": "linear"}
}
JSON
/usr/bin/time -f '%M' -o "$OUT/peak.txt" "$BUILD/src/host/vexlar" -j1 --stats --mesh-cache off -q \
  -o "$OUT/grid.png" "$OUT/scene.json" | grep -E '^ +(load|render|write) '
kib=$(cat "$OUT/peak.txt")
echo "triangles $triangles, peak memory $((kib / 1024)) MiB, $((kib * 1024 / triangles)) bytes per triangle"
