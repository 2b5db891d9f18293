#!/usr/bin/env bash
# The whole system with a fleet: the application (its controllers and main
# window, offscreen) in one network namespace, 200 simulated players in
# another, joined by a veth pair without a gateway. Nothing leaves this
# machine.
#   usage: fleet_test.sh DRIVER SIMULATOR [PLAYERS [ARCHIVE_DUMP GNUSTEP_UNARCHIVE [LOSS [RATE]]]]
# With the two readers, every published file is decoded by ours and by
# GNUstep's unarchiver ("none": not installed), and the graphs compared.
# With LOSS (0 to 1) the players drop that share of datagrams both ways, and
# only the playlist send is checked: every player confirmed, every medium held.
# With RATE (tc's form, "8mbit") the application's side sends no faster, the
# folder holds one large picture, and it must be served once per player:
# a player downloading its list is not sent the list again.
# Exit 77 (skipped) when namespaces cannot be made here.
set -u
driver="$1"; sim="$2"; players="${3:-200}"; ours="${4:-}"; gnustep="${5:-none}"; loss="${6:-0}"; rate="${7:-}"
lossy=(); only_send=()
if [ "$loss" != 0 ]; then lossy=(--loss "$loss"); only_send=(env TAVRI_FLEET_BENCH=1); fi
[ -n "$rate" ] && only_send=(env TAVRI_FLEET_BENCH=1)
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
command -v ip >/dev/null || skip "iproute2 (ip) is not installed"
command -v python3 >/dev/null || skip "python3 is not installed"
command -v ffmpeg >/dev/null || skip "ffmpeg is not installed (it makes the media)"
out=$(mktemp -d)
a="tavri_fleet_a_$$"; b="tavri_fleet_b_$$"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  ip netns del "$a" 2>/dev/null; ip netns del "$b" 2>/dev/null
  rm -rf "$out"
}
trap cleanup EXIT
. "$(dirname "$0")/veth_pair.sh"
make_veth_pair "$a" "$b" || skip "$veth_failure"
if [ -n "$rate" ]; then
  command -v tc >/dev/null || skip "tc (iproute2) is not installed"
  ip netns exec "$a" tc qdisc add dev va root tbf rate "$rate" burst 32kbit latency 400ms || skip "no tbf queue here"
fi

# Three media of a few megabytes, as an operator's folder holds them.
content="$out/content"; mkdir -p "$content"
ff() { ffmpeg -hide_banner -loglevel error -y "$@"; }
if [ -n "$rate" ]; then
  # A picture of noise: about 6 MB that no compression shrinks.
  ff -f lavfi -i "nullsrc=s=1920x1080,geq=random(1)*255:random(1)*255:random(1)*255" -frames:v 1 "$content/Noise.png"
else
  ff -f lavfi -i "nullsrc=s=640x360:r=25,geq=random(1)*255:128:128" -t 2 -c:v mpeg4 -b:v 8M "$content/Noise Loop.mp4"
  ff -f lavfi -i "testsrc2=size=1280x720:rate=25" -t 2 -c:v mpeg4 -b:v 2M "$content/Bars.mov"
  ff -f lavfi -i "testsrc=size=1920x1080" -frames:v 1 "$content/Welcome.png"
fi
ls -l "$content"
media=$(ls "$content" | wc -l)
media_bytes=$(cat "$content"/* | wc -c)

ip netns exec "$b" "$sim" --players "$players" --target 192.0.2.1 --bind 192.0.2.2 --report "$out/report.json" \
  "${lossy[@]}" --quiet 2>"$out/sim.err" &
fleet=$!; pids+=("$fleet")
ip netns exec "$b" "$sim" --players 1 --prefix LONE --target 192.0.2.1 --bind 192.0.2.2 --quiet 2>/dev/null &
lone=$!; pids+=("$lone")

ip netns exec "$a" "${only_send[@]}" env QT_QPA_PLATFORM=offscreen "$driver" "$content" "$out/home" "$players" "$lone" \
  >"$out/driver.out" 2>"$out/driver.err"
driver_rc=$?
cat "$out/driver.out"
kill -TERM "$fleet"; wait "$fleet"
[ "$driver_rc" -eq 0 ] || { echo "--- the application's console (last lines)"; tail -40 "$out/driver.err"; }

# What every player holds, byte for byte, against the folder.
python3 - "$out/report.json" "$content" "$players" "$media" "${only_send[*]}" <<'PY'
import json, os, sys
report, folder, players, media, only_send = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5] != ""
def fnv(path):
    h = 1469598103934665603
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            for b in chunk:
                h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h
known = {name: (os.path.getsize(os.path.join(folder, name)), fnv(os.path.join(folder, name))) for name in os.listdir(folder)}
r = json.load(open(report))
bad = []
for i, p in enumerate(r["players"]):
    want = media if only_send or i >= players // 2 else 2
    files = p["files"]
    if p["status_device"] != 2 or len(files) != want:
        bad.append("%s: state %d with %d files (want 2 and %d) %s" % (p["device_id"], p["status_device"], len(files), want, p["error"]))
    for f in files:
        if known.get(f["name"]) != (f["bytes"], f["fnv64"]):
            bad.append("%s: %s differs from the folder's file" % (p["device_id"], f["name"]))
print("%s: every player holds its media byte for byte (%d players, %.1f MB, %d retries)"
      % ("ok" if not bad else "FAILED", len(r["players"]), r["bytes"] / 1e6, r["retries"]))
for line in bad[:10]: print("  " + line)
sys.exit(1 if bad else 0)
PY
check_rc=$?

# On a slow link: each player's media served once (TCP's framing and the
# datagrams are the rest of the allowance).
if [ -n "$rate" ] && [ $check_rc -eq 0 ]; then
  served=$(grep -o 'first_send_bytes=[0-9]*' "$out/driver.out" | cut -d= -f2)
  needed=$((players * media_bytes))
  echo "BENCH slow_link served_bytes=${served:-?} needed_bytes=$needed ratio=$(awk -v a="${served:-0}" -v b="$needed" 'BEGIN { printf "%.3f", a / b }')"
  if [ -z "$served" ] || [ "$served" -gt $((needed * 11 / 10)) ]; then
    echo "FAILED: ${served:-?} bytes sent for $needed bytes of media"
    check_rc=1
  fi
  # A list of one picture: NEXT changes nothing the feedback shows.
  if ! grep -q "BENCH command=next confirmed=0 failed=0 .* not_confirmable=$players" "$out/driver.out"; then
    echo "FAILED: NEXT to a list of one track is said to be not confirmable, not failed"
    check_rc=1
  fi
fi

# The same files through an unarchiver that is not ours.
interop_rc=0
if [ -n "$ours" ] && [ "$gnustep" != none ]; then
  published=("$content"/*.SAV)
  for f in "${published[@]}"; do
    "$ours" "$f" >"$out/ours.txt" 2>&1; a_rc=$?
    "$gnustep" "$f" >"$out/gnustep.txt" 2>&1; b_rc=$?
    if [ $a_rc -ne 0 ] || [ $b_rc -ne 0 ] || ! cmp -s "$out/ours.txt" "$out/gnustep.txt"; then
      echo "FAILED: GNUstep's unarchiver reads $(basename "$f") as ours does"
      diff "$out/ours.txt" "$out/gnustep.txt" | head -5
      interop_rc=1
    fi
  done
  [ $interop_rc -eq 0 ] && echo "ok: GNUstep's unarchiver reads all ${#published[@]} published files as ours does"
else
  echo "interop check not run: GNUstep's unarchiver is not built (gobjc, libgnustep-base-dev, gnustep-make)"
fi
[ "$driver_rc" -eq 0 ] && [ "$check_rc" -eq 0 ] && [ "$interop_rc" -eq 0 ]
