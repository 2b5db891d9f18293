#!/usr/bin/env bash
# Many sites on one broker, as the hub sees them: SITES light sites with
# PLAYERS players each (one process, bench/sites_bench.cpp) on Mosquitto, on
# loopback in a network namespace of its own. Measures the time until
# tavri-avctl sites shows them all, the hub's memory doing so, and a signed
# request to all until every site replied; the reference is the same with
# one site.
#   sudo bench/sites_bench.sh BINARY_FOLDER   (SITES=500 PLAYERS=50 ROUNDS=10)
set -u
if [ "${1:-}" != "--inside" ]; then
  [ "$(id -u)" -eq 0 ] || { echo "needs root (a network namespace of its own)"; exit 1; }
  exec unshare -n bash "$0" --inside "$@"
fi
shift
bin="$(cd "${1:-build/src}" && pwd)"; bench="$(cd "$bin/../bench" && pwd)"
sites=${SITES:-500}; players=${PLAYERS:-50}; rounds=${ROUNDS:-10}
. "$(dirname "$0")/rss.sh"
ip link set lo up
out=$(mktemp -d); trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$out"' EXIT
printf 'listener 18830 127.0.0.1\nset_tcp_nodelay true\nallow_anonymous true\npersistence false\nmax_connections -1\nuser root\n' >"$out/mosquitto.conf"
mosquitto -c "$out/mosquitto.conf" >"$out/mosquitto.log" 2>&1 &
broker=$!
for _ in $(seq 1 50); do (exec 3<>/dev/tcp/127.0.0.1/18830) 2>/dev/null && break; sleep 0.1; done
"$bin/tavri-avctl" hub-key create "$out/hub.key" >"$out/key.txt"
public=$(awk '/^hub_public_key/ {print $3}' "$out/key.txt")
url=mqtt://127.0.0.1:18830
hub() { "$bin/tavri-avctl" --broker $url --hub-key "$out/hub.key" "$@"; }
seen_online() { hub --json sites 2>/dev/null | /usr/bin/python3 -c "import json,sys; print(sum(s['online'] for s in json.load(sys.stdin)['sites']))"; }

run() {  # SITES
  local n=$1 start now
  start=$(date +%s%N)
  local sims=() first
  for ((first = 0; first < n; first += 100)); do
    "$bench/sites_bench" sim $url "$public" $((n - first < 100 ? n - first : 100)) "$players" $first >/dev/null &
    sims+=($!)
  done
  local deadline=$((SECONDS + 300))
  until [ "$(seen_online)" = "$n" ]; do
    [ $SECONDS -lt $deadline ] || { echo "  not all $n sites online after 300 s"; return 1; }
    sleep 0.2
  done
  now=$(date +%s%N)
  echo "$n sites x $players players: the hub shows all online $(( (now - start) / 1000000 )) ms after they started"
  # A cold hub: connect, take every retained state, print the table.
  /usr/bin/time -f "%e %M" -o "$out/time" "$bin/tavri-avctl" --broker $url --hub-key "$out/hub.key" sites >/dev/null
  read -r seconds peak <"$out/time"
  echo "  tavri-avctl sites (cold): ${seconds} s, peak memory $((peak / 1024)) MB"
  "$bench/sites_bench" request $url "$out/hub.key" "$n" "$rounds" | sed 's/^/  /'
  echo "  broker: $(( $(rss_kb $broker) / 1024 )) MB resident; the sites' processes $(( $(rss_kb "${sims[@]}") / 1024 )) MB"
  kill "${sims[@]}"; wait "${sims[@]}" 2>/dev/null
}
echo "reference:"; run 1
echo "measured:"; run "$sites"
