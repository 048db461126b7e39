#!/bin/bash
# Whole jobs as fresh processes, side by side with the tools geoscientists run for them:
#   - a 2000 x 2000 DSAA grid read and written again, against gdal_translate -of GSAG;
#   - Spec(G1, 3) (the slope) from DSAA to DSAA, against gdaldem slope;
#   - 45 levels of isolines of that grid traced to a shapefile, against gdal_contour;
#   - x = P1 * P2; y = P1 + P2; z = P1 - P2 on two 10,000-vertex stars with 6 % radial noise,
#     against shapely (the same GEOS) computing the three overlays.
# Prints, per job, the median wall time of RUNS runs of each side, their ratio, and the largest
# peak resident memory of each side.
#
#   bench/grids_vs_gdal.sh BUILD/bin/vellumar-calc [RUNS] [THREADS]
#
# THREADS, when given, caps vellumar-calc's threads (--threads). Needs gdal-bin and python3 with
# shapely and numpy (Debian: gdal-bin, python3-shapely, python3-numpy).
set -eu
calc=$(realpath "$1")
runs=${2:-5}
threads=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cap=()
[ -n "$threads" ] && cap=(--threads "$threads")

"$calc" -o "$work/dem.grd" \
  '1000 * Sin(XG(0, 1999, 0, 1999, 1, 1) / 97) * Cos(YG(0, 1999, 0, 1999, 1, 1) / 61)' >/dev/null

/usr/bin/python3 - "$work" <<'PY'
import math, random, sys
folder = sys.argv[1]
def star(n, cx, cy, seed, path):
    rng = random.Random(seed)
    pts = []
    for i in range(n):
        a = -2 * math.pi * i / n  # clockwise, as outer rings are stored
        r = 1000 * (1 + rng.uniform(-0.06, 0.06))
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    pts.append(pts[0])
    with open(path, "w") as f:
        f.write("1\n")
        for x, y in pts:
            f.write(f"{x:.12g} {y:.12g}\n")
        f.write("END\nEND\n")
star(10000, 0, 0, 1, folder + "/a.pol")
star(10000, 150, 80, 2, folder + "/b.pol")
PY
printf '1 1\n' >"$work/a.val"
printf '1 1\n' >"$work/b.val"
cat >"$work/overlays.py" <<'PY'
import sys
from shapely.geometry import Polygon
def ring(path):
    return Polygon([tuple(map(float, l.split())) for l in open(path) if len(l.split()) == 2])
a, b = ring(sys.argv[1]), ring(sys.argv[2])
x, y, z = a.intersection(b), a.union(b), a.difference(b)
print(x.area + y.area + z.area)
PY

source "$(dirname "$0")/timing.sh"
# Every run writes into an empty output folder.
before_run() {
  rm -rf "$work/out" && mkdir "$work/out"
}
# Median wall seconds and largest peak KB of RUNS runs of a command, as "seconds kilobytes".
measure() {
  local median peak
  read -r median peak _ < <(median_and_peak "$runs" "$work" "$@")
  echo "$median $peak"
}

# job NAME OUR COMMAND... -- PEER COMMAND...
job() {
  local name=$1 ours=() theirs=()
  shift
  while [ "$1" != "--" ]; do
    ours+=("$1")
    shift
  done
  shift
  theirs=("$@")
  read -r t1 m1 <<<"$(measure "${ours[@]}")"
  read -r t2 m2 <<<"$(measure "${theirs[@]}")"
  printf '%-26s vellumar %6.2f s %7d KB   peer %6.2f s %7d KB   ratio %.2f\n' \
    "$name" "$t1" "$m1" "$t2" "$m2" "$(echo "$t1 / $t2" | bc -l)"
}

d=$work/dem.grd
o=$work/out
job "DSAA read + write" "$calc" "${cap[@]}" -g "$d" -o "$o/copy.grd" G1 \
  -- gdal_translate -q -of GSAG "$d" "$o/copy.grd"
job "Spec(G1, 3) DSAA to DSAA" "$calc" "${cap[@]}" -g "$d" -o "$o/slope.grd" 'Spec(G1, 3)' \
  -- gdaldem slope -q -of GSAG "$d" "$o/slope.grd"
job "Trace 45 levels to .shp" "$calc" "${cap[@]}" -g "$d" -o "$o/iso.shp" \
  'Trace(G1, -990, 990, 45, 1)' -- gdal_contour -q -a level -i 45 "$d" "$o/iso.shp"
job "three overlays of stars" "$calc" "${cap[@]}" -p "$work/a.pol" -p "$work/b.pol" \
  'x = P1 * P2; y = P1 + P2; z = P1 - P2' \
  -- /usr/bin/python3 "$work/overlays.py" "$work/a.pol" "$work/b.pol"
