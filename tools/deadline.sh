# shellcheck shell=bash
# Waiting for a job under Wine with a deadline. A hang leaves its evidence behind:
# every thread's backtrace of the prefix's processes that may be the stuck ones.

# watch_job PID PATTERN LATE: waits for the background job PID, calling the function
# LATE with the seconds since the call every 0.2 s. LATE fails while the job is on
# time; once it prints why the job is late, the backtraces of the processes whose
# executable names match PATTERN (an extended regular expression) follow, and LATE's
# status decides: 0 ends the job (watch_job returns 124), 2 lets it run on (another
# deadline, such as CTest's, ends it). Otherwise watch_job returns the job's status.
watch_job() {
  local job=$1 pattern=$2 late=$3 start=$SECONDS verdict
  while kill -0 "$job" 2>/dev/null; do
    verdict=0; "$late" $((SECONDS - start)) || verdict=$?
    if [ "$verdict" != 1 ]; then
      "$(dirname "${BASH_SOURCE[0]}")/wine-backtraces" "$pattern" 2>&1
      [ "$verdict" = 0 ] && { kill "$job" 2>/dev/null; return 124; }
    fi
    sleep 0.2
  done
  wait "$job"
}
