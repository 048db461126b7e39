#!/bin/bash
# The intersection of a ring of 10^6 vertices with itself, end to end as fresh processes:
# vellumar-calc 'Area(P1*P1)' (in km, and in m, whose tolerance of 1 takes in hundreds of
# vertices per vertex) against shapely on the same GEOS. Prints the median time of RUNS runs and
# the largest peak memory of each.
#
#   bench/overlay_vs_shapely.sh BUILD/bin/vellumar-calc [RUNS]
#
# Needs python3 with shapely and numpy (Debian: python3-shapely, python3-numpy).
set -eu
calc=$(realpath "$1")
runs=${2:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work/circle.pol" <<'PY'
import math, sys
n = 1000000
with open(sys.argv[1], "w") as f:
    f.write("1\n")
    for i in range(n + 1):
        a = -2 * math.pi * (i % n) / n
        f.write(f"{1000 * math.cos(a):.12g} {1000 * math.sin(a):.12g}\n")
    f.write("END\nEND\n")
PY
cat > "$work/shapely_overlay.py" <<'PY'
import sys
import numpy as np
from shapely.geometry import Polygon
rows = [l.split() for l in open(sys.argv[1]) if len(l.split()) == 2]
xy = np.array(rows, dtype=float)
p = Polygon(xy)
print(p.intersection(p).area)
PY

source "$(dirname "$0")/timing.sh"
measure() {
  local name=$1
  shift
  local median peak times
  read -r median peak times < <(median_and_peak "$runs" "$work" "$@")
  printf '%-28s median %6.2f s  peak %5d MB  (%s)\n' "$name" "$median" "$((peak / 1024))" "$times"
}

measure "vellumar-calc, km" "$calc" -p "$work/circle.pol" 'Area(P1*P1)'
measure "vellumar-calc, m" "$calc" --meters -p "$work/circle.pol" 'Area(P1*P1)'
measure "shapely" /usr/bin/python3 "$work/shapely_overlay.py" "$work/circle.pol"
