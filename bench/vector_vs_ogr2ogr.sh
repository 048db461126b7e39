#!/bin/bash
# Reading and writing a GeoPackage of 100,000 polygons of 50 vertices, end to end as fresh
# processes, side by side with GDAL's own ogr2ogr on the same file:
#  - read:  vellumar-calc -p layer.gpkg 1        against ogr2ogr -f GeoJSON /vsistdout/
#  - write: vellumar-calc -p layer.gpkg -o out.gpkg P1   against ogr2ogr -f GPKG out.gpkg
# Both writes read the layer first. Prints the median time of RUNS runs and the largest peak
# memory of each, and the ratios.
#
#   bench/vector_vs_ogr2ogr.sh BUILD/bin/vellumar-calc [RUNS] [POLYGONS]
#
# Needs ogr2ogr and python3 with GDAL's bindings (Debian: gdal-bin, python3-gdal).
set -eu
calc=$(realpath "$1")
runs=${2:-5}
polygons=${3:-100000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 - "$work/layer.gpkg" "$polygons" <<'PY'
import math, sys
from osgeo import ogr, osr
n = int(sys.argv[2])
side = int(math.ceil(math.sqrt(n)))
srs = osr.SpatialReference()
srs.ImportFromEPSG(32632)
ds = ogr.GetDriverByName("GPKG").CreateDataSource(sys.argv[1])
layer = ds.CreateLayer("districts", srs, ogr.wkbPolygon)
layer.CreateField(ogr.FieldDefn("name", ogr.OFTString))
layer.CreateField(ogr.FieldDefn("pop", ogr.OFTReal))
layer.StartTransaction()
for k in range(n):
    cx, cy = 500000 + 100 * (k % side), 4000000 + 100 * (k // side)
    ring = ogr.Geometry(ogr.wkbLinearRing)
    for i in range(50):
        a = -2 * math.pi * i / 49 if i < 49 else 0.0
        r = 40 + 5 * math.sin(7 * a + k)
        ring.AddPoint_2D(cx + r * math.cos(a), cy + r * math.sin(a))
    polygon = ogr.Geometry(ogr.wkbPolygon)
    polygon.AddGeometry(ring)
    feature = ogr.Feature(layer.GetLayerDefn())
    feature.SetField("name", f"district {k}")
    feature.SetField("pop", k * 1.5)
    feature.SetGeometry(polygon)
    layer.CreateFeature(feature)
layer.CommitTransaction()
ds = None
PY

median_of() { sort -n | sed -n "$(((runs + 1) / 2))p"; }

# measure NAME COMMAND...: prints a line and leaves the median time in $median.
measure() {
  local name=$1
  shift
  local times=() peak=0
  for _ in $(seq "$runs"); do
    rm -f "$work/out.gpkg"
    /usr/bin/time -o "$work/time" -f '%e %M' "$@" > /dev/null 2> "$work/err" ||
      { cat "$work/err"; exit 1; }
    read -r t m < "$work/time"
    times+=("$t")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  median=$(printf '%s\n' "${times[@]}" | median_of)
  printf '%-34s median %6.2f s  peak %5d MB  (%s)\n' "$name" "$median" "$((peak / 1024))" "${times[*]}"
}

measure "vellumar-calc -p layer.gpkg 1" "$calc" -p "$work/layer.gpkg" 1
ours=$median
measure "ogr2ogr -f GeoJSON /vsistdout/" ogr2ogr -f GeoJSON /vsistdout/ "$work/layer.gpkg"
echo "read ratio: $(echo "$ours / $median" | bc -l | cut -c1-4)"
measure "vellumar-calc -o out.gpkg P1" "$calc" -p "$work/layer.gpkg" -o "$work/out.gpkg" P1
ours=$median
measure "ogr2ogr -f GPKG out.gpkg" ogr2ogr -f GPKG "$work/out.gpkg" "$work/layer.gpkg"
echo "write ratio: $(echo "$ours / $median" | bc -l | cut -c1-4)"
