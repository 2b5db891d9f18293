#!/usr/bin/env bash
# An announcement to a group of simulated players: the daemon in one
# network namespace, the players in another, joined by a veth pair. Times
# from "start announcement to the group" until every player's feedback
# shows the announced playlist, and from "end" until every one shows its
# own playlist again. Reference, in the same run: the same two lists sent
# to the same group by two plain sends, timed the same way.
#   bench/announcement_bench.sh [PLAYERS]   (1000)
#   TAVRI_BENCH_AS_BUILT=1 runs what build/ holds, without building.
set -euo pipefail
cd "$(dirname "$0")/.."
players="${1:-1000}"
[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)"; exit 1; }
if [ -z "${TAVRI_BENCH_AS_BUILT:-}" ]; then
  bash scripts/install-deps.sh >/dev/null
  cmake --preset default >/dev/null
  cmake --build build --target tavri-av-serverd tavri-avctl tavri_player_sim >/dev/null
fi
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
bin="$PWD/build/src"; here="$PWD/tests/netns"
skip() { echo "$*"; exit 1; }
. tests/netns/headless_service.sh
start_headless_service ab
ctl status >/dev/null || { echo "the service did not start"; tail "$out/server.log"; exit 1; }
ip netns exec "$b" "$bin/tavri_player_sim" --players "$players" --target 192.0.2.1 --bind 192.0.2.2 --workers 16 \
  --quiet 2>/dev/null &
pids+=($!)

# Seconds until the players' JSON satisfies a Python condition on `ps`, polled every 0.1 s.
until_players() {
  local t0; t0=$(date +%s.%N)
  for _ in $(seq 1 1200); do
    ctl --json players 2>/dev/null | python3 -c "import json,sys; ps=json.load(sys.stdin); sys.exit(0 if ($1) else 1)" \
      && { python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.2f}')" "$t0" "$(date +%s.%N)"; return 0; }
    sleep 0.1
  done
  echo "-1"
}
until_players "len(ps) == $players and all(p['online'] for p in ps)" >/dev/null
own=$(ctl playlist create Own | awk '{print $2}')
closing=$(ctl playlist create Closing | awk '{print $2}')
ctl group create Hall >/dev/null
ctl --json players | python3 -c "import json,sys; print('\n'.join(p['id'] for p in json.load(sys.stdin)))" >"$out/ids"
xargs -a "$out/ids" -n 500 sh -c 'exec "$0" "$@"' ip netns exec "$a" "$bin/tavri-avctl" --token-file "$state/api_token" \
  group add Hall >/dev/null
ctl send playlist Own --to @Hall >/dev/null
until_players "all(p['list']['id'] == '$own' for p in ps)" >/dev/null
every() { echo "all(p['list']['id'] == '$1' for p in ps)"; }

# Timed from before the request leaves tavri-avctl until the last feedback.
timed() { local t0 t; t0=$(date +%s.%N); "$@" >/dev/null; t=$(until_players "$cond")
  [ "$t" = "-1" ] && { echo "not reached in 2 min"; return; }
  python3 -c "import sys; print(f'{float(sys.argv[2]) - float(sys.argv[1]):.2f}')" "$t0" "$(date +%s.%N)"; }
cond=$(every "$closing"); start=$(timed ctl announce playlist Closing --to @Hall)
cond=$(every "$own"); end=$(timed ctl announce end)
cond=$(every "$closing"); send_there=$(timed ctl send playlist Closing --to @Hall)
cond=$(every "$own"); send_back=$(timed ctl send playlist Own --to @Hall)
rss=$(ip netns exec "$a" ps -o rss= -C tavri-av-serverd | head -1)

printf '\nAnnouncement to a group of %s simulated players (seconds until every player reports the list)\n' "$players"
printf '| | this server | reference: a plain send to the group |\n|---|---|---|\n'
printf '| start: all on the announcement | %s | %s |\n' "$start" "$send_there"
printf '| end: all back on their own list | %s | %s |\n' "$end" "$send_back"
printf 'daemon RSS afterwards: %s kB\n' "$rss"
