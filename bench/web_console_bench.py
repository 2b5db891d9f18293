#!/usr/bin/python3
"""The web console's figures, in headless Chromium on loopback (run by
web_console_bench.sh inside a private network namespace):

  - what a browser downloads for the first page, and how long it takes to
    load, next to a health check's answer loaded the same way (reference);
  - the time from a player's feedback datagram to the change on the players
    page, next to the time to the same event on a bare event-stream client
    (reference: what the server itself takes).
"""
import json
import os
import socket
import statistics
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import headless  # noqa: E402

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

URL = "http://127.0.0.1:5080"
ROUNDS = int(os.environ.get("ROUNDS", "30"))
SEP = "<v_OX_TANDEM>"


def feedback(player, playback):
    # id, name, device state (2: READY), playback, list, track, menu, sound, clock, background
    fields = [player, "Bench screen", "2", str(playback), "---", "---", "0", "0", time.strftime("%H:%M:%S"), ""]
    return SEP.join(fields).encode()


def browser():
    driver = headless.browser()
    driver.execute_cdp_cmd("Network.enable", {})
    driver.execute_cdp_cmd("Network.setCacheDisabled", {"cacheDisabled": True})
    return driver


def until(condition, seconds=20, step=0.005):
    return headless.wait_for(condition, seconds, step)


def loads(driver, path, ready):
    """ms to load `path` fresh, ROUNDS times, by the browser's own clock (from
    the navigation's start to the load event, or to the last answer the page
    waited for), and the bytes of the last load (the event stream aside)."""
    times = []
    for _ in range(ROUNDS):
        driver.get("about:blank")
        driver.get(URL + path)
        until(lambda: driver.execute_script(ready), 20)
        times.append(driver.execute_script(
            "const n = performance.getEntriesByType('navigation')[0];"
            "return Math.max(n.loadEventEnd, ...performance.getEntriesByType('resource')"
            "  .filter((e) => !e.name.endsWith('/api/events')).map((e) => e.responseEnd))"))
        entries = driver.execute_script(
            "return performance.getEntriesByType('navigation').concat(performance.getEntriesByType('resource'))"
            ".filter((e) => !e.name.endsWith('/api/events'))"
            ".map((e) => [e.name, e.transferSize, e.decodedBodySize])")
    return times, sum(e[1] for e in entries), sum(e[2] for e in entries), len(entries)


def events_client(token, player, arrivals, stop):
    """The reference: a bare event-stream client noting when the player's status events arrive."""
    s = socket.create_connection(("127.0.0.1", 5080))
    s.sendall(f"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer {token}\r\n\r\n".encode())
    buffer = b""
    while not stop.is_set():
        chunk = s.recv(65536)
        if not chunk:
            break
        now = time.time() * 1000
        buffer += chunk
        while b"\n\n" in buffer:
            event, buffer = buffer.split(b"\n\n", 1)
            if b"event: player" in event and player.encode() in event and b'"status"' in event:
                arrivals.append(now)


def row(ms):
    return f"{statistics.median(ms):10.1f} {sorted(ms)[int(len(ms) * 0.95) - 1]:10.1f} {max(ms):10.1f}"


def main():
    token = open(os.environ["TOKEN_FILE"]).read().strip()
    driver = browser()
    try:
        # The first page: the sign-in, as a browser that never came before gets it.
        health = loads(driver, "/healthz", "return document.readyState === 'complete'")
        console = loads(driver, "/", "return document.readyState === 'complete' && "
                                     "!document.getElementById('login').hidden")
        # Signed in: until the dashboard shows the players' count.
        driver.find_element(By.ID, "password").send_keys(os.environ["PASSWORD"], Keys.ENTER)
        until(lambda: driver.execute_script("return !document.getElementById('top').hidden"))
        dashboard = loads(driver, "/#dashboard", "const c = document.getElementById('online-count'); "
                                                 "return c && c.textContent !== ''")

        # Feedback to the page: one player whose playback flips each round.
        player = "BENCH-0000"
        udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        udp.sendto(feedback(player, 1), ("127.0.0.1", 5001))
        driver.get(URL + "/#players")
        until(lambda: driver.execute_script(
            "return document.querySelector('#players-table tr[data-id=\"BENCH-0000\"]') !== null"))
        driver.execute_script("""
          window.want = ''; window.seen = 0;
          new MutationObserver(() => {
            const row = document.querySelector('#players-table tr[data-id="BENCH-0000"]');
            if (!window.seen && window.want && row && row.cells[4].textContent.trim().startsWith(window.want))
              window.seen = Date.now();
          }).observe(document.getElementById('players-view'), {subtree: true, childList: true, characterData: true});""")
        arrivals, stop = [], threading.Event()
        threading.Thread(target=events_client, args=(token, player, arrivals, stop), daemon=True).start()
        time.sleep(0.5)
        page_ms, stream_ms = [], []
        for i in range(ROUNDS):
            playback = 0 if i % 2 == 0 else 1
            driver.execute_script("window.want = arguments[0]; window.seen = 0;", "pause" if playback == 0 else "play")
            before = len(arrivals)
            sent = time.time() * 1000
            udp.sendto(feedback(player, playback), ("127.0.0.1", 5001))
            seen = until(lambda: driver.execute_script("return window.seen"), 10, 0.005)
            page_ms.append(seen - sent)
            until(lambda: len(arrivals) > before, 5)
            stream_ms.append(arrivals[before] - sent)
            time.sleep(0.25)
        stop.set()
    finally:
        driver.quit()

    print(f"{ROUNDS} rounds each, headless Chromium {driver.capabilities.get('browserVersion', '')}, loopback, no cache")
    print(f"{'':44}{'median ms':>10} {'p95 ms':>10} {'max ms':>10} {'x ref':>8} {'files':>6} {'bytes':>9} {'body':>9}")
    ref = statistics.median(health[0])
    for name, (times, size, body, files) in (("GET /healthz (reference)", health),
                                              ("first page: the sign-in, loaded", console),
                                              ("signed in: the dashboard shows its counts", dashboard)):
        print(f"{name:44}{row(times)} {statistics.median(times) / ref:8.1f} {files:6d} {size:9d} {body:9d}")
    print()
    print(f"{'feedback datagram to ...':44}{'median ms':>10} {'p95 ms':>10} {'max ms':>10} {'x ref':>8}")
    ref = statistics.median(stream_ms)
    print(f"{'  ... the event on a bare client (reference)':44}{row(stream_ms)} {1.0:8.1f}")
    print(f"{'  ... the change on the players page':44}{row(page_ms)} {statistics.median(page_ms) / ref:8.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
