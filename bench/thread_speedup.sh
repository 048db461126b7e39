#!/bin/bash
# Speed-up of the in-process grid kernels with THREADS threads against one (4000 x 4000 grids):
# the spline solve, Spec(G, 1), resampling onto a 1.5 times finer lattice and G1 + G2. The two
# thread counts take turns, ROUNDS rounds of 3 repetitions each, so that a drift of the machine's
# speed falls on both; prints each kernel's median time per count and their ratio.
#
#   bench/thread_speedup.sh BUILD/bin/grid_bench [ROUNDS] [THREADS]
set -eu
bench=$(realpath "$1")
rounds=${2:-5}
threads=${3:-2}
filter='Spline|Spec1|Dense1_5|AddEqual'
record=$(mktemp)
trap 'rm -f "$record"' EXIT
for _ in $(seq "$rounds"); do
  for t in 1 "$threads"; do
    VELLUMAR_THREADS=$t "$bench" --benchmark_filter="$filter" --benchmark_repetitions=3 \
      --benchmark_format=csv 2>/dev/null |
      awk -F, -v t="$t" '$1 ~ /^"BM_/ && $1 !~ /_(mean|median|stddev|cv)"$/ {
        gsub(/"/, "", $1); print t, $1, $3 }' >>"$record"
  done
done
# Lines "threads kernel real_time", time in the benchmark's unit (ms).
printf "%-30s %11s %11s %8s\n" kernel "1 thread" "$threads threads" ratio
awk -v n="$threads" '
  { times[$2, $1] = times[$2, $1] " " $3; kernels[$2] = 1 }
  function median(list,   a, k, i, j, x) {
    k = split(list, a, " ")
    for (i = 2; i <= k; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
    return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
  }
  END {
    for (k in kernels) {
      one = median(times[k, 1]); many = median(times[k, n])
      printf "%-30s %8.1f ms %8.1f ms %7.2fx\n", k, one, many, one / many
    }
  }' "$record" | sort
