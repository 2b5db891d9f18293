#!/usr/bin/env bash
# The web console's figures (first page size and load time, feedback to
# page latency), with the headless service and Chromium alone in a private
# network namespace: nothing leaves loopback.
#   usage: sudo bench/web_console_bench.sh [BINARY_FOLDER]   (ROUNDS=30)
set -eu
bin="$(cd "${1:-build/src}" && pwd)"
here="$(cd "$(dirname "$0")" && pwd)"
[ "$(id -u)" -eq 0 ] || { echo "run it as root: it makes a network namespace"; exit 1; }
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
unshare -n bash -c '
  set -eu
  out="$1"; bin="$2"; here="$3"
  ip link set lo up
  state="$out/state"; mkdir -p "$state/content" "$state/Documents"
  printf "[content]\nfolder=%s\n[api]\ntoken_file=%s\n" "$state/content" "$state/api_token" >"$out/server.conf"
  env -u DISPLAY HOME="$state" XDG_DATA_HOME="$state" XDG_CONFIG_HOME="$state/config" XDG_DOCUMENTS_DIR="$state/Documents" \
    "$bin/tavri_av_server" --headless --config "$out/server.conf" >"$out/server.log" 2>&1 &
  server=$!
  ctl() { "$bin/tavri-avctl" --token-file "$state/api_token" "$@"; }
  for _ in $(seq 1 100); do ctl status >/dev/null 2>&1 && break; sleep 0.1; done
  echo "bench password" | ctl password >/dev/null
  TOKEN_FILE="$state/api_token" PASSWORD="bench password" /usr/bin/python3 "$here/web_console_bench.py" 2>"$out/bench.err" || { tail -20 "$out/bench.err"; exit 1; }
  kill $server; wait
' bench "$out" "$bin" "$here"
