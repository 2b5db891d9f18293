#!/usr/bin/env bash
# The fleet benchmark: the application (offscreen) in one network namespace,
# simulated players in another, joined by a veth pair; one playlist of the
# whole content set sent to all of them. Reference, in the same run: the
# same downloads by one curl client in sequence over the same link.
#   bench/fleet_bench.sh [PLAYERS [CONTENT_MB]]   (default 1000 players, 200 MB)
set -euo pipefail
cd "$(dirname "$0")/.."
players="${1:-1000}"; content_mb="${2:-200}"
[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)"; exit 1; }
bash scripts/install-deps.sh >/dev/null
cmake --preset default >/dev/null
cmake --build build --target fleet_driver tavri_player_sim http_serve >/dev/null
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

out=$(mktemp -d /tmp/tavri-fleet-bench.XXXXXX)
a="tavri_fb_a_$$"; b="tavri_fb_b_$$"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  ip netns del "$a" 2>/dev/null || true; ip netns del "$b" 2>/dev/null || true
  rm -rf "$out"
}
trap cleanup EXIT
. tests/netns/veth_pair.sh
make_veth_pair "$a" "$b" || { echo "$veth_failure"; exit 1; }

# The content set: four movies' worth of incompressible bytes.
content="$out/content"; mkdir -p "$content"
part=$((content_mb / 4))
for name in "Lobby Loop.mp4" "Foyer.mov" "Bar Night.mp4" "Menu.m4v"; do
  head -c "${part}M" /dev/urandom >"$content/$name"
done

ip netns exec "$b" build/src/tavri_player_sim --players "$players" --target 192.0.2.1 --bind 192.0.2.2 \
  --workers 16 --report "$out/report.json" --quiet 2>/dev/null &
fleet=$!; pids+=("$fleet")
ip netns exec "$b" build/src/tavri_player_sim --players 1 --prefix LONE --target 192.0.2.1 --bind 192.0.2.2 \
  --quiet 2>/dev/null &
pids+=("$!")
start=$(date +%s.%N)
TAVRI_FLEET_BENCH=1 ip netns exec "$a" env QT_QPA_PLATFORM=offscreen build/tests/fleet_driver "$content" \
  "$out/home" "$players" 0 >"$out/driver.out" 2>/dev/null || true
kill -TERM "$fleet"; wait "$fleet" || true
grep -E "^(ok|FAILED)" "$out/driver.out" | sed 's/^/  /'
read -r ready rss < <(sed -n 's/^BENCH ready_seconds=\([0-9.-]*\) peak_rss_kb=\([0-9]*\).*/\1 \2/p' "$out/driver.out")

# The reference: one client, every download of the fleet in sequence, is
# too long to run; one player's share is fetched three times and scaled.
# The same server classes serve the folder (the application has quit).
ip netns exec "$a" build/bench/http_serve "$content" 5003 >/dev/null 2>&1 &
pids+=("$!")
for _ in $(seq 1 50); do ip netns exec "$b" curl -s -o /dev/null http://192.0.2.1:5003/ && break; sleep 0.1; done
ref_start=$(date +%s.%N)
for round in 1 2 3; do
  for f in "$content"/*; do
    name=$(basename "$f")
    ip netns exec "$b" curl -sf -o /dev/null "http://192.0.2.1:5003/$(python3 -c 'import sys,urllib.parse;print(urllib.parse.quote(sys.argv[1]))' "$name")"
  done
done
ref_end=$(date +%s.%N)
python3 - "$out/report.json" "$ready" "$rss" "$ref_start" "$ref_end" "$players" "$content_mb" <<'PY'
import json, sys
report, ready, rss, r0, r1, players, mb = sys.argv[1], float(sys.argv[2] or -1), int(sys.argv[3] or 0), float(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7])
r = json.load(open(report))
retried = sum(1 for p in r["players"] if p["retries"] > 0)
ready_n = sum(1 for p in r["players"] if p["status_device"] == 2)
total = r["bytes"]
per_round = (r1 - r0) / 3.0
ref = per_round * players  # one client, every player's share in sequence
print("%-52s %14s" % ("figure", "value"))
print("%-52s %14d" % ("players ready", ready_n))
print("%-52s %14.1f" % ("time from the send until every player is ready, s", ready))
print("%-52s %14.1f" % ("reference: the same downloads by one curl in turn, s", ref))
print("%-52s %14.2f" % ("ratio (goal: at most 1.5)", ready / ref if ref > 0 and ready > 0 else float("nan")))
print("%-52s %14.0f" % ("total HTTP throughput, MB/s", total / 1e6 / ready if ready > 0 else 0))
print("%-52s %14.0f" % ("reference throughput (one curl), MB/s", mb * 1.048576 / per_round))
print("%-52s %14d" % ("server's peak resident memory, MB", rss // 1024))
print("%-52s %14d" % ("players that needed a retry", retried))
PY
