# Sourced by the benchmark scripts. median_and_peak RUNS FOLDER COMMAND... runs the command RUNS
# times as a fresh process (output discarded) and prints the median wall time in seconds, the
# largest peak resident memory in KB, and every run's time; FOLDER holds /usr/bin/time's record.
# A script that defines the function before_run has it called before every run.
median_and_peak() {
  local runs=$1 folder=$2
  shift 2
  local times=() peak=0 t m
  for _ in $(seq "$runs"); do
    if declare -F before_run >/dev/null; then before_run; fi
    /usr/bin/time -o "$folder/time" -f '%e %M' "$@" >/dev/null 2>&1
    read -r t m <"$folder/time"
    times+=("$t")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -g | sed -n "$(((runs + 1) / 2))p")
  echo "$median $peak ${times[*]}"
}
