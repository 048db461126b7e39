#!/bin/bash
# Tiled evaluation against the whole-grid one, as fresh processes:
#   - a SIDE x SIDE GeoTIFF (default 20,000: 3.2 GB of doubles) with
#     --tiles 2048 'Spec(G1, 1) * 100': wall time, time per node and peak resident memory;
#   - the same expression over a whole 6000 x 6000 grid in memory: time per node, and the ratio;
#   - mpirun -np 2 --oversubscribe --tiles 1024 on the 6000 x 6000 grid against one process,
#     each rank and the one process on one thread (--threads 1), so that the ranks and not the
#     threads share the cores: the speed-up, and the largest difference between the two results
#     (0: the same nodes; the files' blocks may lie in another order, as GDAL's cache wrote them).
# Prints the median of RUNS runs of each. Needs about 2.5 times the big grid's size of free disk
# in the work folder (the input, the result and a temporary file) and about 10 GB of memory to
# make the input (it is made whole, by vellumar-calc).
#
#   bench/tiles_vs_whole.sh BUILD/bin/vellumar-calc [RUNS] [SIDE] [WORK_FOLDER]
set -eu
calc=$(realpath "$1")
runs=${2:-5}
side=${3:-20000}
work=$(mktemp -d "${4:-/tmp}/vellumar-tiles-XXXXXX")
trap 'rm -rf "$work"' EXIT
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1

surface() {
  local n=$(($1 - 1))
  local lattice="(0, $n, 0, $n, 1, 1)"
  echo "x = XG$lattice; y = YG$lattice; Sin(x / 300) * Cos(y / 200) * 100 + x / 10"
}
"$calc" -o "$work/big.tif" "$(surface "$side")" >/dev/null
"$calc" -o "$work/6k.tif" "$(surface 6000)" >/dev/null

source "$(dirname "$0")/timing.sh"
# Median wall time and the largest peak memory (MB) of RUNS runs of the command.
measure() {
  local median peak
  read -r median peak _ < <(median_and_peak "$runs" "$work" "$@")
  echo "$median $((peak / 1024))"
}

text='Spec(G1, 1) * 100'
read -r tiled tiledPeak < <(measure "$calc" --tiles 2048 -g "$work/big.tif" -o "$work/out.tif" "$text")
read -r whole wholePeak < <(measure "$calc" -g "$work/6k.tif" -o "$work/whole.tif" "$text")
awk -v t="$tiled" -v w="$whole" -v s="$side" -v tp="$tiledPeak" -v wp="$wholePeak" 'BEGIN {
  tn = t / (s * s) * 1e9; wn = w / (6000 * 6000) * 1e9
  printf "tiled %d x %d: %.2f s, %.1f ns a node, peak %d MB\n", s, s, t, tn, tp
  printf "whole 6000 x 6000: %.2f s, %.1f ns a node, peak %d MB\n", w, wn, wp
  printf "time per node, tiled / whole: %.2fx (target <= 1.3x; peak target <= 1024 MB)\n", tn / wn
}'

if command -v mpirun >/dev/null; then
  read -r one _ < <(measure "$calc" --threads 1 --tiles 1024 -g "$work/6k.tif" \
    -o "$work/one.tif" "$text")
  read -r two _ < <(measure mpirun --oversubscribe -np 2 "$calc" --threads 1 --tiles 1024 \
    -g "$work/6k.tif" -o "$work/two.tif" "$text")
  # The same with Open MPI's shared-memory transport named, which spares MPI_Init its search for
  # network hardware.
  read -r local _ < <(measure mpirun --oversubscribe -np 2 --mca pml ob1 --mca btl self,vader \
    "$calc" --threads 1 --tiles 1024 -g "$work/6k.tif" -o "$work/two.tif" "$text")
  difference=$("$calc" -g "$work/one.tif" -g "$work/two.tif" 'MAX(Abs(G1 - G2))')
  awk -v a="$one" -v b="$two" -v c="$local" -v d="$difference" 'BEGIN {
    printf "6000 x 6000 by tiles: one process %.2f s, mpirun -np 2 %.2f s: %.2fx (target >= 1.7x), largest difference %s\n",
      a, b, a / b, d
    printf "  with --mca pml ob1 --mca btl self,vader: %.2f s: %.2fx\n", c, a / c }'
fi
