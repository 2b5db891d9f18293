#!/usr/bin/env bash
# Memory under steady feedback: the application (offscreen, a fresh home)
# in one network namespace, simulated players in another, joined by a veth
# pair. Prints the application's resident memory every minute and the
# growth after the first minute (goal: flat within 2 MB). Reference in the
# same run: the same number of players' feedback into a plain receiver
# (tavri_player_sim's own memory, which holds every player).
#   bench/soak_bench.sh [MINUTES [PLAYERS]]   (default 30 minutes, 500 players)
#   With HEAPTRACK=1 the application runs under heaptrack (its file is kept).
#   With TAVRI_BENCH_AS_BUILT=1 it runs what build/ holds, without building.
#   With HEADLESS=1 the application runs with --headless instead of its window.
set -euo pipefail
cd "$(dirname "$0")/.."
minutes="${1:-30}"; players="${2:-500}"
[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)"; exit 1; }
if [ -z "${TAVRI_BENCH_AS_BUILT:-}" ]; then  # set: use build/ as it is
  bash scripts/install-deps.sh >/dev/null
  cmake --preset default >/dev/null
  cmake --build build --target tavri_av_server tavri_player_sim >/dev/null
fi

out=$(mktemp -d /tmp/tavri-soak.XXXXXX)
a="tavri_sk_a_$$"; b="tavri_sk_b_$$"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  ip netns del "$a" 2>/dev/null || true; ip netns del "$b" 2>/dev/null || true
  [ "${HEAPTRACK:-0}" = 1 ] || rm -rf "$out"
}
trap cleanup EXIT
. tests/netns/veth_pair.sh
make_veth_pair "$a" "$b" || { echo "$veth_failure"; exit 1; }

home="$out/home"; mkdir -p "$home/Documents"
wrap=(); mode=()
[ "${HEADLESS:-0}" = 1 ] && mode=(--headless)
[ "${HEAPTRACK:-0}" = 1 ] && wrap=(heaptrack -o "$out/heaptrack")
ip netns exec "$a" env HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
  QT_QPA_PLATFORM=offscreen "${wrap[@]}" build/src/tavri_av_server "${mode[@]}" >"$out/app.log" 2>&1 &
app=$!; pids+=("$app")
sleep 2
# ip netns exec and env exec the application: its pid is $app, unless
# heaptrack runs it as a child.
app_pid=$app
[ "${HEAPTRACK:-0}" = 1 ] && app_pid=$(pgrep -n -P "$app" -f tavri_av_server || echo "$app")
ip netns exec "$b" build/src/tavri_player_sim --players "$players" --target 192.0.2.1 --bind 192.0.2.2 --quiet \
  >/dev/null 2>&1 &
sim=$!; pids+=("$sim")

rss() { awk '/^VmRSS/ {print int($2 / 1024)}' "/proc/$1/status" 2>/dev/null || echo 0; }
printf "%8s %12s %12s\n" "minute" "app MB" "sim MB (ref)"
first=0
for m in $(seq 1 "$minutes"); do
  sleep 60
  app_mb=$(rss "$app_pid"); sim_mb=$(rss "$sim")
  printf "%8d %12d %12d\n" "$m" "$app_mb" "$sim_mb"
  [ "$m" -eq 1 ] && first=$app_mb
done
echo "growth after the first minute: $((app_mb - first)) MB (goal: at most 2)"
players_seen=$(grep -c "ADD DEVICE" "$out/app.log" || true)
echo "players added to the registry: $players_seen"
[ "${HEAPTRACK:-0}" = 1 ] && { kill -TERM "$app_pid"; sleep 3; echo "heaptrack data: $(ls "$out"/heaptrack*)"; }
exit 0
