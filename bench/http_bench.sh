#!/usr/bin/env bash
# HTTP benchmark: the content server against nginx (sendfile on), both on
# loopback, both driven by wrk in the same run. Prints each figure for both
# servers and the ratio ours/nginx.
#   bench/http_bench.sh [SECONDS_PER_RUN]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-10}"
ours_port=18003
nginx_port=18004

export DEBIAN_FRONTEND=noninteractive
missing=()
for p in nginx-light wrk; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
cmake --preset default >/dev/null
cmake --build build --target http_serve >/dev/null

work=$(mktemp -d /tmp/tavri-http-bench.XXXXXX)
chmod 755 "$work"
root="$work/root"
mkdir -p "$root"
head -c 4096 /dev/urandom >"$root/small.bin"
head -c 100M /dev/urandom >"$root/movie100.bin"
head -c 1G /dev/zero >"$root/movie1g.bin"
chmod -R a+rX "$root"

cat >"$work/nginx.conf" <<EOF
worker_processes auto;
user root;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 4096; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  keepalive_requests 1000000;
  keepalive_timeout 30;
  types { application/octet-stream bin; }
  server {
    listen 127.0.0.1:$nginx_port;
    root $root;
  }
}
EOF

cleanup() {
  [ -n "${ours_pid:-}" ] && kill "$ours_pid" 2>/dev/null || true
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  sleep 0.5
  rm -rf "$work"
}
trap cleanup EXIT

start_ours() {  # shared|per-connection THREADS
  [ -n "${ours_pid:-}" ] && { kill "$ours_pid"; wait "$ours_pid" 2>/dev/null || true; }
  build/bench/http_serve "$root" "$ours_port" "$2" "$1" >>"$work/ours.log" 2>&1 &
  ours_pid=$!
  sleep 0.5
}

start_ours shared 1
nginx -c "$work/nginx.conf"
sleep 1

# Requests/sec and bytes/sec from one wrk run.
run_wrk() {  # connections url
  wrk -t2 -c"$1" -d"${seconds}s" --timeout 30s "$2" 2>&1 | tee -a "$work/wrk.log" | awk '
    /Requests\/sec/ {rps=$2}
    /Transfer\/sec/ {v=$2; u=substr(v, length(v)-1); n=substr(v, 1, length(v)-2);
                     if (u=="GB") n*=1024; else if (u=="KB") n/=1024; else if (u!="MB") n/=1048576; mbps=n}
    END {printf "%s %s\n", rps, mbps}'
}

peak_rss_mb() {  # pids...
  local total=0
  for pid in "$@"; do
    kb=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
    total=$((total + kb))
  done
  echo $((total / 1024))
}

nginx_pids() { pgrep -f "nginx: (master|worker)" | tr '\n' ' '; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }

printf "%-44s %14s %14s %8s\n" "figure (reference: nginx in the same run)" "ours" "nginx" "ratio"

read -r ours_rps _ < <(run_wrk 64 "http://127.0.0.1:$ours_port/small.bin")
read -r nginx_rps _ < <(run_wrk 64 "http://127.0.0.1:$nginx_port/small.bin")
printf "%-44s %14s %14s %8s\n" "4 KB file, 64 keep-alive conns: req/s" "$ours_rps" "$nginx_rps" "$(ratio "$ours_rps" "$nginx_rps")"
start_ours shared 2
read -r ours_rps_2 _ < <(run_wrk 64 "http://127.0.0.1:$ours_port/small.bin")
printf "%-44s %14s %14s %8s\n" "  same, two server threads (variant)" "$ours_rps_2" "$nginx_rps" "$(ratio "$ours_rps_2" "$nginx_rps")"
start_ours per-connection 2
read -r ours_rps_pc _ < <(run_wrk 64 "http://127.0.0.1:$ours_port/small.bin")
printf "%-44s %14s %14s %8s\n" "  same, two threads, queue per connection" "$ours_rps_pc" "$nginx_rps" "$(ratio "$ours_rps_pc" "$nginx_rps")"
start_ours shared 1

read -r _ ours_mb < <(run_wrk 4 "http://127.0.0.1:$ours_port/movie1g.bin")
read -r _ nginx_mb < <(run_wrk 4 "http://127.0.0.1:$nginx_port/movie1g.bin")
printf "%-44s %14s %14s %8s\n" "1 GB file, 4 conns: MB/s" "$ours_mb" "$nginx_mb" "$(ratio "$ours_mb" "$nginx_mb")"

# Fresh processes so that the peak belongs to this run alone.
start_ours shared 1
kill -QUIT "$(cat "$work/nginx.pid")"; sleep 1
nginx -c "$work/nginx.conf"
sleep 1
read -r _ ours_mb500 < <(run_wrk 500 "http://127.0.0.1:$ours_port/movie100.bin")
ours_rss=$(peak_rss_mb "$ours_pid")
read -r _ nginx_mb500 < <(run_wrk 500 "http://127.0.0.1:$nginx_port/movie100.bin")
nginx_rss=$(peak_rss_mb $(nginx_pids))
printf "%-44s %14s %14s %8s\n" "500 conns on a 100 MB file: MB/s" "$ours_mb500" "$nginx_mb500" "$(ratio "$ours_mb500" "$nginx_mb500")"
printf "%-44s %14s %14s %8s\n" "500 conns on a 100 MB file: peak RSS MB" "$ours_rss" "$nginx_rss" "$(ratio "$ours_rss" "$nginx_rss")"
grep -h "Socket errors" "$work/wrk.log" | sed 's/^/wrk: /' || true
