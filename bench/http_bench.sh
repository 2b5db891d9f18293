#!/usr/bin/env bash
# HTTP benchmark: the running application, the bench server (the same
# classes without the application) and nginx (sendfile on, a worker per
# core), all on one loopback inside a private network namespace, all driven
# by wrk in the same run. Prints each figure for the three, and the ratios
# against nginx.
#   bench/http_bench.sh [SECONDS_PER_RUN]   (TAVRI_BENCH_ROUNDS: rounds of the
#   request-rate row, 3 by default; TAVRI_BENCH_ONLY=small: that row alone;
#   TAVRI_BENCH_PERF=file: a CPU profile of the application during its
#   first small-file round)
set -euo pipefail
[ -n "${TAVRI_BENCH_TRACE:-}" ] && set -x
cd "$(dirname "$0")/.."
seconds="${1:-10}"
rounds="${TAVRI_BENCH_ROUNDS:-3}"

if [ -z "${TAVRI_BENCH_INSIDE:-}" ]; then
  export DEBIAN_FRONTEND=noninteractive
  missing=()
  for p in nginx-light wrk iproute2 util-linux; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  cmake --preset default >/dev/null
  cmake --build build --target http_serve idle_clients tavri_av_server >/dev/null
  # The application listens on its fixed ports: only in a namespace of its own.
  exec unshare -n env TAVRI_BENCH_INSIDE=1 bash "$0" "$@"
fi

ip link set lo up
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
app_port=5003
bench_port=18003
nginx_port=18004

work=$(mktemp -d /tmp/tavri-http-bench.XXXXXX)
chmod 755 "$work"
root="$work/root"
mkdir -p "$root"
head -c 4096 /dev/urandom >"$root/small.bin"
head -c 100M /dev/urandom >"$root/movie100.bin"
head -c 1G /dev/zero >"$root/movie1g.bin"
chmod -R a+rX "$root"

cat >"$work/nginx.conf" <<NGINX
worker_processes auto;
worker_rlimit_nofile 16384;
user root;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
events { worker_connections 8192; }
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
NGINX

# The application with a fresh home whose saved content folder is the root.
home="$work/home"
mkdir -p "$home/Documents" "$home/.config" "$home/.local/share"
printf 'file://%s/' "$root" >"$home/Documents/tavri_AV_SERVER_FOLDER.sav"

pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  sleep 1
  rm -rf "$work"
}
trap cleanup EXIT

wait_for_port() {  # port
  for _ in $(seq 1 300); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on port $1" >&2
  return 1
}

start_servers() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; done
  pids=()
  [ -f "$work/nginx.pid" ] && { kill -QUIT "$(cat "$work/nginx.pid")"; sleep 1; }
  HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" \
    XDG_DOCUMENTS_DIR="$home/Documents" QT_QPA_PLATFORM=offscreen \
    build/src/tavri_av_server >>"$work/app.log" 2>&1 &
  app_pid=$!
  build/bench/http_serve "$root" "$bench_port" >>"$work/bench.log" 2>&1 &
  bench_pid=$!
  pids=("$app_pid" "$bench_pid")
  nginx -c "$work/nginx.conf"
  wait_for_port "$app_port"
  wait_for_port "$bench_port"
  wait_for_port "$nginx_port"
  sleep 2  # the application's start-up work settles
}

# Requests/sec and MB/sec from one wrk run.
run_wrk() {  # connections url
  wrk -t2 -c"$1" -d"${seconds}s" --timeout 30s "$2" 2>&1 | tee -a "$work/wrk.log" | awk '
    /Requests\/sec/ {rps=$2}
    /Transfer\/sec/ {v=$2; u=substr(v, length(v)-1); n=substr(v, 1, length(v)-2);
                     if (u=="GB") n*=1024; else if (u=="KB") n/=1024; else if (u!="MB") n/=1048576; mbps=n}
    END {printf "%s %s\n", rps, mbps}'
}

. bench/rss.sh
rss_mb() { echo $(($(rss_kb "$@") / 1024)); }  # pids...: resident memory now, summed
peak_rss_while() { echo $(($(peak_kb_while "$@") / 1024)); }  # watched pids...: the peak while it runs

# Runs wrk while sampling the servers' resident memory; prints "MB/s peak_MB".
run_wrk_sampling() {  # connections url pids...
  local conns=$1 url=$2
  shift 2
  run_wrk "$conns" "$url" >"$work/wrk.out" &
  local wrk_pid=$! peak
  peak=$(peak_rss_while "$wrk_pid" "$@")
  wait "$wrk_pid"
  read -r _ mb <"$work/wrk.out"
  echo "$mb $peak"
}

nginx_pids() { pgrep -f "nginx: (master|worker)" | tr '\n' ' '; }
server_pids() {  # app|bench|nginx
  case $1 in app) echo "$app_pid" ;; bench) echo "$bench_pid" ;; nginx) nginx_pids ;; esac
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
row() {  # label app bench nginx
  printf "%-42s %12s %12s %12s %9s %9s\n" "$1" "$2" "$3" "$4" "$(ratio "$2" "$4")" "$(ratio "$3" "$4")"
}

start_servers
printf "%-42s %12s %12s %12s %9s %9s\n" "figure (reference: nginx, same run)" "application" "bench srv" "nginx" "app/ngx" "bench/ngx"
declare -A rest=([app]=$(rss_mb "$app_pid") [bench]=$(rss_mb "$bench_pid") [nginx]=$(rss_mb $(nginx_pids)))
row "resident at rest, MB" "${rest[app]}" "${rest[bench]}" "${rest[nginx]}"

# The request rate swings with the neighbours on a shared machine: rounds
# take turns, and the median of each server's rounds is shown.
median() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
declare -A rps rps_all mb500 rss500 mb1g
for _ in $(seq 1 "$rounds"); do
  for who in app bench nginx; do
    port_var="${who}_port"
    profiler=
    if [ "$who" = app ] && [ -n "${TAVRI_BENCH_PERF:-}" ] && [ ! -e "$TAVRI_BENCH_PERF" ]; then
      perf record -g -o "$TAVRI_BENCH_PERF" -p "$app_pid" -- sleep "$seconds" >/dev/null 2>&1 &
      profiler=$!
    fi
    read -r r _ < <(run_wrk 64 "http://127.0.0.1:${!port_var}/small.bin")
    [ -n "$profiler" ] && wait "$profiler"
    rps_all[$who]="${rps_all[$who]:-} $r"
  done
done
for who in app bench nginx; do rps[$who]=$(median <<<"${rps_all[$who]}"); done
row "4 KB file, 64 keep-alive conns: req/s" "${rps[app]}" "${rps[bench]}" "${rps[nginx]}"
echo "  (median of $rounds rounds; app:${rps_all[app]}; bench:${rps_all[bench]}; nginx:${rps_all[nginx]})"
[ "${TAVRI_BENCH_ONLY:-}" = small ] && exit 0

for who in app bench nginx; do
  port_var="${who}_port"
  read -r _ mb1g[$who] < <(run_wrk 4 "http://127.0.0.1:${!port_var}/movie1g.bin")
done
row "1 GB file, 4 conns: MB/s" "${mb1g[app]}" "${mb1g[bench]}" "${mb1g[nginx]}"

for who in app bench nginx; do
  port_var="${who}_port"
  read -ra watch <<<"$(server_pids "$who")"
  read -r mb500[$who] rss500[$who] < <(run_wrk_sampling 500 "http://127.0.0.1:${!port_var}/movie100.bin" "${watch[@]}")
done
row "500 downloads of a 100 MB file: MB/s" "${mb500[app]}" "${mb500[bench]}" "${mb500[nginx]}"
row "  resident during them (peak), MB" "${rss500[app]}" "${rss500[bench]}" "${rss500[nginx]}"
row "  of which the downloads (peak - at rest)" "$((rss500[app] - rest[app]))" "$((rss500[bench] - rest[bench]))" \
  "$((rss500[nginx] - rest[nginx]))"

# 500 players that ask for the 100 MB file and then read nothing for 15 s.
declare -A stalled stalled_rss
for who in app bench nginx; do
  port_var="${who}_port"
  read -ra watch <<<"$(server_pids "$who")"
  build/bench/idle_clients "${!port_var}" 500 /small.bin stall 15 /movie100.bin >"$work/stalled.out" &
  clients_pid=$!
  stalled_rss[$who]=$(peak_rss_while "$clients_pid" "${watch[@]}")
  wait "$clients_pid"
  stalled[$who]=$(cat "$work/stalled.out")
done
row "500 clients that stop reading: peak MB" "${stalled_rss[app]}" "${stalled_rss[bench]}" "${stalled_rss[nginx]}"
for who in app bench nginx; do
  printf "%-42s %s\n" "  beside them, $who:" "${stalled[$who]}"
done

# 5000 idle connections (past the 4096 cap), then ordinary requests beside them.
declare -A idle
for who in app bench nginx; do
  port_var="${who}_port"
  idle[$who]=$(build/bench/idle_clients "${!port_var}" 5000 /small.bin)
done
for who in app bench nginx; do
  printf "%-42s %s\n" "5000 idle conns, $who:" "${idle[$who]}"
done
grep -h "Socket errors" "$work/wrk.log" | sed 's/^/wrk: /' || true
grep -h "connection limit\|connections open" "$work/app.log" | head -3 | sed 's/^/application: /' || true
