#!/usr/bin/python3
"""The players page with a large fleet, in headless Chromium (run by
web_scale_bench.sh inside a private network namespace, once per fleet size).
Times are the page's own clock, from the action to the frame after it; the
reference is the same measure around an action that does nothing."""
import glob
import json
import os
import statistics
import sys
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "web"))
import headless  # noqa: E402

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

URL = "http://127.0.0.1:5080"
SIZE = int(os.environ["SIZE"])
ROUNDS = int(os.environ.get("ROUNDS", "5"))

# Runs an action in the page, and answers the ms from its start to the next frame drawn.
TIMED = """
const [what, arg, done] = arguments;
const t0 = performance.now();
if (what === 'filter') {
  const input = document.getElementById('filter');
  input.value = arg;
  input.dispatchEvent(new Event('input', {bubbles: true}));
} else if (what === 'click') {
  document.querySelector(arg).click();
} else if (what === 'scroll') {
  const box = document.getElementById('players-view');
  box.scrollTop = (box.scrollTop + arg) % Math.max(1, box.scrollHeight - box.clientHeight);
}
const t1 = performance.now();
requestAnimationFrame(() => setTimeout(() => done([performance.now() - t0, t1 - t0])));
"""

# The longest gap between two frames from now on, and the long tasks.
WATCH = """
window.gap = 0; window.longest = 0;
let last = performance.now();
const frame = (t) => { window.gap = Math.max(window.gap, t - last); last = t; if (!window.stopWatch) requestAnimationFrame(frame); };
requestAnimationFrame(frame);
new PerformanceObserver((l) => l.getEntries().forEach((e) => { window.longest = Math.max(window.longest, e.duration); }))
  .observe({type: 'longtask'});
"""

COMMAND = """
const done = arguments[arguments.length - 1];
fetch('/api/session').then((r) => r.json()).then((s) => fetch('/api/commands', {method: 'POST', credentials: 'same-origin',
  headers: {'Content-Type': 'application/json', 'X-CSRF-Token': s.csrf}, body: JSON.stringify({command: 'PLAY', players: 'all'})}))
  .then((r) => done(r.status));
"""


def browser():
    driver = headless.browser(script_timeout=60)
    driver.execute_cdp_cmd("Performance.enable", {})
    return driver


def until(condition, seconds=60, step=0.005):
    return headless.wait_for(condition, seconds, step)


def start_profile(driver):
    driver.execute_cdp_cmd("Profiler.enable", {})
    driver.execute_cdp_cmd("Profiler.setSamplingInterval", {"interval": 100})
    driver.execute_cdp_cmd("Profiler.start", {})


def print_profile(driver):
    """Where the page's time went (PROFILE=keys or PROFILE=play), on stderr."""
    prof = driver.execute_cdp_cmd("Profiler.stop", {})["profile"]
    selfs = {}
    dt = prof["timeDeltas"]
    by_id = {n["id"]: n for n in prof["nodes"]}
    for sample, delta in zip(prof["samples"], dt):
        f = by_id[sample]["callFrame"]
        key = f"{f['functionName'] or '(anon)'} {f['url'].split('/')[-1]}:{f['lineNumber']}"
        selfs[key] = selfs.get(key, 0) + delta / 1000
    for k, v in sorted(selfs.items(), key=lambda kv: -kv[1])[:25]:
        print(f"    {v:8.1f} ms  {k}", file=sys.stderr)


def registered(token):
    request = urllib.request.Request(URL + "/api/players?fields=id&limit=1", headers={"Authorization": f"Bearer {token}"})
    return json.load(urllib.request.urlopen(request))["total"]


def tab_mb():
    """The resident memory of the page's renderer (the largest one of this browser)."""
    sizes = []
    for status in glob.glob("/proc/[0-9]*/status"):
        try:
            cmdline = open(status.replace("status", "cmdline"), "rb").read()
            if b"--type=renderer" not in cmdline:
                continue
            rss = [line for line in open(status) if line.startswith("VmRSS:")]
            sizes.append(int(rss[0].split()[1]) / 1024)
        except (OSError, IndexError):
            pass
    return max(sizes, default=0)


def metrics(driver):
    """Elements in the page, and the JS heap in MB after a collection."""
    driver.execute_cdp_cmd("HeapProfiler.collectGarbage", {})
    m = {x["name"]: x["value"] for x in driver.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]}
    return driver.execute_script("return document.getElementsByTagName('*').length"), m["JSHeapUsedSize"] / 2**20


def row(name, pairs):
    ms = sorted(p[0] for p in pairs)
    work = sorted(p[1] for p in pairs)
    print(f"  {name:46}{statistics.median(ms):9.1f} {ms[-1]:9.1f} {statistics.median(work):9.1f} {work[-1]:9.1f}", flush=True)


def main():
    token = open(os.environ["TOKEN_FILE"]).read().strip()
    until(lambda: registered(token) >= SIZE, 120, 0.5)
    driver = browser()
    try:
        driver.get(URL + "/")
        until(lambda: driver.find_element(By.ID, "password").is_displayed(), 20)
        driver.find_element(By.ID, "password").send_keys(os.environ["PASSWORD"], Keys.ENTER)
        until(lambda: driver.execute_script("return !document.getElementById('top').hidden"))
        shows = []
        for _ in range(ROUNDS):
            driver.get("about:blank")
            driver.get(URL + "/#players")
            shown = until(lambda: driver.execute_script(
                "return document.querySelector('#players-table tr[data-id]') ? performance.now() : 0"), 60, 0.002)
            shows.append((shown, shown))
        until(lambda: driver.execute_script("return document.getElementById('count').textContent.startsWith(arguments[0])",
                                            f"{SIZE} players"), 30)
        time.sleep(1)
        nodes, heap = metrics(driver)
        start_mb = tab_mb()
        # What the page does while the fleet only reports: its share of the main thread.
        busy = lambda: {x["name"]: x["value"] for x in driver.execute_cdp_cmd("Performance.getMetrics", {})["metrics"]}
        before = busy()
        time.sleep(3)
        after = busy()
        idle = {k: (after[k] - before[k]) / 3 for k in ("TaskDuration", "ScriptDuration", "LayoutDuration",
                                                       "RecalcStyleDuration", "LayoutCount")}
        timed = lambda what, arg: driver.execute_async_script(TIMED, what, arg)
        nothing = [timed("none", "") for _ in range(ROUNDS * 4)]
        if os.environ.get("PROFILE") == "keys":
            start_profile(driver)
            for _ in range(5):
                for text in ("S", "SI", "SIM", ""):
                    timed("filter", text)
                timed("click", 'button[data-sort="state"]')
            print_profile(driver)
        keys = []
        for _ in range(ROUNDS):
            for text in ("S", "SI", "SIM", "SIM-", "SIM-00", "SIM-001", ""):
                keys.append(timed("filter", text))
        sorts = [timed("click", f'button[data-sort="{key}"]') for _ in range(ROUNDS) for key in ("state", "state", "name")]
        selects = [timed("click", "#select-all") for _ in range(ROUNDS * 2)]
        scrolls = [timed("scroll", 400) for _ in range(ROUNDS * 4)]
        timed("click", "#view-map")
        time.sleep(0.5)
        pans = [timed("scroll", 300) for _ in range(ROUNDS * 4)]
        timed("click", "#view-table")
        # Scrolled to the end: still only the rows in sight are in the page.
        driver.execute_script("const b = document.getElementById('players-view'); b.scrollTop = b.scrollHeight;")
        time.sleep(0.3)
        scrolled_nodes, _ = metrics(driver)
        driver.execute_script(WATCH)
        if os.environ.get("PROFILE") == "play":
            start_profile(driver)
        status = driver.execute_async_script(COMMAND)
        time.sleep(8)
        if os.environ.get("PROFILE") == "play":
            print_profile(driver)
        gap, longest = driver.execute_script("window.stopWatch = true; return [window.gap, window.longest]")
        end_mb = tab_mb()
        end_nodes, end_heap = metrics(driver)
    finally:
        driver.quit()

    print(f"{SIZE} players, headless Chromium at 1366x768, {ROUNDS} rounds; ms from the action to the next frame")
    print(f"  {'':46}{'to frame':>19} {'in the handler':>19}")
    print(f"  {'':46}{'median':>9} {'max':>9} {'median':>9} {'max':>9}")
    row("a frame with no action (reference)", nothing)
    row("reload until the rows show", shows)
    row("filter keystroke to the redraw", keys)
    row("sort (by state, reversed, by name)", sorts)
    row("select all / none", selects)
    row("scroll the table by 12 rows", scrolls)
    row("pan the map (canvas) by 300 px", pans)
    print(f"  {'after PLAY to all (' + str(status) + '), over 8 s:':46}longest frame gap {gap:.0f} ms, "
          f"longest task {longest:.0f} ms (0: none over 50 ms)")
    print(f"  {'the tab (renderer) memory':46}{start_mb:.0f} -> {end_mb:.0f} MB; JS heap {heap:.0f} -> {end_heap:.0f} MB")
    print(f"  {'while players only report, a second holds':46}{idle['TaskDuration'] * 1000:.0f} ms of tasks "
          f"({idle['ScriptDuration'] * 1000:.0f} script, {idle['LayoutDuration'] * 1000:.0f} layout, "
          f"{idle['RecalcStyleDuration'] * 1000:.0f} style; {idle['LayoutCount']:.0f} layouts)")
    print(f"  {'elements in the page':46}{nodes:.0f} at the top, {scrolled_nodes:.0f} at the end, {end_nodes:.0f} after PLAY")
    print(flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
