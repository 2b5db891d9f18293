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

ip netns exec "$b" python3 - "$seconds" <<'PY'
import asyncio, resource, socket, sys, time
seconds = float(sys.argv[1])
resource.setrlimit(resource.RLIMIT_NOFILE, (65536, 65536))
SERVER = ("192.0.2.1", 5003)

async def attacker(kind, source, stop):
    try:
        reader, writer = await asyncio.open_connection(*SERVER, local_addr=(source, 0))
    except OSError:
        return
    try:
        if kind != "silent":
            writer.write(b"GET /small.bin HTTP/1.1\r\n")
            await writer.drain()
        while not stop.is_set():
            if kind == "trickle":
                await asyncio.sleep(20)
                writer.write(b"X-Trickle: 1\r\n")
                await writer.drain()
            else:
                await asyncio.sleep(1)
            if reader.at_eof():
                return
    except (OSError, ConnectionError):
        pass
    finally:
        writer.close()

async def keep_attacking(kind, sources, stop, count=5000):
    # Each closed connection is opened again: the attack holds its number.
    async def one(i):
        while not stop.is_set():
            await attacker(kind, sources[i % len(sources)], stop)
            await asyncio.sleep(0.05)
    await asyncio.gather(*(one(i) for i in range(count)))

async def probe(stop, latencies, failures):
    loop = asyncio.get_running_loop()
    def fetch():
        t = time.monotonic()
        try:
            s = socket.create_connection(SERVER, timeout=5, source_address=("192.0.2.3", 0))
            s.sendall(b"GET /small.bin HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            data = b""
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
            s.close()
            ok = data.startswith(b"HTTP/1.1 200") and len(data) > 4096
        except OSError:
            ok = False
        return ok, time.monotonic() - t
    while not stop.is_set():
        ok, took = await loop.run_in_executor(None, fetch)
        if ok:
            latencies.append(took)
        else:
            failures.append(took)
        await asyncio.sleep(0.2)

async def run(kind, sources):
    stop = asyncio.Event()
    latencies, failures = [], []
    tasks = [asyncio.create_task(probe(stop, latencies, failures))]
    if kind:
        tasks.append(asyncio.create_task(keep_attacking(kind, sources, stop)))
    await asyncio.sleep(seconds)
    stop.set()
    await asyncio.gather(*tasks, return_exceptions=True)
    return latencies, failures

def row(name, latencies, failures):
    worst = max(latencies) * 1000 if latencies else float("nan")
    latencies.sort()
    median = latencies[len(latencies) // 2] * 1000 if latencies else float("nan")
    print("%-46s %8d %8d %10.1f %10.1f" % (name, len(latencies), len(failures), median, worst), flush=True)

async def main():
    print("%-46s %8s %8s %10s %10s" % ("ordinary client's 4 KB GETs during", "answered", "failed", "median ms", "worst ms"))
    row("no attack (reference)", *await run(None, []))
    one = ["192.0.2.10"]
    fifty = ["192.0.2.%d" % i for i in range(10, 60)]
    for kind, label in (("half-open", "5,000 heads stopped after one line"),
                        ("trickle", "5,000 heads trickling a line every 20 s"),
                        ("silent", "5,000 connections saying nothing")):
        row(label + ", 1 address", *await run(kind, one))
        row(label + ", 50 addresses", *await run(kind, fifty))
        await asyncio.sleep(2)

asyncio.run(main())
PY
