#!/usr/bin/env bash
# The players page with 10,000 simulated players (two simulators of 5,000)
# in headless Chromium, the service and the players alone on loopback in a
# private network namespace.
#   usage: web_scale_test.sh BINARY_FOLDER [SCREENSHOT_FOLDER]
set -u
bin="$1"; shots="${2:-}"
here="$(cd "$(dirname "$0")" && pwd)"
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
[ -x /usr/bin/chromium ] && [ -x /usr/bin/chromedriver ] || skip "chromium and chromium-driver are not installed"
/usr/bin/python3 -c "import selenium" 2>/dev/null || skip "python3-selenium is not installed"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
unshare -n bash -c '
  out="$1"; bin="$2"; here="$3"
  ip link set lo up
  state="$out/state"; mkdir -p "$state/content" "$state/Documents"
  printf "[content]\nfolder=%s\n[api]\ntoken_file=%s\n" "$state/content" "$state/api_token" >"$out/server.conf"
  env -u DISPLAY HOME="$state" XDG_DATA_HOME="$state" XDG_CONFIG_HOME="$state/config" XDG_DOCUMENTS_DIR="$state/Documents" \
    "$bin/tavri-av-serverd" --config "$out/server.conf" >"$out/server.log" 2>&1 &
  pids=($!)
  trap "kill \${pids[*]} 2>/dev/null; wait" EXIT
  ctl() { "$bin/tavri-avctl" --token-file "$state/api_token" "$@"; }
  for _ in $(seq 1 600); do ctl status >/dev/null 2>&1 && break; sleep 0.1; done
  echo "scale password" | ctl password >/dev/null || { echo "FAILED: the password cannot be set"; exit 1; }
  "$bin/tavri_player_sim" --players 5000 --prefix SIM --interval 4 --quiet 2>/dev/null & pids+=($!)
  "$bin/tavri_player_sim" --players 5000 --prefix OFF --interval 4 --quiet 2>/dev/null & pids+=($!)
  TOKEN_FILE="$state/api_token" PASSWORD="scale password" PLAYERS=10000 OUT="$out" SHOTS="$4" \
    /usr/bin/python3 "$(dirname "$here")/web/scale_test.py"
' test "$out" "$bin" "$here" "$shots"
