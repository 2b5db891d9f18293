#!/usr/bin/env bash
# The system service: its unit passes systemd-analyze verify and is rated
# by systemd-analyze security; its command line, run as the unit runs it
# (state folder, configuration file, notify socket) in a private network
# namespace, tells systemd it is ready, makes a token only its user can
# read, answers tavri-avctl, refuses a second start and a bad configuration,
# and saves and exits 0 on SIGTERM. The unit itself is started only where
# systemd runs the machine.
#   usage: system_service_test.sh BINARY_FOLDER
set -u
bin="$1"
here="$(cd "$(dirname "$0")/../.." && pwd)"
skip() { echo "SKIPPED: $*"; exit 77; }
[ "${TAVRI_SYSTEM_SERVICE_INSIDE:-}" ] || {
  unshare -n true 2>/dev/null || skip "cannot make a network namespace here"
  command -v systemd-analyze >/dev/null || skip "systemd-analyze is not installed"
  command -v python3 >/dev/null || skip "python3 is not installed (it plays systemd's notify socket)"
  exec unshare -n env TAVRI_SYSTEM_SERVICE_INSIDE=1 bash "$0" "$@"
}
ip link set lo up
failed=0
check() { if eval "$1"; then echo "ok: $2"; else echo "FAILED: $2"; failed=1; fi; }
out=$(mktemp -d)
app=""; listener=""
trap '[ -n "$app" ] && kill -9 "$app" 2>/dev/null; [ -n "$listener" ] && kill "$listener" 2>/dev/null; rm -rf "$out"' EXIT

unit="$out/tavri-av-server.service"
sed -e "s|/usr/bin/tavri-av-serverd|$bin/tavri-av-serverd|" -e "/^Documentation=/d" \
  "$here/packaging/system/tavri-av-server.service" >"$unit"
check 'systemd-analyze verify "$unit" >"$out/verify" 2>&1' "the unit passes systemd-analyze verify"
systemd-analyze security --offline=true "$unit" 2>/dev/null | tail -1 | sed 's/^/  /'
if [ -d /run/systemd/system ]; then
  echo "  (systemd runs this machine; the installed unit is started by the package test)"
else
  echo "  SKIPPED: starting the unit itself: systemd does not run this machine"
fi

state="$out/state"
mkdir -p "$state/content" "$state/Documents" "$state/config"
conf="$out/server.conf"
sed -e "s|/var/lib/tavri-av-server|$state|g" "$here/packaging/server.conf" >"$conf"
export HOME="$state" XDG_DATA_HOME="$state" XDG_CONFIG_HOME="$state/config" XDG_DOCUMENTS_DIR="$state/Documents"
export NOTIFY_SOCKET="$out/notify"
python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind(sys.argv[1])
with open(sys.argv[2], "ab", buffering=0) as f:
    while True: f.write(s.recv(4096) + b"\n")' "$NOTIFY_SOCKET" "$out/notified" &
listener=$!
for _ in $(seq 1 600); do [ -S "$NOTIFY_SOCKET" ] && break; sleep 0.1; done
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin/tavri-av-serverd" --config "$conf" >"$out/app.log" 2>&1 &
app=$!
for _ in $(seq 1 600); do grep -q "READY=1" "$out/notified" 2>/dev/null && break; sleep 0.1; done
check 'grep -q "READY=1" "$out/notified"' "it tells systemd it is ready"
check '[ "$(stat -c %a "$state/api_token")" = 600 ]' "the token file is readable only by the service's user"
ctl() { "$bin/tavri-avctl" --token-file "$state/api_token" "$@"; }
for _ in $(seq 1 600); do ctl status >/dev/null 2>&1 && break; sleep 0.1; done
check 'ctl status >"$out/status" 2>&1 && grep -q "server: ready" "$out/status"' "tavri-avctl status: ready (files served, feedback socket bound)"
check '[ "$(curl -s -o /dev/null -w "%{http_code}" http://127.0.0.1:5080/api/players)" = 401 ]' "the API refuses a request without the token"
env -u DISPLAY "$bin/tavri-av-serverd" --config "$conf" >"$out/second.log" 2>&1; rc=$?
check '[ "$rc" -eq 1 ] && grep -q "already running" "$out/second.log"' "a second start says it is already running (exit $rc)"
printf '[api]\nport=5002\n' >"$out/bad.conf"
env -u DISPLAY "$bin/tavri-av-serverd" --config "$out/bad.conf" >"$out/bad.log" 2>&1; rc=$?
check '[ "$rc" -eq 78 ] && grep -q "bad.conf: \[api\] port: 5002 is a port the players use" "$out/bad.log"' \
  "a bad configuration stops the start with status 78, naming the key"
kill -TERM "$app"
wait "$app"; rc=$?; app=""
check '[ "$rc" -eq 0 ]' "SIGTERM ends the service cleanly (exit $rc)"
check 'grep -q "STOPPING=1" "$out/notified"' "and tells systemd it is stopping"
check 'grep -q "SAVE DEVICES" "$out/app.log"' "after saving"
[ $failed -eq 0 ] || { echo "--- log"; tail -20 "$out/app.log"; }
exit $failed
