#!/usr/bin/env bash
# Start-up waits for nobody: with damaged saved files whose alerts nobody
# answers, the application serves the content folder and listens for
# feedback at once; SIGTERM during start-up and during an alert saves and
# exits 0; a second instance says so and leaves the saved files alone.
# In a private network namespace, offscreen.
#   usage: startup_test.sh APPLICATION_BINARY_FOLDER
set -u
bin="$1"
skip() { echo "SKIPPED: $*"; exit 77; }
[ "${TAVRI_STARTUP_INSIDE:-}" ] || {
  unshare -n true 2>/dev/null || skip "cannot make a network namespace here"
  command -v ss >/dev/null || skip "ss is not installed"
  exec unshare -n env TAVRI_STARTUP_INSIDE=1 bash "$0" "$@"
}
ip link set lo up
failed=0
check() { if eval "$1"; then echo "ok: $2"; else echo "FAILED: $2"; failed=1; fi; }
out=$(mktemp -d)
app=""
trap '[ -n "$app" ] && kill -9 "$app" 2>/dev/null; rm -rf "$out"' EXIT

export HOME="$out/home" XDG_DATA_HOME="$out/home/.local/share" XDG_CONFIG_HOME="$out/home/.config"
export QT_QPA_PLATFORM=offscreen
data="$XDG_DATA_HOME/tavri_av_server"
mkdir -p "$HOME/Documents" "$data" "$out/content"
head -c 1000 /dev/urandom >"$out/content/clip.mp4"
printf 'file://%s/' "$out/content" >"$HOME/Documents/tavri_AV_SERVER_FOLDER.sav"
# Both alert at start-up: a damaged schedule list and a damaged history.
head -c 3000 /dev/urandom >"$HOME/Documents/tavri_AV_SERVER_SCHEDULELIST.sav"
head -c 9000 /dev/urandom >"$data/tavri_AV_SERVER_HISTORY.sqlite"

serving() { (exec 3<>/dev/tcp/127.0.0.1/5003) 2>/dev/null; }
"$bin/tavri_av_server" >"$out/app.log" 2>&1 &
app=$!
for _ in $(seq 1 600); do serving && break; sleep 0.1; done
check serving "the content folder is served while the start-up alerts wait"
check 'ss -lun | grep -q ":5001 "' "feedback is received on 5001 meanwhile"
check 'grep -q "^ALERT: The saved schedule" "$out/app.log" && grep -q "^ALERT: The player history" "$out/app.log"' \
  "the start-up alerts are logged, not waited for"

# A second instance: one line, a failure status, and no saved file touched.
touch "$out/mark"; sleep 1.1
"$bin/tavri_av_server" >"$out/second.log" 2>&1; rc=$?
check '[ "$rc" -ne 0 ] && grep -q "already running" "$out/second.log"' "a second instance says it is already running (exit $rc)"
check '[ "$(wc -l <"$out/second.log")" -eq 1 ]' "and does nothing else"
check 'kill -0 "$app"' "the first one runs on"

# The deferred alerts are up now: a stop still saves and exits cleanly.
sleep 1
rm -f "$data/tavri_AV_SERVER_DATA.sav"
kill -TERM "$app"
wait "$app"; rc=$?; app=""
check '[ "$rc" -eq 0 ]' "SIGTERM during an alert exits 0 (exit $rc)"
check '[ -s "$data/tavri_AV_SERVER_DATA.sav" ] && [ -s "$data/tavri_AV_SERVER_WINDOWS.sav" ]' "and saves first"

# SIGTERM in the middle of start-up: taken once the main loop runs.
rm -f "$data/tavri_AV_SERVER_DATA.sav"
"$bin/tavri_av_server" >"$out/third.log" 2>&1 &
app=$!
# Once it catches SIGTERM (its first act), not after a guessed time: a busy
# machine may take longer to load the libraries.
catches_term() { local mask; mask=$(sed -n 's/^SigCgt:\t*//p' "/proc/$app/status" 2>/dev/null); [ -n "$mask" ] && (( (16#$mask >> 14) & 1 )); }
for _ in $(seq 1 2000); do catches_term && break; sleep 0.005; done
kill -TERM "$app"
wait "$app"; rc=$?; app=""
check '[ "$rc" -eq 0 ]' "SIGTERM during start-up exits 0 (exit $rc)"
check '[ -s "$data/tavri_AV_SERVER_DATA.sav" ]' "and saves first"
[ $failed -eq 0 ] || { echo "--- log"; tail -20 "$out/app.log"; }
exit $failed
