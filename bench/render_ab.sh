#!/bin/bash
# Two vexlar builds on one scene, interleaved, for before/after comparisons
# of the render phase on a busy machine:
#
#   bench/render_ab.sh SCENE.json WORKERS ROUNDS VEXLAR_A VEXLAR_B
#
# Each round runs A then B once. Printed per build: the median and minimum
# of the render phase (--stats "render", wall seconds) and of the processor
# time of the whole run with its workers (user + sys, seconds, from GNU
# time). Wall figures suffer most from other load; compare processor time
# when the machine is shared. Pictures go to a scratch folder.
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: $0 SCENE.json WORKERS ROUNDS VEXLAR_A VEXLAR_B" >&2; exit 2; }
scene=$1 workers=$2 rounds=$3
[[ $rounds =~ ^[1-9][0-9]*$ ]] || { echo "render_ab.sh: ROUNDS must be a positive integer" >&2; exit 2; }
[ -x /usr/bin/time ] || { echo "render_ab.sh: needs GNU time (/usr/bin/time)" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for _ in $(seq "$rounds"); do
  for who in A B; do
    bin=$4
    [ $who = B ] && bin=$5
    /usr/bin/time -f 'CPU %U %S' "$bin" -j "$workers" --stats -q --mesh-cache off -o "$tmp/out.png" "$scene" \
      >"$tmp/log" 2>&1 || { tail -5 "$tmp/log" >&2; exit 1; }
    echo "$(awk '$1 == "render" {print $2}' "$tmp/log") $(awk '/^CPU/ {print $2 + $3}' "$tmp/log")" >>"$tmp/$who"
  done
done
stat() { sort -n -k"$2" "$1" | awk -v k="$2" '{v[NR] = $k} END {printf "median %.3f min %.3f", v[int((NR + 1) / 2)], v[1]}'; }
for who in A B; do
  echo "$who: render s $(stat "$tmp/$who" 1); processor s $(stat "$tmp/$who" 2)"
done
