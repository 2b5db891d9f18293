#!/usr/bin/env bash
# Proves the real broadcast path on the fixed ports, inside two private
# network namespaces joined by a veth pair: nothing leaves this machine.
#   usage: netns_broadcast_test.sh PROBE_BINARY
# Exit 77 (skipped) when namespaces cannot be made here.
set -u
probe="$1"
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "creating network namespaces needs root"
command -v ip >/dev/null || skip "iproute2 (ip) is not installed"
command -v python3 >/dev/null || skip "python3 is not installed"
passed=0; failed=0
out=$(mktemp -d)
# The probe's registry saves itself: never into the user's own folders.
export HOME="$out/home" XDG_DATA_HOME="$out/home/.local/share" XDG_DOCUMENTS_DIR="$out/home/Documents"
mkdir -p "$HOME"
check() { if grep -q -- "$2" "$out/$1"; then passed=$((passed+1)); echo "ok: $3"; else failed=$((failed+1)); echo "FAILED: $3"; fi; }
a=""; b=""
cleanup() {
  [ -n "${listener:-}" ] && kill "$listener" 2>/dev/null
  [ -n "$a" ] && ip netns del "$a" 2>/dev/null
  [ -n "$b" ] && ip netns del "$b" 2>/dev/null
  listener=""
}
trap 'cleanup; rm -rf "$out"' EXIT
. "$(dirname "$0")/veth_pair.sh"

# One run: two namespaces joined by a veth pair, with or without a default
# route (an isolated switch with no gateway is the usual signage network).
run_case() {
  local route="$1"
  a="tavri_a_$$_$route"; b="tavri_b_$$_$route"
  make_veth_pair "$a" "$b" || skip "$veth_failure"
  if [ "$route" = with-route ]; then
    ip -n "$a" route add default dev va
    ip -n "$b" route add default dev vb
  fi
  rm -f "$out"/listener "$out"/probe "$out"/probe.err
  # The player side: listens for commands on 5002 and reports how they arrived.
  ip netns exec "$b" python3 - > "$out/listener" 2>&1 <<'PY' &
import socket, struct
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
s.setsockopt(socket.IPPROTO_IP, 8, 1)  # IP_PKTINFO
s.bind(("0.0.0.0", 5002))
s.settimeout(20)
data, anc, _, src = s.recvmsg(9216, 256)
dst = next(socket.inet_ntoa(d[8:12]) for lvl, typ, d in anc if typ == 8)
print("COMMAND from=%s:%d to=%s bytes=%s" % (src[0], src[1], dst, data.decode()), flush=True)
PY
  listener=$!
  ip netns exec "$a" "$probe" > "$out/probe" 2>"$out/probe.err" &
  local probe_pid=$!
  sleep 1
  # A player's feedback, sent twice within one check interval.
  ip netns exec "$b" python3 - <<'PY'
import socket, time
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
d = "<v_OX_TANDEM>".join(["NS1", "Namespace player", "2", "1", "7", "3", "0", "0"]).encode()
for _ in range(2):
    s.sendto(d, ("192.0.2.1", 5001)); time.sleep(0.05)
PY
  wait "$probe_pid"; local probe_rc=$?
  wait "$listener"; listener=""
  echo "--- $route"
  cat "$out/probe" "$out/listener"
  check probe "RECORD NS1 192.0.2.2" "$route: feedback from the other end creates a record with that end's address"
  check probe "receives=1" "$route: a repeated datagram within one interval is processed once"
  check listener "COMMAND from=192.0.2.1:5001 to=192.0.2.255 bytes=NS1<v_OX_TANDEM>1" \
    "$route: the command for 255.255.255.255 arrives as the network's broadcast on 5002 from port 5001"
  if grep -q "ALERT" "$out/probe"; then failed=$((failed+1)); echo "FAILED: $route: the operator was told of a failure"; cat "$out/probe"; fi
  [ "$probe_rc" -eq 0 ] || { failed=$((failed+1)); echo "FAILED: $route: probe exited $probe_rc"; cat "$out/probe.err"; }
  cleanup
}

run_case with-route
run_case no-route
echo "netns: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
