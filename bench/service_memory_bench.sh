#!/usr/bin/env bash
# Resident memory (and PSS) of the daemon, tavri-av-serverd, against the
# window's binary run with --headless, in the same run and on the same
# load: at rest, with 500 simulated players' feedback, then 500 clients
# downloading a 100 MB movie at once. Reference, in the same run: nginx
# serving the same downloads.
# Each server runs in one network namespace, the players and wrk in
# another, joined by a veth pair.
#   bench/service_memory_bench.sh [PLAYERS [DOWNLOAD_SECONDS]]   (500, 20)
#   TAVRI_BENCH_AS_BUILT=1 runs what build/ holds, without building.
set -euo pipefail
cd "$(dirname "$0")/.."
players="${1:-500}"; seconds="${2:-20}"
[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)"; exit 1; }
if [ -z "${TAVRI_BENCH_AS_BUILT:-}" ]; then
  bash scripts/install-deps.sh >/dev/null
  missing=()
  for p in nginx-light wrk; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
  cmake --preset default >/dev/null
  cmake --build build --target tavri-av-serverd tavri_av_server tavri_player_sim tavri_media_probe >/dev/null
fi
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

out=$(mktemp -d /tmp/tavri-memory-bench.XXXXXX)
chmod 755 "$out"
a="tavri_mb_a_$$"; b="tavri_mb_b_$$"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  [ -f "$out/nginx.pid" ] && kill "$(cat "$out/nginx.pid")" 2>/dev/null || true
  wait 2>/dev/null || true
  ip netns del "$a" 2>/dev/null || true; ip netns del "$b" 2>/dev/null || true
  rm -rf "$out"
}
trap cleanup EXIT
. tests/netns/veth_pair.sh
make_veth_pair "$a" "$b" || { echo "$veth_failure"; exit 1; }

content="$out/content"; mkdir -p "$content"
head -c 100M /dev/urandom >"$content/movie.mp4"
chmod -R a+rX "$content"

. bench/rss.sh
wait_for_port() {  # port
  for _ in $(seq 1 100); do
    ip netns exec "$a" bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on $1"; return 1
}
# 500 downloads of the movie at once, from the players' side; prints MB/s.
downloads() {  # port
  ip netns exec "$b" wrk -t2 -c500 -d"${seconds}s" --timeout 60s "http://192.0.2.1:$1/movie.mp4" 2>&1 |
    awk '/Transfer\/sec/ {v=$2; u=substr(v, length(v)-1); n=substr(v, 1, length(v)-2);
         if (u=="GB") n*=1024; else if (u=="KB") n/=1024; printf "%.0f\n", n}'
}

# One server under the load: prints "rest_kb rest_pss players_kb players_pss peak_kb MB/s".
measure() {  # daemon|headless
  local home="$out/home-$1"
  mkdir -p "$home/Documents" "$home/.config/tavri_av_server"
  printf '[content]\nfolder=%s\n[api]\nenabled=true\ntoken_file=%s/api_token\n' "$content" "$home" \
    >"$home/.config/tavri_av_server/server.conf"
  local run=(env HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
             XDG_DOCUMENTS_DIR="$home/Documents")
  if [ "$1" = headless ]; then
    ip netns exec "$a" "${run[@]}" build/src/tavri_av_server --headless >"$out/$1.log" 2>&1 &
  else
    ip netns exec "$a" "${run[@]}" build/src/tavri-av-serverd >"$out/$1.log" 2>&1 &
  fi
  local launcher=$! app
  pids+=("$launcher")
  wait_for_port 5003
  app=$(pgrep -n -f "^build/src/tavri(_av_server|-av-serverd)")
  sleep 3
  local rest rest_pss; rest=$(rss_kb "$app"); rest_pss=$(pss_kb "$app")
  ip netns exec "$b" build/src/tavri_player_sim --players "$players" --target 192.0.2.1 --bind 192.0.2.2 \
    --duration $((seconds + 25)) --quiet >/dev/null 2>&1 &
  local sim=$!
  pids+=("$sim")
  sleep 15  # every player heard, the registry saved
  local heard heard_pss; heard=$(rss_kb "$app"); heard_pss=$(pss_kb "$app")
  downloads 5003 >"$out/rate" &
  local wrk=$! peak
  peak=$(peak_kb_while "$wrk" "$app")
  wait "$wrk" || true
  kill -TERM "$app" 2>/dev/null || true
  wait "$launcher" 2>/dev/null || true
  kill "$sim" 2>/dev/null || true
  wait "$sim" 2>/dev/null || true
  echo "$rest $rest_pss $heard $heard_pss $peak $(cat "$out/rate")"
}

read -r d_rest d_rest_pss d_players d_players_pss d_peak d_rate < <(measure daemon)
read -r h_rest h_rest_pss h_players h_players_pss h_peak h_rate < <(measure headless)

cat >"$out/nginx.conf" <<NGINX
worker_processes 1;
worker_rlimit_nofile 16384;
user root;
pid $out/nginx.pid;
error_log $out/nginx-error.log;
events { worker_connections 8192; }
http {
  access_log off;
  sendfile on;
  types { video/mp4 mp4; }
  server { listen 192.0.2.1:18004; root $content; }
}
NGINX
ip netns exec "$a" nginx -c "$out/nginx.conf"
sleep 1
n_pids=$(pgrep -f "nginx: (master|worker)" | tr '\n' ' ')
# shellcheck disable=SC2086
n_rest=$(rss_kb $n_pids)
# shellcheck disable=SC2086
n_rest_pss=$(pss_kb $n_pids)
downloads 18004 >"$out/rate" &
wrk=$!
# shellcheck disable=SC2086
n_peak=$(peak_kb_while "$wrk" $n_pids)
wait "$wrk" || true
n_rate=$(cat "$out/rate")

mb() { awk -v k="$1" 'BEGIN {printf "%.1f", k / 1024}'; }
ratio() { awk -v x="$1" -v y="$2" 'BEGIN {if (y > 0) printf "%.2f", x / y; else print "-"}'; }
row() { printf "%-40s %14s %14s %14s %8s\n" "$@"; }
both() { echo "$(mb "$1") ($(mb "$2"))"; }
row "resident memory, MB (PSS)" "daemon" "--headless" "nginx" "d/nginx"
row "at rest" "$(both "$d_rest" "$d_rest_pss")" "$(both "$h_rest" "$h_rest_pss")" "$(both "$n_rest" "$n_rest_pss")" \
  "$(ratio "$d_rest" "$n_rest")"
row "with $players players' feedback" "$(both "$d_players" "$d_players_pss")" "$(both "$h_players" "$h_players_pss")" "-" "-"
row "peak during 500 downloads" "$(mb "$d_peak")" "$(mb "$h_peak")" "$(mb "$n_peak")" "$(ratio "$d_peak" "$n_peak")"
row "download rate, MB/s" "$d_rate" "$h_rate" "$n_rate" "-"
echo "reference: nginx serving the same downloads in the same run; goal: the daemon under 16 MB at rest"
