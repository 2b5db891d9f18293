#!/usr/bin/env bash
# The web console with a large fleet, in headless Chromium: for each fleet
# size, the time until a reload shows rows, a filter keystroke, a sort, a
# select all, the longest stall after PLAY to all, and the tab's memory.
# The service and the simulated players are alone in a private network
# namespace: nothing leaves loopback.
#   usage: sudo bench/web_scale_bench.sh [BINARY_FOLDER]   (SIZES="1000 2000 10000")
set -eu
bin="$(cd "${1:-build/src}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
[ "$(id -u)" -eq 0 ] || { echo "run it as root: it makes a network namespace"; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
SIZES="${SIZES:-1000 2000 10000}" unshare -n bash -c '
  set -eu
  out="$1"; bin="$2"; here="$3"
  ip link set lo up
  for size in $SIZES; do
    state="$out/state-$size"; mkdir -p "$state/content" "$state/Documents"
    printf "[content]\nfolder=%s\n[api]\ntoken_file=%s\n" "$state/content" "$state/api_token" >"$out/server.conf"
    env -u DISPLAY HOME="$state" XDG_DATA_HOME="$state" XDG_CONFIG_HOME="$state/config" XDG_DOCUMENTS_DIR="$state/Documents" \
      "$bin/tavri-av-serverd" --config "$out/server.conf" >"$out/server.log" 2>&1 &
    server=$!
    ctl() { "$bin/tavri-avctl" --token-file "$state/api_token" "$@"; }
    for _ in $(seq 1 100); do ctl status >/dev/null 2>&1 && break; sleep 0.1; done
    echo "bench password" | ctl password >/dev/null
    # At most 5,000 players a simulator: the rest under another prefix.
    sims=()
    left=$size; prefix=SIM
    while [ "$left" -gt 0 ]; do
      n=$(( left > 5000 ? 5000 : left ))
      "$bin/tavri_player_sim" --players "$n" --prefix "$prefix" --interval 4 --quiet 2>/dev/null &
      sims+=($!); left=$(( left - n )); prefix=OFF
    done
    SIZE=$size TOKEN_FILE="$state/api_token" PASSWORD="bench password" /usr/bin/python3 "$here/web_scale_bench.py" \
      2>"$out/bench.err" || { tail -20 "$out/bench.err"; exit 1; }
    [ -n "${PROFILE:-}" ] && cat "$out/bench.err" >&2
    kill "${sims[@]}" $server; wait
  done
' bench "$out" "$bin" "$here"
