# shellcheck shell=bash
# Sourced by the comparison scripts: best_ms CMD... runs CMD $runs times
# (standard output discarded) and prints the best wall-clock time in ms.
# A command that fails would look fast, so a failure ends the measurement
# with the command's status instead of a time.
best_ms() {
  local best="" count=${runs:?set runs before calling best_ms}
  for _ in $(seq "$count"); do
    local t0 t1 ms
    t0=$(date +%s%N)
    "$@" > /dev/null || {
      local status=$?
      echo "best_ms: exit status $status from: $*" >&2
      return "$status"
    }
    t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}
