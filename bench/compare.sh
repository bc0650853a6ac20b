#!/bin/bash
# vexlar beside its peers on the benchmark scenes (scenes/bench/, defined by
# the peers' SCENES.md): POV-Ray 3.7 renders, and the Embree 3 ray program.
#
#   bench/compare.sh [RUNS=5]
#
# From a fresh clone it does everything itself: builds vexlar (Release, in
# build-bench/ unless BUILD is set), installs POV-Ray, Embree, g++, Node.js
# and Python's PIL and numpy with apt-get when they are missing (benchmark
# tools only; nothing that ships depends on them), and makes the big bunny
# meshes with the peers' generator. Then, after one warm-up of everything:
#   * RUNS interleaved rounds of {spheres, bunny} x {1, 2 workers/threads},
#     vexlar and POV-Ray one after the other: wall time, set-up (vexlar's
#     load phase, which parses and builds the trees, against POV-Ray's Parse
#     Time), render (vexlar's render phase against POV-Ray's Trace Time),
#     peak memory; the bunny also with vexlar's mesh cache warm, and with
#     render.accelerator "embree" when the build has it;
#   * the Embree program and vexlar's ray program (bench/raycast.cpp) on
#     exactly the same rays, interleaved, for bunny, bunny_s2 and bunny_s3:
#     mesh build time and primary and lit-facing shadow rays per second;
#   * PSNR of vexlar's pictures against POV-Ray's.
# Medians of the runs (with min-max) and every ratio vexlar / peer are
# printed and saved in $OUT/compare.md.
#
# Environment: PEERS (the peers' folder, default ../shared/peers beside the
# clone, else /work/shared/peers), PEERS_OUT (their outputs, default
# /tmp/vexlar-peers), OUT (this script's, default $PEERS_OUT/vexlar),
# BUILD (vexlar's build folder, default build-bench).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd -P)
RUNS=${1:-5}
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || { echo "compare.sh: RUNS must be a positive integer" >&2; exit 2; }
if [ -z "${PEERS:-}" ]; then
  for p in "$ROOT/../shared/peers" /work/shared/peers; do [ -f "$p/common.sh" ] && { PEERS=$p; break; }; done
fi
[ -f "${PEERS:-}/common.sh" ] || { echo "compare.sh: no peers folder (set PEERS)" >&2; exit 1; }
PEERS=$(cd "$PEERS" && pwd -P)
# The peers' helpers: die, ensure (apt-get installs), ensure_meshes, stage_pov.
# shellcheck source=/dev/null
. "$PEERS/common.sh"
OUT=$(realpath -m -- "${OUT:-$PEERS_OUT/vexlar}")
mkdir -p "$OUT"
BUILD=$(realpath -m -- "${BUILD:-$ROOT/build-bench}")

ensure 'povray:command -v povray' 'bc:command -v bc' 'time:[ -x /usr/bin/time ]' 'python3:command -v python3' \
       'python3-pil python3-numpy:img_python' 'g++:command -v g++' 'libembree-dev:have_embree' \
       'cmake:command -v cmake' 'ninja-build:command -v ninja'
PY=$(img_python)
bash "$ROOT/scripts/install-deps.sh"
stage_pov
"$PEERS/embree/build.sh" >/dev/null

echo "compare.sh: building vexlar (Release) in $BUILD" >&2
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVEXLAR_BUILD_TESTS=OFF "${launcher[@]}" >/dev/null
cmake --build "$BUILD" -j "$(nproc)" --target vexlar vexlar_raycast >/dev/null
VEXLAR=$BUILD/src/host/vexlar
RAYCAST=$BUILD/bench/vexlar_raycast

# vexlar's scenes next to the generated mesh.
WORK=$OUT/scenes
mkdir -p "$WORK"
cp -f "$ROOT"/scenes/bench/*.json "$WORK/"
ln -sf "$PEERS_OUT/data/bunny_s3.obj" "$WORK/bunny_s3.obj"
CACHE=$OUT/mesh-cache
EMBREE=no
# A build without Embree refuses the setting.
"$VEXLAR" -q --size 8x6 --set render.accelerator=embree -o "$OUT/embree-probe.png" 2>/dev/null && EMBREE=yes

CSV=$OUT/runs.csv
echo "who,scene,threads,run,wall_s,setup_s,render_s,rss_kb" >"$CSV"
secs() { (grep -m1 "$1" "$2" || echo '(0 seconds)') | sed -n 's/.*(\([0-9.]*\) seconds).*/\1/p'; }

pov_run() {  # scene threads tag
  local log=$OUT/pov_$1_$2.txt t0 t1
  t0=$(date +%s.%N)
  (cd "$PEERS_OUT/pov" && /usr/bin/time -f 'RSS_KB %M' povray +I"$1".pov +O"$OUT/pov_$1.png" +W640 +H480 -A +FN \
      Display=off File_Gamma=1.0 Verbose=on +WT"$2") >/dev/null 2>"$log" || true
  t1=$(date +%s.%N)
  tr '\r' '\n' <"$log" >"$log.n"
  grep -q 'POV-Ray finished' "$log.n" || { tail -5 "$log.n" >&2; die "povray failed on $1"; }
  echo "povray,$1,$2,$3,$(echo "$t1 - $t0" | bc -l),$(secs 'Parse Time:' "$log.n"),$(secs 'Trace Time:' "$log.n"),$(awk '/^RSS_KB/ {print $2}' "$log.n")" >>"$CSV"
}

vexlar_run() {  # who scene threads tag [extra options...]
  local who=$1 scene=$2 wt=$3 tag=$4 log t0 t1
  shift 4
  log=$OUT/${who}_${scene}_$wt.txt
  t0=$(date +%s.%N)
  /usr/bin/time -f 'RSS_KB %M' "$VEXLAR" -j "$wt" --stats -q "$@" -o "$OUT/${who}_$scene.png" \
      "$WORK/$scene.json" >"$log" 2>&1 || { tail -5 "$log" >&2; die "vexlar failed on $scene"; }
  t1=$(date +%s.%N)
  local load render
  load=$(awk '$1 == "load" {print $2}' "$log"); render=$(awk '$1 == "render" {print $2}' "$log")
  echo "$who,$scene,$wt,$tag,$(echo "$t1 - $t0" | bc -l),$load,$render,$(awk '/^RSS_KB/ {print $2}' "$log")" >>"$CSV"
}

one_round() {  # tag
  for scene in spheres bunny; do
    for wt in 1 2; do
      pov_run "$scene" "$wt" "$1"
      vexlar_run vexlar "$scene" "$wt" "$1" --mesh-cache off
    done
  done
  # Mesh cache: the first run of a round fills it, the second reads it.
  rm -rf "$CACHE"
  vexlar_run vexlar-cache-first bunny 1 "$1" --mesh-cache "$CACHE"
  vexlar_run vexlar-cache-warm bunny 1 "$1" --mesh-cache "$CACHE"
  if [ "$EMBREE" = yes ]; then
    for wt in 1 2; do vexlar_run vexlar-embree bunny "$wt" "$1" --mesh-cache off --set render.accelerator=embree; done
  fi
}

echo "compare.sh: warm-up, then $RUNS interleaved rounds" >&2
one_round warmup
sed -i '/,warmup,/d' "$CSV"
for r in $(seq 1 "$RUNS"); do echo "compare.sh: round $r of $RUNS" >&2; one_round "$r"; done

# Rays: the Embree program and vexlar's on the same rays, interleaved.
RAYS=$OUT/rays
mkdir -p "$RAYS"
: >"$RAYS/all.txt"
for r in $(seq 1 "$RUNS"); do
  for m in bunny bunny_s2 bunny_s3; do
    if [ $m = bunny ]; then obj=$PEERS/data/bunny.obj; else obj=$PEERS_OUT/data/$m.obj; fi
    "$PEERS_OUT/embree/raycast" "$obj" --reps 1 --threads 1 | sed "s/^/embree $m /" >>"$RAYS/all.txt"
    "$RAYCAST" "$obj" --reps 1 | sed "s/^/vexlar $m /" >>"$RAYS/all.txt"
  done
done

"$PY" - "$CSV" "$RAYS/all.txt" "$OUT" "$RUNS" "$(povray --version 2>&1 | grep -m1 POV-Ray || true)" <<'EOF' | tee "$OUT/compare.md"
import csv, math, os, re, statistics, sys
import numpy as np
from PIL import Image
csvp, rays, out, runs, povver = sys.argv[1:6]
rows = list(csv.DictReader(open(csvp)))
def vals(who, scene, wt, col):
    return [float(r[col]) for r in rows if r['who'] == who and r['scene'] == scene and r['threads'] == str(wt) and r[col]]
def med(v): return statistics.median(v) if v else float('nan')
def fmt(v, d=3): return f"{med(v):.{d}f} [{min(v):.{d}f}-{max(v):.{d}f}]" if v else "n/a"
def spread(v): return (max(v) - min(v)) / med(v) * 100 if v and med(v) else float('nan')
print(f"### vexlar against POV-Ray ({povver}; medians [min-max] of {runs} interleaved runs; {os.cpu_count()} cores)\n")
print("| scene | threads | figure | vexlar | POV-Ray | vexlar / POV-Ray | spread of the runs (vexlar / POV) |")
print("|---|---|---|---|---|---|---|")
for scene in ('spheres', 'bunny'):
    for wt in (1, 2):
        for col, name, div in (('wall_s', 'wall s', 1), ('setup_s', 'set-up s (load+trees / Parse)', 1),
                               ('render_s', 'render s (render / Trace)', 1), ('rss_kb', 'peak memory MiB', 1024)):
            v = [x / div for x in vals('vexlar', scene, wt, col)]
            p = [x / div for x in vals('povray', scene, wt, col)]
            print(f"| {scene} | {wt} | {name} | {fmt(v)} | {fmt(p)} | {med(v) / med(p):.2f} | {spread(v):.0f}% / {spread(p):.0f}% |")
pparse = med(vals('povray', 'bunny', 1, 'setup_s'))
ptrace = {wt: med(vals('povray', 'bunny', wt, 'render_s')) for wt in (1, 2)}
for who, label in (('vexlar-cache-first', 'mesh cache, first run'), ('vexlar-cache-warm', 'mesh cache, second run')):
    v = vals(who, 'bunny', 1, 'setup_s')
    if v: print(f"| bunny | 1 | set-up s, {label} | {fmt(v)} | {pparse:.3f} | {med(v) / pparse:.2f} | {spread(v):.0f}% |")
for wt in (1, 2):
    v = vals('vexlar-embree', 'bunny', wt, 'render_s')
    s = vals('vexlar-embree', 'bunny', wt, 'setup_s')
    if v:
        print(f"| bunny | {wt} | render s, accelerator embree | {fmt(v)} | {ptrace[wt]:.3f} | {med(v) / ptrace[wt]:.2f} | {spread(v):.0f}% |")
        print(f"| bunny | {wt} | set-up s, accelerator embree | {fmt(s)} | {pparse:.3f} | {med(s) / pparse:.2f} | {spread(s):.0f}% |")

def load(p): return np.asarray(Image.open(p).convert('RGB'), dtype=np.float64)
print("\n### Pictures\n")
print("| picture | PSNR against POV-Ray dB | pixels off by > 4/255 |")
print("|---|---|---|")
for who, scene in (('vexlar', 'spheres'), ('vexlar', 'bunny'), ('vexlar-embree', 'bunny')):
    a, b = os.path.join(out, f'{who}_{scene}.png'), os.path.join(out, f'pov_{scene}.png')
    if not (os.path.exists(a) and os.path.exists(b)): continue
    x, y = load(a), load(b)
    mse = ((x - y) ** 2).mean()
    off = (np.abs(x.mean(2) - y.mean(2)) > 4).mean() * 100
    psnr = float('inf') if mse == 0 else 10 * math.log10(255 ** 2 / mse)
    print(f"| {who} {scene} | {psnr:.1f} | {off:.2f} % |")
if os.path.exists(os.path.join(out, 'vexlar-embree_bunny.png')):
    x, y = load(os.path.join(out, 'vexlar_bunny.png')), load(os.path.join(out, 'vexlar-embree_bunny.png'))
    off = (np.abs(x.mean(2) - y.mean(2)) > 4).mean() * 100
    print(f"| embree accelerator against the exact path | | {off:.3f} % |")

pat = re.compile(r'^(\S+) (\S+) (build \[ms\]|primary \[Mrays/s\]|shadow lit-facing \[Mrays/s\])\s+median\s+(\S+)')
r = {}
for line in open(rays):
    m = pat.match(line)
    if m: r.setdefault((m.group(1), m.group(2), m.group(3)), []).append(float(m.group(4)))
print(f"\n### Rays: vexlar's meshes and object tree against the Embree program, one thread ({runs} interleaved runs, medians [min-max])\n")
print("| mesh | figure | vexlar | Embree | vexlar / Embree |")
print("|---|---|---|---|---|")
for mesh in ('bunny', 'bunny_s2', 'bunny_s3'):
    for key in ('build [ms]', 'primary [Mrays/s]', 'shadow lit-facing [Mrays/s]'):
        v, e = r.get(('vexlar', mesh, key), []), r.get(('embree', mesh, key), [])
        if v and e: print(f"| {mesh} | {key} | {fmt(v, 2)} | {fmt(e, 2)} | {med(v) / med(e):.2f} |")
EOF
echo "compare.sh: outputs in $OUT (compare.md, runs.csv, pictures, logs)" >&2
