#!/usr/bin/env bash
# The screenless service driven only through tavri-avctl: the server runs
# --headless in one network namespace, 200 simulated players in another,
# joined by a veth pair without a gateway (nothing leaves this machine).
# A playlist made and sent to all reaches every player, pause and play are
# obeyed, and a player that falls silent is announced on the event stream.
# A medium uploaded goes into a playlist; a backup restored into a fresh
# state folder gives the same catalogues and registry.
#   usage: avctl_fleet_test.sh BINARY_FOLDER [PLAYERS]
set -u
bin="$1"; players="${2:-200}"
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
command -v ip >/dev/null || skip "iproute2 (ip) is not installed"
command -v python3 >/dev/null || skip "python3 is not installed"
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/headless_service.sh"
start_headless_service ctl
failed=0
check() { if eval "$1"; then echo "ok: $2"; else echo "FAILED: $2"; failed=1; fi; }
check 'ctl status | grep -q "server: ready"' "the service is ready"

ip netns exec "$b" "$bin/tavri_player_sim" --players "$players" --target 192.0.2.1 --bind 192.0.2.2 --quiet \
  2>"$out/sim.err" &
pids+=($!)
ip netns exec "$b" "$bin/tavri_player_sim" --players 1 --prefix LONE --target 192.0.2.1 --bind 192.0.2.2 --quiet \
  2>/dev/null &
lone=$!; pids+=("$lone")
ctl events >"$out/events" 2>&1 &
pids+=($!)

# Waits up to 60 s until the players' JSON satisfies a Python condition on `ps`.
until_players() {
  for _ in $(seq 1 120); do
    ctl --json players 2>/dev/null | python3 -c "import json,sys; ps=json.load(sys.stdin); sys.exit(0 if ($1) else 1)" \
      && return 0
    sleep 0.5
  done
  return 1
}
check 'until_players "sum(p[\"online\"] for p in ps) == $players + 1"' "all $players players and the lone one are online"

id=$(ctl playlist create Lobby | awk '{print $2}')
check '[ -n "$id" ]' "a playlist is made (id $id)"
check 'ctl send playlist Lobby --to all >/dev/null' "and sent to all"
check 'until_players "all(p[\"list\"][\"id\"] == \"$id\" and p[\"list\"][\"name\"] == \"Lobby\" and p[\"state\"] == \"READY\" for p in ps)"' \
  "every player plays it, and is READY"
check 'ctl pause --to all >/dev/null && until_players "all(p[\"playback\"] == \"pause\" for p in ps)"' "pause: every player pauses"
check 'ctl play --to all >/dev/null && until_players "all(p[\"playback\"] == \"play\" for p in ps)"' "play: every player plays"
check '! ctl pause --to NOBODY 2>"$out/refused" && grep -q "No player has the id" "$out/refused"' \
  "a command to an unknown player is refused, naming it"
# A group of two: a command to it reaches exactly them.
check 'ctl group create Cafeteria >/dev/null && ctl group add Cafeteria SIM-0001 SIM-0002 >/dev/null' "a group of two is made"
check 'ctl groups | grep -q "^Cafeteria.2 online, 0 offline.SIM-0001 SIM-0002$"' "and listed with its players online"
check 'ctl pause --to @Cafeteria >/dev/null && until_players "sorted(p[\"id\"] for p in ps if p[\"playback\"] == \"pause\") == [\"SIM-0001\", \"SIM-0002\"]"' \
  "pause to @Cafeteria: exactly its two players pause"
check '! ctl play --to @Kitchen 2>"$out/refused" && grep -q "No group is named \"Kitchen\"" "$out/refused"' \
  "a command to an unknown group is refused, naming it"
# An announcement to the group: its two players play another list, and at
# its end both play the first again.
ctl playlist create Closing >/dev/null
check 'ctl announce playlist Closing --to @Cafeteria | grep -q "announcing playlist Closing to 2 players"' \
  "an announcement to @Cafeteria starts"
check 'ctl announce | grep -q "^to: group:Cafeteria (2 players)"' "and is shown with its targets"
check 'until_players "sorted(p[\"id\"] for p in ps if p[\"list\"][\"id\"] != \"$id\") == [\"SIM-0001\", \"SIM-0002\"]"' \
  "exactly its two players leave the playlist"
check 'ctl announce end >/dev/null && until_players "all(p[\"list\"][\"id\"] == \"$id\" for p in ps)"' \
  "ended, every player plays the playlist again"
ctl play --to all >/dev/null
# A weekday daypart with a fallback, set and shown in words.
sid=$(ctl schedule create Week | awk '{print $2}')
check 'ctl tasks "$sid" "name=Breakfast;time=07:00;end=10:30;days=mon-fri;playlist=$id" >/dev/null && ctl schedule fallback "$sid" "$id" >/dev/null' \
  "a weekday daypart with a fallback is set"
check 'ctl tasks "$sid" | grep -q "Breakfast  *07:00  *$id  *Mon Tue Wed Thu Fri, ends 10:30" && ctl tasks "$sid" | grep -q "^fallback playlist: $id"' \
  "and shown in words"
check '! ctl tasks "$sid" "name=x;playlist=$id;days=someday" 2>/dev/null && ctl tasks "$sid" | grep -q Breakfast' \
  "days that are not days are refused, and the tasks stay"

# People and tokens: the first admin is made on the box with the service's
# token; an operator's token sends but cannot remove a player; revoked, it
# is refused; and the audit names who did each.
check 'echo "first admin pw" | ctl user add boss --role admin >/dev/null && ctl user list | grep -q "^boss  *admin"' \
  "the first admin is made with the service's token"
op_token=$(ctl token create booking --role operator 2>/dev/null)
printf '%s\n' "$op_token" >"$out/booking_token"; chmod 600 "$out/booking_token"
btl() { ip netns exec "$a" "$bin/tavri-avctl" --token-file "$out/booking_token" "$@"; }
check 'btl pause --to SIM-0003 >/dev/null && ! btl remove SIM-0003 2>"$out/refused" && grep -q "needs the admin role" "$out/refused"' \
  "an operator's token commands, and is refused removing a player"
check 'ctl token list | grep -q "^booking  *operator .* 20"' "the token is listed with its last use"
check 'ctl token revoke booking >/dev/null && ! btl status 2>/dev/null' "a revoked token is refused at once"
check 'ctl audit --who booking | grep -q "POST /api/commands" && ctl audit --who booking | grep -q "refused (403)"' \
  "the audit shows what the token did and what it was refused"
check 'ctl audit --csv --operation users | head -1 | grep -q "^time,who,address,operation,arguments,result" && ! ctl audit --csv | grep -q "first admin pw"' \
  "the audit comes as CSV, without the passwords"
ctl play --to all >/dev/null

today=$(date +%F)
check 'ctl proof-of-play --from "$today" --to "$today" >"$out/plays.csv" 2>"$out/plays.err" && head -1 "$out/plays.csv" | grep -q "^player id,"' \
  "proof of play comes back as CSV"
kill "$lone"
for _ in $(seq 1 40); do grep -q '"change":"offline","id":"LONE-0000"\|"id":"LONE-0000".*"offline"' "$out/events" && break; sleep 0.5; done
check 'grep -q "LONE-0000" "$out/events" && grep "LONE-0000" "$out/events" | grep -q offline' \
  "the silent player's going offline arrives as an event"

# A 1x1 PNG, uploaded and put in the playlist.
echo iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNkYPhfDwAChwGA60e6kgAAAABJRU5ErkJggg== | base64 -d >"$out/dot.png"
check 'ctl upload "$out/dot.png" >/dev/null && cmp -s "$out/dot.png" "$state/content/dot.png"' "a medium is uploaded into the content folder"
for _ in $(seq 1 40); do ctl content 2>/dev/null | grep -q '^dot.png' && break; sleep 0.25; done
check 'ctl items "$id" dot.png:7 >/dev/null' "and put in the playlist for 7 seconds"
check 'ctl items "$id" | grep -q "^Lobby: 1 item(s), 0:07 in all" && ctl items "$id" | grep -q "^1  *dot.png .* 0:07"' \
  "the playlist's items are shown with their lengths and the whole length"
check 'ctl playlists obb | grep -q "Lobby" && ! ctl playlists obb | grep -q Closing' "the playlists are searched by name"
check 'ctl history SIM-0001 | grep -q "^SIM-0001: uptime over 24 h" && ctl history SIM-0001 | grep -q "first_seen"' \
  "a player's history is shown"
check 'ctl log --lines 1000 | grep -q "ANNOUNCEMENT ENDED" && ! ctl log --lines 1000 | grep -q "RECEIVE FROM"' \
  "the server's recent log is shown, without the feedback's lines"
check 'ctl --json status | python3 -c "import json,sys; s=json.load(sys.stdin); sys.exit(0 if s[\"ready\"] and len(s[\"players\"]) == s[\"online\"] + s[\"offline\"] else 1)"' \
  "--json status gives the whole answer"
check 'ctl --json backup "$out/backup.tar" | grep -q "\"bytes\"" && tar -tf "$out/backup.tar" | grep -q PLAYLIST' \
  "a backup is taken while the service runs, and said in JSON"
# The lists without their versions: a version also tells one life of an id
# from the next, and a restart begins new lives.
lists() { python3 -c "import json,sys; print([{k: v for k, v in l.items() if k != 'etag'} for l in json.load(sys.stdin)])"; }
ctl --json playlists | lists >"$out/playlists.before"
ctl --json players | python3 -c "import json,sys; print(sorted((p['id'], p['name']) for p in json.load(sys.stdin)))" >"$out/players.before"

# A second service with a fresh state folder takes the backup and restarts with it.
kill "${pids[0]}"; wait "${pids[0]}" 2>/dev/null
fresh="$out/fresh"; mkdir -p "$fresh/content" "$fresh/Documents"
printf '[content]\nfolder=%s\n[api]\ntoken_file=%s\n' "$fresh/content" "$fresh/api_token" >"$out/fresh.conf"
serve_fresh() {
  exec ip netns exec "$a" env -u DISPLAY HOME="$fresh" XDG_DATA_HOME="$fresh" XDG_CONFIG_HOME="$fresh/config" \
    XDG_DOCUMENTS_DIR="$fresh/Documents" "$bin/tavri_av_server" --headless --config "$out/fresh.conf" >>"$out/fresh.log" 2>&1
}
fctl() { ip netns exec "$a" "$bin/tavri-avctl" --token-file "$fresh/api_token" "$@"; }
serve_fresh & first=$!
for _ in $(seq 1 100); do fctl status >/dev/null 2>&1 && break; sleep 0.1; done
check 'fctl restore "$out/backup.tar" >/dev/null' "the fresh service takes the backup"
wait "$first"; status=$?
check '[ "$status" -eq 75 ]' "and ends asking for a restart (status $status)"
serve_fresh & pids+=($!)
for _ in $(seq 1 100); do fctl status >/dev/null 2>&1 && break; sleep 0.1; done
check 'fctl --json playlists | lists | cmp -s - "$out/playlists.before"' "the restored service has the same playlists"
check 'fctl audit --operation restore | grep -q "PUT /api/restore"' "the restore itself stays on record after the restart"
check 'fctl --json players | python3 -c "import json,sys; print(sorted((p[\"id\"], p[\"name\"]) for p in json.load(sys.stdin)))" >"$out/players.after" && cmp -s "$out/players.after" "$out/players.before"' \
  "and the same registry"
[ $failed -eq 0 ] || { echo "--- server"; tail -20 "$out/server.log"; tail -20 "$out/fresh.log" 2>/dev/null; cat "$out/plays.err" 2>/dev/null; echo "--- events"; tail -5 "$out/events"; ctl players | head -5; }
exit $failed
