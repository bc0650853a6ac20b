#!/usr/bin/env bash
# Blocks per second and speed-up of an MPI render of the bunny benchmark
# scene (scenes/bench/bunny.json, 640 x 480 = 80 blocks) on 1, 2 and 4
# ranks (4 oversubscribed on a 2-core machine), each rank with -j 1.
#
# Usage: bench/mpi_scaling.sh [RUNS]   (default 3 runs per rank count; the
# best is kept, as the machine is shared and timings are noisy)
# Environment: BUILD (default build), OUT (default /tmp/vexlar-mpi-bench),
# RANKS (default "1 2 4"), PEERS (default /work/shared/peers: the bunny mesh
# is refined by its make_meshes.js into $OUT/peers/data/bunny_s3.obj).
#
# Prints one line per rank count: the render phase (rank 0's --stats: tree,
# light set-up and render pass), blocks per second over it, the speed-up
# over one rank, the blocks each rank rendered, and rank 0's time taking in
# blocks (decode, checkpoint, image) per block: the figures of the scaling
# model in docs/mpi.md.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
RUNS=${1:-3}
BUILD=${BUILD:-$ROOT/build}
OUT=${OUT:-/tmp/vexlar-mpi-bench}
RANKS=${RANKS:-1 2 4}
PEERS=${PEERS:-/work/shared/peers}
VEXLAR=$BUILD/src/host/vexlar
MPIEXEC=$(command -v mpiexec || command -v mpirun || true)
[ -x "$VEXLAR" ] || { echo "mpi_scaling.sh: build vexlar first (cmake --build $BUILD --target vexlar)" >&2; exit 2; }
[ -n "$MPIEXEC" ] || { echo "mpi_scaling.sh: no mpiexec; install openmpi-bin (scripts/install-deps.sh)" >&2; exit 2; }
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1

mkdir -p "$OUT"
if [ ! -f "$OUT/peers/data/bunny_s3.obj" ]; then
  (cd "$PEERS" && PEERS_OUT="$OUT/peers" node make_meshes.js >/dev/null)
fi
cp -f "$ROOT/scenes/bench/bunny.json" "$OUT/"
ln -sf "$OUT/peers/data/bunny_s3.obj" "$OUT/bunny_s3.obj"
# The mesh cache takes the OBJ parse out of every rank's load.
"$VEXLAR" "$OUT/bunny.json" -j 1 -q -o "$OUT/warm.png" --mesh-cache "$OUT/cache"

blocks=80
base=""
printf "%-6s %10s %12s %9s  %s\n" ranks render_s blocks_per_s speedup "blocks per rank; rank 0 intake per block"
for n in $RANKS; do
  best="" line=""
  for ((run = 0; run < RUNS; run++)); do
    log=$("$MPIEXEC" --oversubscribe -np "$n" "$VEXLAR" "$OUT/bunny.json" -j 1 --stats --mesh-cache "$OUT/cache" \
          -o "$OUT/bunny_$n.png" 2>&1)
    t=$(sed -n 's/^  render *\([0-9.]*\) s$/\1/p' <<<"$log")
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then
      best=$t
      line=$(grep '^MPI:' <<<"$log" | sed 's/^MPI: [0-9]* blocks rendered by [0-9]* ranks: //')
    fi
  done
  base=${base:-$best}
  printf "%-6s %10.3f %12.1f %9.2f  %s\n" "$n" "$best" "$(echo "$blocks / $best" | bc -l)" \
         "$(echo "$base / $best" | bc -l)" "$line"
done
