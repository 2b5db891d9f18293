#!/usr/bin/env bash
# Can a few hosts lock the players out of the content server? The bench
# server (the application's HTTP classes) in one network namespace, the
# attackers and an ordinary client in another, joined by a veth pair
# (nothing leaves this machine). Each attack opens 5,000 connections from
# one address, then from 50 addresses: heads that stop after their first
# line, heads that trickle a header line every 20 s, and connections that
# say nothing. Meanwhile the ordinary client, from an address of its own,
# fetches a 4 KB file every 200 ms. Reference, in the same run: the same
# client with no attack.
#   bench/http_attack_bench.sh [SECONDS_PER_ATTACK]   (default 40)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-40}"
[ "$(id -u)" -eq 0 ] || { echo "needs root (network namespaces)"; exit 1; }
if [ -z "${TAVRI_BENCH_AS_BUILT:-}" ]; then
  cmake --preset default >/dev/null
  cmake --build build --target http_serve >/dev/null
fi
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true
out=$(mktemp -d /tmp/tavri-attack-bench.XXXXXX)
a="tavri_ab_a_$$"; b="tavri_ab_b_$$"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  ip netns del "$a" 2>/dev/null || true; ip netns del "$b" 2>/dev/null || true
  rm -rf "$out"
}
trap cleanup EXIT
. tests/netns/veth_pair.sh
make_veth_pair "$a" "$b" || { echo "$veth_failure"; exit 1; }
# 192.0.2.3 is the ordinary client; 192.0.2.10-59 the attackers.
ip -n "$b" addr add 192.0.2.3/24 dev vb
for i in $(seq 10 59); do ip -n "$b" addr add "192.0.2.$i/24" dev vb; done
mkdir -p "$out/root"
head -c 4096 /dev/urandom >"$out/root/small.bin"
ip netns exec "$a" build/bench/http_serve "$out/root" 5003 2 >/dev/null 2>&1 &
pids+=("$!")
for _ in $(seq 1 50); do ip netns exec "$b" curl -s -o /dev/null --interface 192.0.2.3 http://192.0.2.1:5003/small.bin && break; sleep 0.1; done

# The attackers: KIND and how many source addresses, for the run's length.
cat >"$out/attack.py" <<'PY'
import asyncio, resource, sys
kind, sources, seconds = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
_, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
SERVER = ("192.0.2.1", 5003)
addresses = ["192.0.2.%d" % (10 + i) for i in range(sources)]

async def attacker(source, stop):
    try:
        reader, writer = await asyncio.open_connection(*SERVER, local_addr=(source, 0))
    except OSError:
        return
    try:
        if kind != "silent":
            writer.write(b"GET /small.bin HTTP/1.1\r\n")
            await writer.drain()
        while not stop.is_set() and not reader.at_eof():
            if kind == "trickle":
                await asyncio.sleep(20)
                writer.write(b"X-Trickle: 1\r\n")
                await writer.drain()
            else:
                await asyncio.sleep(1)
    except (OSError, ConnectionError):
        pass
    finally:
        writer.close()

async def main():
    stop = asyncio.Event()
    # Each closed connection is opened again: the attack keeps its number.
    async def one(i):
        while not stop.is_set():
            await attacker(addresses[i % len(addresses)], stop)
            await asyncio.sleep(0.05)
    tasks = [asyncio.create_task(one(i)) for i in range(5000)]
    await asyncio.sleep(seconds)
    stop.set()
    for t in tasks:
        t.cancel()
    await asyncio.gather(*tasks, return_exceptions=True)

asyncio.run(main())
PY

# probe SECONDS: the ordinary client's fetches, one line each: "ok SECONDS" or "failed".
probe() {
  local until=$(($(date +%s) + $1))
  while [ "$(date +%s)" -lt "$until" ]; do
    ip netns exec "$b" curl -s -o /dev/null --max-time 5 --interface 192.0.2.3 -w "%{http_code} %{time_total}\n" \
      http://192.0.2.1:5003/small.bin || echo "000 5"
    sleep 0.2
  done
}
row() {  # LABEL KIND SOURCES
  if [ -n "$2" ]; then
    ip netns exec "$b" python3 "$out/attack.py" "$2" "$3" "$((seconds + 5))" &
    local attack=$!
    sleep 5  # the attack is in place before the client starts
  fi
  probe "$seconds" >"$out/probe"
  [ -n "$2" ] && { wait "$attack" || true; }
  python3 - "$1" "$out/probe" <<'PY'
import sys
label, path = sys.argv[1], sys.argv[2]
ok = sorted(float(t) * 1000 for code, t in (l.split() for l in open(path)) if code == "200")
failed = sum(1 for l in open(path) if not l.startswith("200"))
median = ok[len(ok) // 2] if ok else float("nan")
print("%-56s %8d %8d %10.1f %10.1f" % (label, len(ok), failed, median, ok[-1] if ok else float("nan")), flush=True)
PY
}
printf "%-56s %8s %8s %10s %10s\n" "ordinary client's 4 KB GETs (curl) during" "answered" "failed" "median ms" "worst ms"
row "no attack (reference)" "" 0
for named in "half-open:5,000 heads stopped after one line" "trickle:5,000 heads trickling a line every 20 s" \
            "silent:5,000 connections saying nothing"; do
  kind="${named%%:*}"; label="${named#*:}"
  row "$label, 1 address" "$kind" 1
  row "$label, 50 addresses" "$kind" 50
done
