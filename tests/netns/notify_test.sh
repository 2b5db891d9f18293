#!/usr/bin/env bash
# Notifications from the screenless service, all inside network namespaces:
# a mail sink and a webhook receiver on the server's own loopback, three
# simulated players on a LAN of their own. A test reaches each target; an
# outage of the three is one mail naming them with their group, and one
# signed webhook; their return is told too. With KEEP=1 the mails stay.
#   usage: notify_test.sh BINARY_FOLDER
set -u
bin="$1"
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
command -v ip >/dev/null || skip "iproute2 (ip) is not installed"
command -v python3 >/dev/null || skip "python3 is not installed"
here="$(cd "$(dirname "$0")" && pwd)"
tools="$here/../tools"
. "$here/headless_service.sh"
start_headless_service notify
failed=0
check() { if eval "$1"; then echo "ok: $2"; else echo "FAILED: $2"; failed=1; fi; }
# Polls a condition for up to $2 seconds.
within() { local end=$((SECONDS + $2)); until eval "$1"; do [ $SECONDS -ge $end ] && return 1; sleep 0.5; done; }
check 'ctl status | grep -q "server: ready"' "the service is ready"

mkdir -p "$out/mail" "$out/hooks"
ip netns exec "$a" python3 "$tools/smtp_sink.py" 2525 "$out/mail" 2>"$out/sink.err" & pids+=($!)
ip netns exec "$a" python3 "$tools/webhook_receiver.py" 8099 "$out/hooks" 1 2>"$out/receiver.err" & pids+=($!)
within 'ip netns exec "$a" python3 -c "import socket; [socket.create_connection((\"127.0.0.1\", p)) for p in (2525, 8099)]" 2>/dev/null' 10

check 'ctl notify mail --server 127.0.0.1:2525 --security none --from tavri@example.org --to ops@example.org,night@example.org >/dev/null' \
  "a mail account is set"
check '! ctl notify mail --server mail.example.org:25 --security none --user u --from a@b.c --to d@e.f </dev/null 2>/dev/null' \
  "a login in the clear across the network is refused"
ctl notify webhook add ops http://127.0.0.1:8099/hook >"$out/hook.txt"
sed -n 's/.*: \([0-9a-f]\{48\}\)$/\1/p' "$out/hook.txt" >"$out/hooks/secret"
check '[ -s "$out/hooks/secret" ]' "a webhook is set, and its secret shown once"
check 'ctl notify test mail | grep -q "^delivered" && within "ls \"$out/mail\"/*.eml >/dev/null 2>&1" 10 && grep -q "^Subject: A test from tavri AV server" "$out/mail"/0.eml' \
  "a test mail reaches the sink"
# A login goes only over TLS: STARTTLS, and TLS from the first byte, each
# with the server's certificate checked against the CA given.
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$out/key.pem" -out "$out/cert.pem" -days 1 -subj /CN=127.0.0.1 \
  -addext subjectAltName=IP:127.0.0.1 2>/dev/null
mkdir -p "$out/secure"
ip netns exec "$a" python3 "$tools/smtp_sink.py" 2526 "$out/secure" starttls "$out/cert.pem" "$out/key.pem" 2>>"$out/sink.err" & pids+=($!)
ip netns exec "$a" python3 "$tools/smtp_sink.py" 2527 "$out/secure" tls "$out/cert.pem" "$out/key.pem" 2>>"$out/sink.err" & pids+=($!)
within 'ip netns exec "$a" python3 -c "import socket; [socket.create_connection((\"127.0.0.1\", p)) for p in (2526, 2527)]" 2>/dev/null' 10
secure_mail() {
  echo "mail password" | ctl notify mail --server "127.0.0.1:$1" --security "$2" --user signage ${3:+--mail-ca-file "$3"} \
    --from tavri@example.org --to ops@example.org >/dev/null
}
check 'secure_mail 2526 starttls "$out/cert.pem" && ctl notify test mail >/dev/null && head -1 "$out/secure/0.eml" | grep -q "tls=yes auth=signage"' \
  "a test mail goes through STARTTLS with a login"
check 'secure_mail 2527 tls "$out/cert.pem" && ctl notify test mail >/dev/null && head -1 "$out/secure/1.eml" | grep -q "tls=yes auth=signage"' \
  "and through TLS from the first byte"
check 'secure_mail 2526 starttls && ! ctl notify test mail 2>"$out/tls.err" && grep -q "not delivered" "$out/tls.err" && [ ! -e "$out/secure/2.eml" ]' \
  "a server whose certificate cannot be checked gets nothing"
ctl notify mail --server 127.0.0.1:2525 --security none --from tavri@example.org --to ops@example.org,night@example.org >/dev/null
check '! ctl notify test ops 2>"$out/test.err" && grep -q "not delivered: 500" "$out/test.err"' \
  "a test the receiver refuses is said to have failed"
check 'ctl notify test ops | grep -q "^delivered (200)" && python3 -c "import json,sys; r=json.load(open(\"$out/hooks/1.json\")); sys.exit(0 if r[\"signed\"] and r[\"event\"] == \"test\" else 1)"' \
  "a test webhook arrives signed with the secret"
check 'ctl notify | grep -q "^ops .*delivered"' "the last delivery is shown"

ip netns exec "$b" "$bin/tavri_player_sim" --players 3 --prefix LOBBY --target 192.0.2.1 --bind 192.0.2.2 --quiet 2>/dev/null &
sim=$!; pids+=("$sim")
online() { ctl --json players | python3 -c "import json,sys; sys.exit(0 if sum(p['online'] for p in json.load(sys.stdin)) == $1 else 1)"; }
check 'within "online 3" 30' "three players are online"
ctl group create Lobby >/dev/null && ctl group add Lobby LOBBY-0000 LOBBY-0001 LOBBY-0002 >/dev/null
mails_before=$(ls "$out/mail" | wc -l)
kill "$sim"
# Offline after 8 s of silence, reported after a minute's grace.
check 'within "[ \$(ls \"$out/mail\" | wc -l) -gt $mails_before ]" 120' "the outage is mailed"
outage="$out/mail/$mails_before.eml"
check 'grep -q "^Subject: 3 players are offline" "$outage" && grep -q "^To: ops@example.org, night@example.org" "$outage"' \
  "one mail for the three, to both addresses"
check 'grep -q "(LOBBY-0001)" "$outage" && grep -q "groups: Lobby" "$outage" && grep -q "^Since 20" "$outage"' \
  "it names each player, its group and since when"
check 'within "grep -l \"\\\"offline\\\"\" \"$out/hooks\"/*.json >/dev/null 2>&1" 10 && python3 -c "
import glob, json, sys
r = [json.load(open(f)) for f in glob.glob(\"$out/hooks/*.json\")]
o = [x for x in r if x[\"event\"] == \"offline\"]
sys.exit(0 if len(o) == 1 and o[0][\"signed\"] and o[0][\"body\"][\"details\"][\"count\"] == 3 else 1)"' \
  "and one signed webhook with the three in its details"
alerts() { ip netns exec "$a" curl -s -H "Authorization: Bearer $(cat "$state/api_token")" http://127.0.0.1:5080/api/alerts; }
check 'alerts | python3 -c "import json,sys; a=json.load(sys.stdin)[\"alerts\"]; sys.exit(0 if len(a) == 1 and len(a[0][\"players\"]) == 3 else 1)"' \
  "the server keeps the open outage for any console that opens later"
# A command to a dark player fails at once; failures are gathered for ten seconds into one mail.
ctl pause --to LOBBY-0000 LOBBY-0001 >/dev/null 2>&1
check 'within "grep -l \"^Subject: PAUSE failed on 2 players\" \"$out/mail\"/*.eml >/dev/null 2>&1" 30' \
  "commands that failed are mailed, two players in one mail"
ip netns exec "$b" "$bin/tavri_player_sim" --players 3 --prefix LOBBY --target 192.0.2.1 --bind 192.0.2.2 --quiet 2>/dev/null &
pids+=($!)
check 'within "grep -l \"^Subject: .* \\(are\\|is\\) back\" \"$out/mail\"/*.eml >/dev/null 2>&1" 30' "their return is mailed too"
check 'within "alerts | grep -q \"\\\"alerts\\\":\\[\\]\"" 30' "and the outage is over"
[ -n "${KEEP:-}" ] && cp "$outage" "${KEEP}" 2>/dev/null
[ $failed -eq 0 ] || { echo "--- server"; tail -20 "$out/server.log"; cat "$out/sink.err" "$out/receiver.err"; ls -l "$out/mail" "$out/hooks"; }
exit $failed
