#!/bin/bash
# Runs vellumar-calc on jobs too large for a memory limit and reports, per job, its exit status,
# whether the kernel killed it, its peak memory and its last line on standard error. Every job
# must end with the out-of-memory message and status 1 (3 for a save), never a kill.
#
#   bench/memory_cases.sh BUILD/bin/vellumar-calc FOLDER
#
# FOLDER holds rings.pol and rings2.pol (layers of 10^6 small squares), circle.pol (one ring of
# 10^6 vertices), dem.grd (a 403 x 344 DEM of values 236 to 1076) and pts.dat (200,000 points).
# The cgroup limits need root and cgroup v1 or v2 with the memory controller.
set -u
calc=$(realpath "$1")
folder=$(realpath "$2")
cd "$folder" || exit 2

cgroup_root=""
if [ -f /sys/fs/cgroup/cgroup.controllers ]; then
  cgroup_root=/sys/fs/cgroup
  version=2
elif [ -d /sys/fs/cgroup/memory ]; then
  cgroup_root=/sys/fs/cgroup/memory
  version=1
fi

# Runs "$@" in a new memory cgroup of $1 bytes.
in_cgroup() {
  local limit=$1
  shift
  local group="$cgroup_root/vellumar-memory-$$"
  mkdir -p "$group"
  if [ "$version" = 2 ]; then
    echo "$limit" > "$group/memory.max"
    echo 0 > "$group/memory.swap.max" 2>/dev/null
  else
    echo "$limit" > "$group/memory.limit_in_bytes"
    echo "$limit" > "$group/memory.memsw.limit_in_bytes" 2>/dev/null
  fi
  bash -c "echo \$\$ > $group/cgroup.procs; exec \"\$@\"" run "$@"
  local status=$?
  rmdir "$group" 2>/dev/null
  return $status
}

report() {
  local name=$1 status=$2 peak=$3 err=$4
  local verdict=ok
  [ "$status" -ge 128 ] && verdict=KILLED
  printf '%-34s status %3d  peak %6d MB  %s  %s\n' "$name" "$status" "$((peak / 1024))" "$verdict" \
    "$(tail -n 1 "$err")"
}

# case NAME LIMIT_KIND LIMIT ARGS...: LIMIT_KIND is cgroup, ulimit or env.
case_run() {
  local name=$1 kind=$2 limit=$3
  shift 3
  local err=/tmp/vellumar-memory-err.$$ time=/tmp/vellumar-memory-time.$$
  case $kind in
    cgroup) in_cgroup "$limit" /usr/bin/time -o "$time" -f %M "$calc" "$@" > /dev/null 2> "$err" ;;
    ulimit) (ulimit -v "$limit"; /usr/bin/time -o "$time" -f %M "$calc" "$@" > /dev/null 2> "$err") ;;
    env) VELLUMAR_MEMORY_LIMIT=$limit /usr/bin/time -o "$time" -f %M "$calc" "$@" > /dev/null 2> "$err" ;;
  esac
  local status=$?
  local peak
  peak=$(grep -Eo '^[0-9]+$' "$time" | tail -n 1)
  report "$name" "$status" "${peak:-0}" "$err"
  rm -f "$err" "$time" out.shp out.shx out.dbf
}

mb=$((1 << 20))
case_run "Area(P1), 10^6 rings, 400 MB" cgroup $((400 * mb)) -p rings.pol 'Area(P1)'
case_run "P1+P2, 10^6 rings each, 400 MB" cgroup $((400 * mb)) -p rings.pol -p rings2.pol 'Area(P1+P2)'
case_run "In_P, 200,000 points, 400 MB" cgroup $((400 * mb)) -d pts.dat -p rings.pol 'Sum(In_P(D1_3, P1))'
case_run ".shp save of 10^6 rings, 400 MB" cgroup $((400 * mb)) -p rings.pol -o out.shp 'P1'
case_run "Trace step 0.01 on the DEM, 400 MB" cgroup $((400 * mb)) -g dem.grd 'Area(Trace(G1, 236, 1076, 0.01, 1))'
case_run "P1*P1 circle in m, 1 GB" cgroup $((1024 * mb)) --meters -p circle.pol 'Area(P1*P1)'
case_run "P1*P1 circle, ulimit -v 1 GB" ulimit 1000000 -p circle.pol 'Area(P1*P1)'
case_run "P1+P2 rings, VELLUMAR_MEMORY_LIMIT=200M" env 200M -p rings.pol -p rings2.pol 'Area(P1+P2)'
