#!/usr/bin/env bash
# The fleet benchmark: the application (offscreen) in one network namespace,
# simulated players in another, joined by a veth pair; one playlist of the
# whole content set sent to all of them. Reference, in the same run: the
# same downloads by one curl client in sequence over the same link.
#   bench/fleet_bench.sh [PLAYERS [CONTENT_MB]]   (default 1000 players, 200 MB)
# Then the player network's figures: datagrams with players in error, the
# time to confirm a playlist on a lossy network, and a flood of invented ids.
# TAVRI_BENCH_NETWORK_ONLY=1 skips the first part; TAVRI_BENCH_AS_BUILT=1
# runs what build/ holds, without building.
set -euo pipefail
cd "$(dirname "$0")/.."
players="${1:-1000}"; content_mb="${2:-200}"
[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)"; exit 1; }
if [ -z "${TAVRI_BENCH_AS_BUILT:-}" ]; then  # set: use build/ as it is
  bash scripts/install-deps.sh >/dev/null
  cmake --preset default >/dev/null
  cmake --build build --target fleet_driver tavri_player_sim http_serve flood_bench >/dev/null
fi
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

if [ -z "${TAVRI_BENCH_NETWORK_ONLY:-}" ]; then
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
read -r again again_bytes first_bytes < <(sed -n 's/^BENCH second_send_seconds=\([0-9.-]*\) second_send_bytes=\([0-9]*\) first_send_bytes=\([0-9]*\).*/\1 \2 \3/p' "$out/driver.out")

# The reference: one client, every download of the fleet in sequence, is
# too long to run; one player's share is fetched three times and scaled.
# The same server classes serve the folder (the application has quit).
ip netns exec "$a" build/bench/http_serve "$content" 5003 >/dev/null 2>&1 &
reference=$!; pids+=("$reference")
for _ in $(seq 1 50); do ip netns exec "$b" curl -s -o /dev/null http://192.0.2.1:5003/ && break; sleep 0.1; done
ref_start=$(date +%s.%N)
for round in 1 2 3; do
  for f in "$content"/*; do
    name=$(basename "$f")
    ip netns exec "$b" curl -sf -o /dev/null "http://192.0.2.1:5003/$(python3 -c 'import sys,urllib.parse;print(urllib.parse.quote(sys.argv[1]))' "$name")"
  done
done
ref_end=$(date +%s.%N)
kill "$reference"; wait "$reference" 2>/dev/null || true  # port 5003 is the application's again
python3 - "$out/report.json" "$ready" "$rss" "$ref_start" "$ref_end" "$players" "$content_mb" "${again:--1}" "${again_bytes:-0}" "${first_bytes:-0}" <<'PY'
import json, sys
report, ready, rss, r0, r1, players, mb = sys.argv[1], float(sys.argv[2] or -1), int(sys.argv[3] or 0), float(sys.argv[4]), float(sys.argv[5]), int(sys.argv[6]), int(sys.argv[7])
again, again_bytes, first_bytes = float(sys.argv[8]), int(sys.argv[9]), int(sys.argv[10])
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
print("%-52s %14.1f" % ("first send: MB the server sent", first_bytes / 1e6))
print("%-52s %14.1f" % ("second send of the same playlist: MB sent", again_bytes / 1e6))
print("%-52s %14.1f" % ("second send: s until every player confirmed it", again))
print("%-52s %14d" % ("media found current (304), not downloaded again", r.get("not_modified", 0)))
PY
fi

# The player network's own figures, on a small content set (one 1 MB file):
# what the server sends and receives with players in error, against the
# same fleet healthy; and how long a lossy network takes until every
# player has confirmed the playlist, against the same fleet without loss.
small="$out/small"; mkdir -p "$small"
head -c 1M /dev/urandom >"$small/Clip.mp4"
head -c 1M /dev/urandom >"$small/Spare.mp4"
udp() { ip netns exec "$a" nstat -az UdpInDatagrams UdpOutDatagrams | awk '/^Udp/ {v[$1]=$2} END {print v["UdpInDatagrams"]+0, v["UdpOutDatagrams"]+0}'; }
# run PLAYERS LOSS BROKEN: the driver's "BENCH" lines; with HOLD, datagrams per second in and out while held.
run() {
  local n="$1" loss="$2" broken="$3" hold="${4:-0}"
  rm -rf "$out/h2"; cp -r "$small" "$out/c2"
  ip netns exec "$b" build/src/tavri_player_sim --players "$n" --target 192.0.2.1 --bind 192.0.2.2 --loss "$loss" \
    --quiet 2>/dev/null &
  local sim=$!
  ip netns exec "$b" build/src/tavri_player_sim --players 1 --prefix LONE --target 192.0.2.1 --bind 192.0.2.2 \
    --quiet 2>/dev/null &
  local lone=$!
  env TAVRI_FLEET_BENCH=1 ${broken:+TAVRI_FLEET_BROKEN=1} TAVRI_FLEET_HOLD="$hold" ip netns exec "$a" \
    env QT_QPA_PLATFORM=offscreen build/tests/fleet_driver "$out/c2" "$out/h2" "$n" 0 >"$out/run.out" 2>/dev/null &
  local driver=$!
  if [ "$hold" -gt 0 ]; then
    for _ in $(seq 1 1200); do grep -q "BENCH holding" "$out/run.out" && break; sleep 0.1; done
    sleep 2
    read -r in0 out0 < <(udp); sleep 10; read -r in1 out1 < <(udp)
    echo "RATE $(((in1 - in0) / 10)) $(((out1 - out0) / 10))" >>"$out/run.out"
  fi
  wait "$driver" || true
  kill -TERM "$sim" "$lone" 2>/dev/null; wait "$sim" "$lone" 2>/dev/null || true
  rm -rf "$out/c2"
  cat "$out/run.out"
}
echo
printf "%-52s %14s %14s\n" "player network" "in/s" "out/s"
read -r _ hin hout < <(run 10 0 "" 20 | grep "^RATE")
printf "%-52s %14d %14d\n" "10 healthy players (reference)" "$hin" "$hout"
read -r _ ein eout < <(run 10 0 1 20 | grep "^RATE")
printf "%-52s %14d %14d\n" "10 players in error" "$ein" "$eout"
ref=$(run 1000 0 "" | sed -n 's/^BENCH ready_seconds=\([0-9.-]*\).*/\1/p')
lossy=$(run 1000 0.2 "" | sed -n 's/^BENCH ready_seconds=\([0-9.-]*\).*/\1/p')
printf "%-52s %14s\n" "" "seconds"
printf "%-52s %14s\n" "1000 players, no loss: all confirmed (reference)" "$ref"
printf "%-52s %14s\n" "1000 players, 20 % loss both ways: all confirmed" "$lossy"
echo
echo "Invented ids (build/bench/flood_bench):"
build/bench/flood_bench 2>/dev/null | sed 's/^/  /'
