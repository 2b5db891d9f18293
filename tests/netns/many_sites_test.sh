#!/usr/bin/env bash
# Many sites, one hub, joined through Mosquitto with TLS, a password per
# site and an ACL that keeps each site in its own topics and lets only the
# hub send requests. Three site services, each with its simulated players
# on a LAN of its own; the hub (a service of its own, the media's origin)
# drives them with tavri-avctl. Nothing leaves this machine: every host is
# a network namespace made here.
#   usage: many_sites_test.sh BINARY_FOLDER [PLAYERS_PER_SITE]
set -u
bin="$(cd "$1" && pwd)"; players="${2:-50}"
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
command -v mosquitto >/dev/null || skip "mosquitto is not installed"
command -v openssl >/dev/null || skip "openssl is not installed"
/usr/bin/python3 -c "import nacl.signing" 2>/dev/null || skip "python3-nacl is not installed"
here="$(cd "$(dirname "$0")" && pwd)"
out=$(mktemp -d); tag=$$
hub="tavri_hub_$tag"; sites=(s1 s2 s3)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null
  for ns in "$hub" $(for s in "${sites[@]}"; do echo "tavri_${s}_$tag tavri_${s}p_$tag"; done); do ip netns del "$ns" 2>/dev/null; done
  [ -n "${KEEP:-}" ] && echo "kept $out" || rm -rf "$out"
}
trap cleanup EXIT
failed=0
check() { if eval "$1"; then echo "ok: $2"; else echo "FAILED: $2"; failed=1; fi; }
# Polls a condition for up to $2 seconds (default 60).
until_true() { local end=$((SECONDS + ${2:-60})); until eval "$1"; do [ $SECONDS -ge $end ] && return 1; sleep 0.3; done; }

# The WAN: a bridge in the hub's namespace (10.9.0.1); site N is 10.9.0.1N.
ip netns add "$hub" 2>/dev/null || skip "cannot create a network namespace"
ip -n "$hub" link set lo up
ip -n "$hub" link add br0 type bridge && ip -n "$hub" addr add 10.9.0.1/24 dev br0 && ip -n "$hub" link set br0 up
n=0
for s in "${sites[@]}"; do
  n=$((n + 1)); ns="tavri_${s}_$tag"; lan="tavri_${s}p_$tag"
  ip netns add "$ns"; ip netns add "$lan"
  ip link add "w$s" netns "$hub" type veth peer name wan netns "$ns"
  ip -n "$hub" link set "w$s" master br0 up
  ip -n "$ns" addr add "10.9.0.1$n/24" dev wan; ip -n "$ns" link set wan up; ip -n "$ns" link set lo up
  # The site's LAN: the server at 192.0.2.1, its players at 192.0.2.2.
  ip link add va netns "$ns" type veth peer name vb netns "$lan"
  ip -n "$ns" addr add 192.0.2.1/24 brd + dev va; ip -n "$ns" link set va up
  ip -n "$lan" addr add 192.0.2.2/24 brd + dev vb; ip -n "$lan" link set vb up; ip -n "$lan" link set lo up
done

# The broker: TLS with a certificate for 10.9.0.1, one user per site and the hub.
cd "$out"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 -subj "/CN=test CA" \
  -keyout ca.key -out ca.pem 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "/CN=broker" -keyout broker.key -out broker.csr 2>/dev/null
printf 'subjectAltName=IP:10.9.0.1\n' >san.ext
openssl x509 -req -in broker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile san.ext -out broker.pem 2>/dev/null
chmod 644 broker.key
: >passwords
for user in hub "${sites[@]}"; do
  head -c 18 /dev/urandom | base64 >"$user.password"
  mosquitto_passwd -b passwords "$user" "$(cat "$user.password")" 2>/dev/null
done
"$here/../sites/mosquitto_conf.sh" "$out" 8883 >mosquitto.conf
echo "user root" >>mosquitto.conf  # the files of this test are root's own
ip netns exec "$hub" mosquitto -c mosquitto.conf >mosquitto.log 2>&1 &
pids+=($!)
until_true "ip netns exec $hub bash -c 'exec 3<>/dev/tcp/10.9.0.1/8883' 2>/dev/null" 10 || { cat mosquitto.log; skip "mosquitto did not start"; }

# The hub: its key pair, and a service of its own whose content folder is the media's origin.
"$bin/tavri-avctl" hub-key create "$out/hub.key" >hub-key.out
public=$(awk '/^hub_public_key/ {print $3}' hub-key.out)
check '[ -n "$public" ] && [ "$(stat -c %a "$out/hub.key")" = 600 ]' "hub-key create makes a key pair, the secret readable by its owner only"
start_service() {  # NAMESPACE FOLDER [SITES-SECTION]
  mkdir -p "$2/content"
  printf '[content]\nfolder=%s\n[api]\ntoken_file=%s\n%s' "$2/content" "$2/api_token" "${3:-}" >"$2/server.conf"
  ip netns exec "$1" env -u DISPLAY HOME="$2" XDG_DATA_HOME="$2" XDG_CONFIG_HOME="$2/config" \
    "$bin/tavri-av-serverd" --config "$2/server.conf" >>"$2/server.log" 2>&1 &
  pids+=($!)
}
# The hub's service: its console's Sites page.
start_service "$hub" "$out/hub" "$(printf '[sites]\nrole=hub\nbroker=mqtts://10.9.0.1:8883\nuser=hub\npassword_file=%s\nca_file=%s\nhub_key_file=%s\n' \
  "$out/hub.password" "$out/ca.pem" "$out/hub.key")"
site_section() {  # SITE
  printf '[sites]\nbroker=mqtts://10.9.0.1:8883\nname=%s\nuser=%s\npassword_file=%s\nca_file=%s\nhub_public_key=%s\nkeepalive=5\nmax_request_age_hours=1\n' \
    "$1" "$1" "$out/$1.password" "$out/ca.pem" "$public"
}
declare -A site_pid
for s in "${sites[@]}"; do
  start_service "tavri_${s}_$tag" "$out/$s" "$(site_section "$s")"
  site_pid[$s]=${pids[-1]}
  ip netns exec "tavri_${s}p_$tag" "$bin/tavri_player_sim" --players "$players" --prefix "${s^^}" \
    --target 192.0.2.1 --bind 192.0.2.2 --quiet 2>/dev/null &
  pids+=($!)
done
ctl() { local s="$1"; shift; ip netns exec "tavri_${s}_$tag" "$bin/tavri-avctl" --token-file "$out/$s/api_token" "$@"; }
hubctl() {
  ip netns exec "$hub" "$bin/tavri-avctl" --token-file "$out/hub/api_token" --broker mqtts://10.9.0.1:8883 \
    --broker-ca "$out/ca.pem" --broker-user hub --broker-password-file "$out/hub.password" --hub-key "$out/hub.key" "$@"
}
online_sites() { hubctl --json sites 2>/dev/null | /usr/bin/python3 -c "
import json, sys
print(' '.join(sorted(s['name'] for s in json.load(sys.stdin)['sites'] if s['online'] and s['state'].get('players', {}).get('online') == $players)))"; }
check 'until_true "[ \"\$(online_sites)\" = \"s1 s2 s3\" ]" 90' "the hub sees three sites online, each with its $players players"
[ $failed -eq 0 ] || { tail -5 "$out"/s*/server.log mosquitto.log; exit 1; }
hubctl sites >sites.txt
hubapi() { ip netns exec "$hub" curl -s -H "Authorization: Bearer $(cat "$out/hub/api_token")" "$@"; }
check 'until_true "hubapi http://127.0.0.1:5080/api/sites | grep -o \"\\\"online\\\":true\" | wc -l | grep -qx 3" 30' \
  "the hub's service lists the three sites online"
check 'hubapi -X POST -d "{\"sites\":\"all\",\"method\":\"POST\",\"path\":\"/api/groups\",\"body\":{\"name\":\"Entrance\"}}" \
         http://127.0.0.1:5080/api/sites/requests | /usr/bin/python3 -c "
import json, sys; r = json.load(sys.stdin); sys.exit(0 if sorted(r[\"replies\"]) == [\"s1\", \"s2\", \"s3\"] and all(v[\"status\"] == 201 for v in r[\"replies\"].values()) else 1)"' \
  "a request from the hub's API to all sites is answered by each"
check 'grep -q "^s2 *online *$players *0 " sites.txt' "tavri-avctl sites lists each with its players online and offline"

# Two media from the hub to every site: fetched, checked, in a playlist, sent.
echo iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg== | base64 -d >dot.png
echo iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAFklEQVR4nGP4z8DAwMDAxMDAwMDAAAANHQEDasKb6QAAAABJRU5ErkJggg== | base64 -d >two.png
check 'hubctl --site all publish --media dot.png two.png --playlist Promo --seconds 6 --origin http://10.9.0.1:5003/ --to all >publish.txt' \
  "publish to all sites is answered by all"
check '[ "$(grep -c ": published: playlist .* with 2 items, sent to '"$players"' players" publish.txt)" = 3 ]' "each site made the playlist and sent it to its $players players"
for s in "${sites[@]}"; do
  check 'cmp -s dot.png "$out/$s/content/dot.png" && cmp -s two.png "$out/$s/content/two.png"' "$s holds both media, byte for byte"
done
# Every player of a site has VALUE under KEY ("list.name").
all_players() { ctl "$1" --json players 2>/dev/null | /usr/bin/python3 -c "
import json, sys
ps = json.load(sys.stdin)
def at(p, key):
    for k in key.split('.'): p = p[k]
    return p
sys.exit(0 if len(ps) == $players and all(at(p, sys.argv[1]) == sys.argv[2] for p in ps) else 1)" "$2" "$3"; }
for s in "${sites[@]}"; do check "until_true 'all_players $s list.name Promo'" "every player of $s confirms Promo"; done
check 'ctl s1 audit | grep -q "hub (operator) *broker *POST /api/publish *done"' "the publish is in the site's audit, as the hub's"
check 'hubctl --site s3 publish --media dot.png two.png --playlist Promo --seconds 6 --origin http://10.9.0.1:5003/ --to all >again.txt &&
       ip netns exec tavri_s3_$tag true && grep -q "s3: published" again.txt && grep -q "dot.png held already" "$out/s3/server.log"' \
  "published again, a medium the site holds with the same hash is not fetched again"
printf 'not there' >absent.png
check '! hubctl --site s1 publish --media absent.png --playlist Bad --origin http://10.9.0.1:5003/nowhere/ --to all >bad.txt &&
       grep -q "s1: refused (502): absent.png: not fetched" bad.txt && ! ctl s1 playlists | grep -q Bad &&
       [ ! -e "$out/s1/content/absent.png" ]' \
  "a medium that cannot be fetched stops the request, and nothing is made"
# The origin's bytes are not what the hub signed: refused, and not kept.
printf "first bytes" >swap.png && ip netns exec "$hub" "$bin/tavri-avctl" --token-file "$out/hub/api_token" upload swap.png >/dev/null
printf "other bytes" >swap.png
check '! hubctl --site s1 publish --no-upload --media swap.png --playlist Swapped --origin http://10.9.0.1:5003/ --to all >swap.txt &&
       grep -q "s1: refused (502): swap.png: its SHA-256 is not the one the hub signed" swap.txt &&
       [ ! -e "$out/s1/content/swap.png" ] && ! ctl s1 playlists | grep -q Swapped' \
  "a medium whose bytes are not the ones signed is refused and not kept"

# Requests that are not the hub's, or not new, are refused and audited.
/usr/bin/python3 "$here/../sites/forge.py" "$out/hub.key" s1 >forged.txt
while read -r what message; do
  ip netns exec "$hub" mosquitto_pub -h 10.9.0.1 -p 8883 --cafile ca.pem -u hub -P "$(cat hub.password)" -q 1 \
    -t "tavri/v1/sites/s1/requests/$what" -m "$message"
done <forged.txt
check 'until_true "ctl s1 audit | grep -q \"replayed\""' "a replayed request is refused"
check '[ "$(ctl s1 playlists | grep -cw Once)" = 1 ]' "the signed one runs once"
check '! ctl s1 playlists | grep -qE "Unsigned|OtherKey|Stale"' "the unsigned, the other key's and the stale ones change nothing"
check 'ctl s1 audit | grep -q "unverified request .*refused: unsigned" &&
       ctl s1 audit | grep -q "refused: not signed by the hub.s key" && ctl s1 audit | grep -q "refused: too old"' \
  "each refusal is in the site's audit"
# The ACL: a site cannot send requests, nor read another site's.
# (MQTT 5: the broker says so in its acknowledgement.)
check 'ip netns exec "tavri_s1_$tag" mosquitto_pub -h 10.9.0.1 -p 8883 --cafile ca.pem -u s1 -P "$(cat s1.password)" -q 1 \
       -V mqttv5 -t tavri/v1/sites/s2/requests/x -m "{}" 2>&1 | grep -qi "not authori"' \
  "the ACL keeps a site from sending a request to another"

# A site cut off: offline at the hub within 1.5 keepalives, its players
# served on, and a request sent meanwhile applied once when it returns.
# What the hub hears of s2, each message with the time it came.
ip netns exec "$hub" mosquitto_sub -h 10.9.0.1 -p 8883 --cafile ca.pem -u hub -P "$(cat hub.password)" \
  -t tavri/v1/sites/s2/state -F $'%U %p\n' >s2-state.log 2>/dev/null &
pids+=($!)
until_true 'grep -qs "\"connected\":true" s2-state.log' 10
ip -n "$hub" link set ws2 down
cut_at=$(date +%s.%N)
check 'until_true "grep -q \"\\\"connected\\\":false\" s2-state.log" 30' "the broker tells the hub that s2 is offline"
offline_after=$(awk -v cut="$cut_at" '/"connected":false/ {printf "%.1f", $1 - cut; exit}' s2-state.log)
echo "  (after $offline_after s; keepalive 5 s)"
# The broker drops a client 1.5 keepalives after the last packet it had,
# looking once a second or so (Mosquitto 2.0: 8-9 s here).
check 'awk -v t="$offline_after" "BEGIN { exit !(t <= 10) }"' "within 1.5 keepalive intervals (7.5 s) and the broker's look"
check 'until_true "hubctl --json sites | grep -q \"\\\"name\\\":\\\"s2\\\",\\\"online\\\":false\""' "tavri-avctl sites shows s2 offline"
if [ -n "${SHOTS:-}" ] || /usr/bin/python3 -c "import selenium" 2>/dev/null; then
  echo "hub password" | ip netns exec "$hub" "$bin/tavri-avctl" --token-file "$out/hub/api_token" password >/dev/null
  check 'ip netns exec "$hub" env PASSWORD="hub password" OUT="$out" PLAYERS="$players" SHOTS="${SHOTS:-}" \
           /usr/bin/python3 "$here/../web/sites_page.py" >web.txt 2>&1' "the hub's Sites page shows s2 offline"
  sed 's/^/    /' web.txt
fi
hubctl --site s2 playlist create WhileAway >away.txt 2>&1
check 'grep -q "s2 is offline: the request is queued" away.txt' "a request to it is reported queued, not done"
check 'ctl s2 pause --to all >/dev/null && until_true "all_players s2 playback pause"' \
  "with its broker unreachable, s2 still commands its players"
ip -n "$hub" link set ws2 up master br0
check 'until_true "[ \"\$(online_sites)\" = \"s1 s2 s3\" ]" 60' "s2 is back online at the hub"
check 'until_true "ctl s2 playlists | grep -q WhileAway" 30 && [ "$(ctl s2 playlists | grep -c WhileAway)" = 1 ]' \
  "the request sent while it was away ran once when it returned"

# A site that stops cleanly is offline at once.
kill "${site_pid[s3]}"; wait "${site_pid[s3]}" 2>/dev/null
check 'until_true "hubctl --json sites | grep -q \"\\\"name\\\":\\\"s3\\\",\\\"online\\\":false\"" 10' "a site that stops is offline at the hub"
check '! grep -q "ERROR\|Sanitizer" "$out"/s*/server.log' "no site logged an error"
[ $failed -eq 0 ] || { tail -20 "$out/s2/server.log"; tail -5 "$out/mosquitto.log"; }
exit $failed
