#!/usr/bin/env bash
# The screenless service: the unit passes systemd-analyze verify, and its
# start script, run in a private network namespace with a fresh home,
# serves the saved content folder, offers VNC on the loopback address only,
# and on SIGTERM (what "systemctl stop" sends) lets the application save
# before it quits.
#   usage: service_test.sh APPLICATION_BINARY_FOLDER
set -u
bin="$1"
here="$(cd "$(dirname "$0")/../.." && pwd)"
skip() { echo "SKIPPED: $*"; exit 77; }
[ "${TAVRI_SERVICE_INSIDE:-}" ] || {
  unshare -n true 2>/dev/null || skip "cannot make a network namespace here"
  for tool in Xvfb x11vnc xauth xdpyinfo ss systemd-analyze; do command -v "$tool" >/dev/null || skip "$tool is not installed"; done
  exec unshare -n env TAVRI_SERVICE_INSIDE=1 bash "$0" "$@"
}
ip link set lo up
failed=0
check() { if eval "$1"; then echo "ok: $2"; else echo "FAILED: $2"; failed=1; fi; }
out=$(mktemp -d)
trap 'kill "$wrapper" 2>/dev/null; rm -rf "$out"' EXIT

unit="$out/tavri-av-server.service"
sed -e "s|/usr/bin/tavri-av-server-headless|$here/packaging/tavri-av-server-headless|" -e "/^Documentation=/d" \
  "$here/packaging/tavri-av-server.service" >"$unit"
check 'systemd-analyze verify "$unit" >"$out/verify" 2>&1' "the unit passes systemd-analyze verify"

export HOME="$out/home" XDG_DATA_HOME="$out/home/.local/share" XDG_CONFIG_HOME="$out/home/.config"
export XDG_DOCUMENTS_DIR="$HOME/Documents" TAVRI_DISPLAY=":77"
mkdir -p "$HOME/Documents" "$HOME/.vnc" "$out/content"
head -c 1000 /dev/urandom >"$out/content/clip.mp4"
printf 'file://%s/' "$out/content" >"$HOME/Documents/tavri_AV_SERVER_FOLDER.sav"
x11vnc -storepasswd "not-the-real-one" "$HOME/.vnc/passwd" >/dev/null 2>&1
PATH="$bin:$PATH" "$here/packaging/tavri-av-server-headless" >"$out/app.log" 2>&1 &
wrapper=$!
for _ in $(seq 1 300); do
  (exec 3<>/dev/tcp/127.0.0.1/5003) 2>/dev/null && ss -ltn | grep -q ":5900 " && break
  sleep 0.2
done
check '(exec 3<>/dev/tcp/127.0.0.1/5003) 2>/dev/null' "the application serves the saved content folder on 5003"
check 'ss -ltn | grep -q "127.0.0.1:5900 "' "VNC listens on the loopback address"
check '! ss -ltn | grep -Eq "(0.0.0.0|\*|\[::\]):5900 "' "and on no other address"
check '! DISPLAY=:77 XAUTHORITY=/dev/null timeout 5 xdpyinfo >/dev/null 2>&1' "the display refuses a client without its cookie"
PATH="$bin:$PATH" "$here/packaging/tavri-av-server-headless" >"$out/second.log" 2>&1; rc=$?
check '[ "$rc" -eq 1 ] && grep -q "already running" "$out/second.log"' "a second start stops at once, saying why"
sleep 1
rm -f "$XDG_DATA_HOME/tavri_av_server/tavri_AV_SERVER_WINDOWS.sav"
kill -TERM "$wrapper"
wait "$wrapper"; rc=$?
check '[ "$rc" -eq 0 ]' "SIGTERM ends the service cleanly (exit $rc)"
check '[ -s "$XDG_DATA_HOME/tavri_av_server/tavri_AV_SERVER_WINDOWS.sav" ]' "the application saved its state on the way out"
check '! pgrep -f "Xvfb :77" >/dev/null' "the virtual display went with it"
[ $failed -eq 0 ] || { echo "--- log"; tail -20 "$out/app.log"; }
exit $failed
