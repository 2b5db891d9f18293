#!/usr/bin/env bash
# Commands on a lossy network: the application and PLAYERS simulated
# players in two network namespaces (tests/netns/fleet_test.sh), with each
# share of the players' datagrams lost both ways. For LOAD PLAYLIST, NEXT
# and WEB STREAM: how many players confirmed, how many were reported
# failed, and the seconds until every player was one or the other. The
# reference of the same run is the loss-free row.
#   bench/loss_bench.sh [PLAYERS [LOSS...]]   (500, and 0 0.1 0.2 0.3)
set -uo pipefail
cd "$(dirname "$0")/.."
players="${1:-500}"; shift || true
losses=("$@"); [ ${#losses[@]} -gt 0 ] || losses=(0 0.1 0.2 0.3)
[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)"; exit 1; }
cmake --build build --target fleet_driver tavri_player_sim >/dev/null
printf '%-6s %-12s %10s %8s %12s\n' loss command confirmed failed "accounted s"
for loss in "${losses[@]}"; do
  # A loss of 0 still takes the timed path: a tiny loss stands for it.
  run_loss="$loss"; [ "$loss" = 0 ] && run_loss=0.000001
  log=$(bash tests/netns/fleet_test.sh build/tests/fleet_driver build/src/tavri_player_sim "$players" "" none "$run_loss" 2>&1)
  ready=$(grep -o 'ready_seconds=[0-9.]*' <<<"$log" | cut -d= -f2)
  # LOAD: every player must hold the list and its media (the test's check).
  loaded="?"; grep -q "ok: every player downloaded" <<<"$log" && loaded="$players"
  printf '%-6s %-12s %10s %8s %12s\n' "$loss" load_playlist "$loaded" 0 "${ready:--}"
  grep -o 'BENCH command=[a-z_]* confirmed=[0-9]* failed=[0-9]* accounted_seconds=[-0-9.]*' <<<"$log" |
    while read -r _ c conf fail secs; do
      printf '%-6s %-12s %10s %8s %12s\n' "$loss" "${c#command=}" "${conf#confirmed=}" "${fail#failed=}" "${secs#accounted_seconds=}"
    done
done
