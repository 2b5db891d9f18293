# Sourced by the benchmarks: resident memory of processes, from /proc.
# A field of /proc/PID/FILE, summed over pids, in KB.
proc_kb() {  # file field pids...
  local file=$1 field=$2 total=0 kb
  shift 2
  for pid in "$@"; do
    kb=$(awk -v f="$field:" '$1 == f {print $2}' "/proc/$pid/$file" 2>/dev/null || echo 0)
    total=$((total + ${kb:-0}))
  done
  echo "$total"
}
rss_kb() { proc_kb status VmRSS "$@"; }  # pids...: resident memory now
# pids...: proportional set size now (shared pages split among their users)
pss_kb() { proc_kb smaps_rollup Pss "$@"; }

# The highest resident memory (KB) of PIDS while process WATCHED runs.
peak_kb_while() {  # watched pids...
  local watched=$1 peak=0 now
  shift
  while kill -0 "$watched" 2>/dev/null; do
    now=$(rss_kb "$@")
    [ "$now" -gt "$peak" ] && peak=$now
    sleep 0.2
  done
  echo "$peak"
}

