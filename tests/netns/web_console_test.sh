#!/usr/bin/env bash
# The web console in a real browser: the service runs --headless in one
# network namespace with headless Chromium beside it, 50 simulated players
# in another, joined by a veth pair without a gateway, so the page can only
# load what the service itself serves.
#   usage: web_console_test.sh BINARY_FOLDER [SCREENSHOT_FOLDER]
set -u
bin="$1"; shots="${2:-}"
here="$(cd "$(dirname "$0")" && pwd)"
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
command -v ip >/dev/null || skip "iproute2 (ip) is not installed"
[ -x /usr/bin/chromium ] && [ -x /usr/bin/chromedriver ] || skip "chromium and chromium-driver are not installed"
/usr/bin/python3 -c "import selenium" 2>/dev/null || skip "python3-selenium is not installed"
. "$here/headless_service.sh"
start_headless_service web
echo "operator password" | ctl password >/dev/null || { echo "FAILED: the password cannot be set"; cat "$out/server.log"; exit 1; }
echo "viewer password" | ctl user add trainee --role viewer >/dev/null || { echo "FAILED: a viewer cannot be made"; exit 1; }

ip netns exec "$b" "$bin/tavri_player_sim" --players 50 --target 192.0.2.1 --bind 192.0.2.2 --quiet 2>"$out/sim.err" &
sim=$!; pids+=("$sim")

# Two media to upload: a still and a short movie.
echo iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg== | base64 -d >"$out/lobby.png"
ffmpeg -loglevel error -f lavfi -i testsrc=duration=2:size=320x180:rate=10 -pix_fmt yuv420p "$out/intro.mp4" ||
  skip "ffmpeg cannot make a test movie"

ip netns exec "$a" env HOME="$out" URL=http://127.0.0.1:5080 PASSWORD="operator password" VIEWER_PASSWORD="viewer password" SIM_PID="$sim" \
  MEDIA="$out/lobby.png:$out/intro.mp4" OUT="$out" SHOTS="$shots" PLAYERS=50 \
  /usr/bin/python3 "$(dirname "$here")/web/console_test.py"
rc=$?
[ $rc -eq 0 ] || { echo "--- server"; tail -30 "$out/server.log"; }
exit $rc
