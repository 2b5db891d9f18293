#!/usr/bin/env bash
# Commands to a large fleet on a clean network: the screenless service in
# one network namespace, PLAYERS simulated players (default 5000, each with
# the simulator's default receive buffer) in another, joined by a veth pair
# (nothing leaves this machine). PAUSE goes to all: how many players got it
# at its first send, how many datagrams their receive buffers dropped, and
# the seconds until every player confirmed it (after PLAY to all, so that
# the pause is a change). The reference of the same
# run is the service with its pacing lifted ([players] command_rate=100000).
#   bench/pacing_bench.sh [PLAYERS]
set -uo pipefail
cd "$(dirname "$0")/.."
players="${1:-5000}"
[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)"; exit 1; }
cmake --build build --target tavri_av_server tavri-avctl tavri_player_sim >/dev/null
bin="$PWD/build/src"; here="$PWD/tests/netns"
skip() { echo "SKIPPED: $*"; exit 77; }
. "$here/headless_service.sh"

rcvbuf_errors() { ip netns exec "$b" awk '/^Udp:/ { if (n++) print $6 }' /proc/net/snmp; }

run() {  # label rate
  start_headless_service pace
  [ "$2" != default ] && {
    kill "${pids[0]}"; wait "${pids[0]}" 2>/dev/null
    printf '[players]\ncommand_rate=%s\n' "$2" >>"$out/server.conf"
    ip netns exec "$a" env -u DISPLAY HOME="$state" XDG_DATA_HOME="$state" XDG_CONFIG_HOME="$state/config" \
      XDG_DOCUMENTS_DIR="$state/Documents" "$bin/tavri_av_server" --headless --config "$out/server.conf" \
      >"$out/server.log" 2>&1 &
    pids=($!)
    for _ in $(seq 1 100); do ctl status >/dev/null 2>&1 && break; sleep 0.1; done
  }
  ip netns exec "$b" "$bin/tavri_player_sim" --players "$players" --target 192.0.2.1 --bind 192.0.2.2 \
    --report "$out/report.json" --quiet 2>"$out/sim.err" &
  local sim=$!
  for _ in $(seq 1 240); do
    [ "$(ctl --json players 2>/dev/null | python3 -c 'import json,sys; print(sum(p["online"] for p in json.load(sys.stdin)))' 2>/dev/null)" = "$players" ] && break
    sleep 0.5
  done
  # Playing first, so that a pause is a change the feedback shows.
  ctl play --to all --wait >/dev/null 2>&1
  local before start took
  before=$(rcvbuf_errors)
  start=$(date +%s.%N)
  ctl pause --to all --wait >/dev/null 2>&1
  took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
  local dropped=$(( $(rcvbuf_errors) - before ))
  kill -TERM "$sim"; wait "$sim"
  python3 - "$out/report.json" "$1" "$dropped" "$took" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))
first = sum(1 for p in r["players"] if p["commands"].count(2) == 1)
got = sum(1 for p in r["players"] if 2 in p["commands"])
print("%-26s %8d %14d %10d %14s %12s" % (sys.argv[2], len(r["players"]), first, got, sys.argv[3], sys.argv[4]))
PY
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  ip netns del "$a" 2>/dev/null; ip netns del "$b" 2>/dev/null
  rm -rf "$out"
}

printf "%-26s %8s %14s %10s %14s %12s\n" "service" players "got it at once" "got it" "rcvbuf drops" "all in, s"
run "paced (default)" default
run "reference: unpaced" 100000
