# Sourced by the benchmarks: resident memory of processes, from /proc.
rss_kb() {  # pids...: resident memory now, summed, in KB
  local total=0 kb
  for pid in "$@"; do
    kb=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    total=$((total + ${kb:-0}))
  done
  echo "$total"
}

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

pss_kb() {  # pids...: proportional set size now (shared pages split among their users), summed, in KB
  local total=0 kb
  for pid in "$@"; do
    kb=$(awk '/^Pss:/ {print $2}' "/proc/$pid/smaps_rollup" 2>/dev/null || echo 0)
    total=$((total + ${kb:-0}))
  done
  echo "$total"
}
