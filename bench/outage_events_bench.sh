#!/usr/bin/env bash
# An outage seen through the event stream: the screenless service in one
# network namespace, PLAYERS simulated players (default 5000) in another,
# three `tavri-avctl --json events` consoles following it, one of which
# stops reading for 20 s. Then every player falls silent at once. For each
# console: the "offline" events it got, the resyncs it was sent, and the
# players it knows to be offline (events, and the listing that follows a
# resync). The reference of the same run is the registry itself.
#   bench/outage_events_bench.sh [PLAYERS]
set -uo pipefail
cd "$(dirname "$0")/.."
players="${1:-5000}"
[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)"; exit 1; }
cmake --build build --target tavri_av_server tavri-avctl tavri_player_sim >/dev/null
bin="$PWD/build/src"; here="$PWD/tests/netns"
skip() { echo "SKIPPED: $*"; exit 77; }
. "$here/headless_service.sh"
start_headless_service outage
ip netns exec "$b" "$bin/tavri_player_sim" --players "$players" --target 192.0.2.1 --bind 192.0.2.2 --quiet \
  2>"$out/sim.err" &
sim=$!; pids+=("$sim")
online() { ctl --json players 2>/dev/null | python3 -c 'import json,sys; print(sum(p["online"] for p in json.load(sys.stdin)))' 2>/dev/null; }
for _ in $(seq 1 240); do [ "$(online)" = "$players" ] && break; sleep 0.5; done
echo "online before: $(online) of $players"
for n in 1 2; do ctl --json events >"$out/events.$n" 2>&1 & pids+=($!); done
# A console that falls behind: nothing read from its pipe for 20 s.
( ctl --json events | { sleep 20; cat; } ) >"$out/events.3" 2>&1 & pids+=($!)
sleep 2
kill -TERM "$sim"; wait "$sim" 2>/dev/null
for _ in $(seq 1 120); do [ "$(online)" = 0 ] && break; sleep 0.5; done
sleep 25  # the stalled console reads on, and catches up
alive=no; ctl status >/dev/null 2>&1 && alive=yes
printf '%-28s %14s %8s %18s\n' console "offline events" resyncs "known offline"
for n in 1 2 3; do
  python3 - "$out/events.$n" "$n" <<'PY'
import json, sys
offline, resyncs, known = 0, 0, set()
for line in open(sys.argv[1], errors="replace"):
    try: e = json.loads(line)
    except ValueError: continue
    if e["event"] == "player" and e["data"].get("change") == "offline":
        offline += 1; known.add(e["data"]["id"])
    elif e["event"] == "resync": resyncs += 1
    elif e["event"] == "players":
        known |= {p["id"] for p in e["data"] if not p["online"]}
label = {"1": "reading", "2": "reading", "3": "stalled 20 s"}[sys.argv[2]]
print("%-28s %14d %8d %18d" % ("console %s (%s)" % (sys.argv[2], label), offline, resyncs, len(known)))
PY
done
printf '%-28s %14s %8s %18s\n' "reference: the registry" - - "$((players - $(online)))"
echo "service still answering: $alive"
