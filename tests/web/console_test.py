#!/usr/bin/python3
"""The web console driven in headless Chromium, as an operator would: sign in,
upload media, build a playlist by dragging, send it to every simulated player
and see them turn READY, pause one, watch the players go offline live, and
export the proof of play. Run by web_console_test.sh inside its namespace."""
import glob
import json
import os
import signal
import sys
import time

import headless
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

URL = os.environ["URL"]
OUT = os.environ["OUT"]
SHOTS = os.environ.get("SHOTS", "")
PLAYERS = int(os.environ.get("PLAYERS", "50"))
checks = headless.Checks()
check, until = checks.check, checks.until


def choose(driver, select_id, text):
    """Picks an option; a list refreshed meanwhile replaces the options, so try again."""
    def picked():
        Select(driver.find_element(By.ID, select_id)).select_by_visible_text(text)
        return Select(driver.find_element(By.ID, select_id)).first_selected_option.text == text
    return check(until(picked, 10), f"{text} is chosen")


def browser(width, height):
    return headless.browser(width, height, OUT)


# HTML5 drag and drop cannot be performed through WebDriver: the page's own
# drag events are sent with one DataTransfer, as a mouse drag sends them.
DRAG = """
const [source, target, after] = arguments;
const data = new DataTransfer();
const r = target.getBoundingClientRect();
const at = {bubbles: true, cancelable: true, dataTransfer: data, clientX: r.left + 5,
            clientY: after ? r.bottom - 2 : r.top + 2};
source.dispatchEvent(new DragEvent('dragstart', {bubbles: true, dataTransfer: data}));
target.dispatchEvent(new DragEvent('dragenter', at));
target.dispatchEvent(new DragEvent('dragover', at));
target.dispatchEvent(new DragEvent('drop', at));
source.dispatchEvent(new DragEvent('dragend', {bubbles: true, dataTransfer: data}));
"""

FETCH = """
const [method, path, headers, done] = arguments;
fetch(path, {method, headers: Object.assign({'Content-Type': 'application/json'}, headers),
             body: method === 'GET' ? undefined : '{"name": "Forged"}', credentials: 'same-origin'})
  .then(async (r) => done([r.status, await r.text()]));
"""

# Every control has a name a screen reader can say.
UNLABELLED = """
return [...document.querySelectorAll('#page input, #page select, #page textarea')].filter((el) =>
  !el.hidden && !el.getAttribute('aria-label') && !el.closest('label') &&
  !(el.id && document.querySelector(`label[for="${el.id}"]`))).map((el) => el.outerHTML.slice(0, 80));
"""


# Text against the background it is drawn on: at least 4.5:1.
LOW_CONTRAST = """
const rgb = (text) => (text.match(/[\\d.]+/g) || []).map(Number);
const lum = ([r, g, b]) => [r, g, b].map((v) => { v /= 255; return v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4; })
  .reduce((sum, v, i) => sum + v * [0.2126, 0.7152, 0.0722][i], 0);
const background = (el) => {
  for (; el; el = el.parentElement) {
    const c = rgb(getComputedStyle(el).backgroundColor);
    if (c.length === 3 || c[3] > 0) return c.slice(0, 3);
  }
  return [255, 255, 255];
};
const low = [];
for (const el of document.querySelectorAll('body *')) {
  if (!el.offsetParent || ![...el.childNodes].some((n) => n.nodeType === 3 && n.textContent.trim())) continue;
  const style = getComputedStyle(el);
  if (el.disabled) continue;
  const a = lum(rgb(style.color)), b = lum(background(el));
  const ratio = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
  if (ratio < 4.5) low.push(`${el.tagName} "${el.textContent.trim().slice(0, 20)}" ${ratio.toFixed(2)}`);
}
return low;
"""


def table_rows(driver, body_id):
    return [r.text for r in driver.find_elements(By.CSS_SELECTOR, f"#{body_id} tr")]


def page(driver, name):
    driver.execute_script(f"location.hash = '#{name}'")
    until(lambda: driver.find_element(By.CSS_SELECTOR, "#page h1").text.lower().startswith(name[:4]), 5)


def table(driver):
    return driver.execute_script(
        "return [...document.querySelectorAll('#players-table tbody tr[data-id]')].map((r) => "
        "[...r.cells].slice(1).map((c) => c.textContent.trim()))")


def playlist_items(driver, playlist_id):
    status, body = driver.execute_async_script(FETCH, "GET", f"/api/playlists/{playlist_id}", {})
    return [(i["file"], i.get("file_length")) for i in json.loads(body)["items"]]


def main():
    driver = browser(1366, 768)
    try:
        driver.get(URL + "/")
        check(until(lambda: driver.find_element(By.ID, "login").is_displayed(), 10), "the sign-in page loads")
        hosts = driver.execute_script(
            "return [...performance.getEntriesByType('resource')].map((e) => new URL(e.name).host)")
        check(hosts and all(h == "127.0.0.1:5080" for h in hosts),
              f"everything it loads comes from the service itself ({len(hosts)} files)")

        password = driver.find_element(By.ID, "password")
        password.send_keys("not the password", Keys.ENTER)
        check(until(lambda: "wrong" in driver.find_element(By.ID, "password-error").text, 10),
              "a wrong password is refused, next to the field")
        password.clear()
        password.send_keys(os.environ["PASSWORD"], Keys.ENTER)
        check(until(lambda: driver.find_element(By.ID, "top").is_displayed()
                    and driver.find_element(By.ID, "online-count").text != "", 10), "the right one opens the dashboard")
        cookie = driver.get_cookie("tavri_session")
        check(cookie and cookie["httpOnly"] and cookie.get("sameSite") == "Strict",
              "the session cookie is HttpOnly and SameSite=Strict")

        status, _ = driver.execute_async_script(FETCH, "POST", "/api/playlists", {})
        check(status == 403, f"a change without the CSRF token is refused ({status})")
        status, _ = driver.execute_async_script(FETCH, "POST", "/api/playlists", {"X-CSRF-Token": "0" * 64})
        check(status == 403, f"and with a wrong one ({status})")
        status, body = driver.execute_async_script(FETCH, "GET", "/api/playlists", {})
        check(status == 200 and "Forged" not in body, "and nothing was made")

        # Upload two media.
        page(driver, "content")
        media = os.environ["MEDIA"].split(":")
        driver.find_element(By.ID, "file-input").send_keys("\n".join(media))
        names = [os.path.basename(m) for m in media]
        check(until(lambda: all(driver.find_elements(By.CSS_SELECTOR, f'#content-list tr[data-file="{n}"]')
                                for n in names), 30), "two media are uploaded and listed")
        check(until(lambda: driver.find_element(By.ID, "uploads").text.count("uploaded") == 2, 5),
              "each upload shows its own progress to the end")

        # A playlist built by dragging.
        page(driver, "playlists")
        driver.find_element(By.ID, "pl-new").click()
        driver.find_element(By.ID, "ask-field-0").send_keys("Lobby", Keys.ENTER)
        check(until(lambda: driver.find_element(By.CSS_SELECTOR, '#pl-list button[aria-pressed="true"]').text == "Lobby"),
              "a playlist is made in a dialog")
        playlist_id = driver.find_element(By.CSS_SELECTOR, '#pl-list button[aria-pressed="true"]').get_attribute("data-id")
        def drag(source, target, after=False):  # CSS selectors: found again if the list was redrawn meanwhile
            for _ in range(20):
                try:
                    return driver.execute_script(DRAG, driver.find_element(By.CSS_SELECTOR, source),
                                                 driver.find_element(By.CSS_SELECTOR, target), after)
                except StaleElementReferenceException:
                    time.sleep(0.1)
            raise RuntimeError(f"{source} or {target} kept being redrawn")
        item = lambda n: f'#palette li[data-file="{n}"]'
        drag(item(names[0]), "#items tr.drop-end")
        until(lambda: len(driver.find_elements(By.CSS_SELECTOR, "#items tr[data-index]")) == 1, 10)
        drag(item(names[1]), '#items tr[data-index="0"]')
        until(lambda: len(driver.find_elements(By.CSS_SELECTOR, "#items tr[data-index]")) == 2, 10)
        check(until(lambda: [f for f, _ in playlist_items(driver, playlist_id)] == [names[1], names[0]], 10),
              "content dragged in lands where it is dropped")
        drag('#items tr[data-index="0"]', '#items tr[data-index="1"]', True)
        check(until(lambda: [f for f, _ in playlist_items(driver, playlist_id)] == names, 10), "and a row dragged down moves")

        def type_seconds():  # again if the list was redrawn before the field had the focus
            seconds = driver.find_element(By.CSS_SELECTOR, 'input[data-seconds="0"]')
            seconds.click()  # from here the list is not redrawn under the operator's typing
            time.sleep(0.5)
            seconds.send_keys(Keys.CONTROL, "a")
            seconds.send_keys("7", Keys.TAB)
            return True
        until(type_seconds, 10)
        check(until(lambda: playlist_items(driver, playlist_id)[0] == (names[0], 7), 10), "the image's length is set")

        # Sent to every player, which turn READY live.
        page(driver, "players")
        check(until(lambda: len(table(driver)) == PLAYERS, 30), f"all {PLAYERS} players are listed")
        choose(driver, "send-list", "Lobby")
        driver.find_element(By.ID, "send-all").click()
        # A list to every player is confirmed first, naming how many.
        check(until(lambda: f"{PLAYERS} players" in driver.find_element(By.ID, "ask-title").text, 10),
              "sending to all asks first, naming how many players")
        driver.find_element(By.ID, "ask-ok").click()
        check(until(lambda: all(r[2] == "READY" and r[4] == "Lobby" for r in table(driver)), 90),
              "sent to all: every player plays Lobby and turns READY, without a reload")
        first = driver.find_element(By.CSS_SELECTOR, "#players-table tbody tr[data-id]")
        first_id = first.get_attribute("data-id")
        first.find_element(By.CSS_SELECTOR, "input[type=checkbox]").click()
        choose(driver, "command", "PAUSE")
        driver.find_element(By.ID, "command-selected").click()
        row = lambda: driver.find_element(By.CSS_SELECTOR, f'#players-table tr[data-id="{first_id}"]')
        check(until(lambda: row().find_elements(By.TAG_NAME, "td")[4].text.startswith("pause"), 30),
              f"PAUSE to one player: {first_id} pauses")
        check(sum(r[3].startswith("play") for r in table(driver)) == PLAYERS - 1, "the others play on")

        # A group: made in a dialog, the selected player added, selected again by the group.
        driver.find_element(By.ID, "group-new").click()
        driver.find_element(By.ID, "ask-field-0").send_keys("Cafeteria", Keys.ENTER)
        check(until(lambda: "Cafeteria" in driver.find_element(By.ID, "group-select").text, 10), "a group is made in a dialog")
        driver.find_element(By.ID, "group-add").click()
        check(until(lambda: "(1 online" in driver.find_element(By.ID, "group-select").text, 10),
              "the selected player joins it")
        box = lambda: row().find_element(By.CSS_SELECTOR, "input[type=checkbox]")
        until(lambda: box().click() or True, 10)  # again if the row was redrawn under the click
        check(until(lambda: " 0 selected" in driver.find_element(By.ID, "count").text, 10), "and is deselected")
        driver.find_element(By.ID, "group-choose").click()
        check(until(lambda: " 1 selected" in driver.find_element(By.ID, "count").text and box().is_selected(), 10),
              "choosing the group selects its player")

        check(until(lambda: row().find_elements(By.TAG_NAME, "td")[7].text == "Cafeteria", 10),
              "its row names its group")
        check(until(lambda: "Lobby ›" in row().find_elements(By.TAG_NAME, "td")[6].text, 10),
              "and says what it shows now")

        # An announcement to the group: a banner on every page until it is ended.
        driver.find_element(By.ID, "announce").click()
        Select(driver.find_element(By.ID, "ask-field-2")).select_by_visible_text("group Cafeteria (1)")
        driver.find_element(By.ID, "ask-ok").click()
        banner = lambda: driver.find_element(By.ID, "announcement")
        check(until(lambda: banner().is_displayed() and "group:Cafeteria (1 players)" in banner().text, 10),
              "an announcement to the group shows its banner")
        page(driver, "dashboard")
        check(banner().is_displayed(), "on every page")
        if SHOTS:
            os.makedirs(SHOTS, exist_ok=True)
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                   {"width": 1366, "height": 768, "deviceScaleFactor": 1, "mobile": False})
            page(driver, "players")
            time.sleep(0.8)
            driver.save_screenshot(f"{SHOTS}/announcement_players_1366x768.png")
            driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
        driver.find_element(By.ID, "announcement-end").click()
        check(until(lambda: not banner().is_displayed(), 10), "End takes it away")
        page(driver, "players")

        # A weekday daypart: Monday to Friday in the week view, not Saturday.
        page(driver, "schedules")
        driver.find_element(By.ID, "sc-new").click()
        driver.find_element(By.ID, "ask-field-0").send_keys("Breakfast", Keys.ENTER)
        until(lambda: driver.find_element(By.CSS_SELECTOR, '#sc-list button[aria-pressed="true"]').text.startswith("Breakfast"), 10)
        driver.find_element(By.ID, "task-add").click()
        for day in ("mon", "tue", "wed", "thu", "fri"):
            driver.find_element(By.CSS_SELECTOR, f'#tasks input[data-day="{day}"]').click()
        end = driver.find_element(By.CSS_SELECTOR, '#tasks input[data-key="end_time"]')
        driver.execute_script("arguments[0].value = '10:30'; arguments[0].dispatchEvent(new Event('change', {bubbles: true}))", end)
        driver.find_element(By.ID, "tasks-save").click()
        days = lambda: driver.execute_script("return [...document.querySelectorAll('#week .day')].map((d) => d.innerText)")
        check(until(lambda: all("08:00–10:30" in d for d in days()[:5]) and not any("08:00" in d for d in days()[5:]), 10),
              "a weekday daypart shows Monday to Friday, not at the weekend")
        if SHOTS:
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                   {"width": 1366, "height": 768, "deviceScaleFactor": 1, "mobile": False})
            time.sleep(0.8)
            driver.execute_script("document.getElementById('week').scrollIntoView({block: 'center', inline: 'nearest'})")
            driver.save_screenshot(f"{SHOTS}/weekday_schedule_1366x768.png")
            driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
        driver.find_element(By.ID, "week-next").click()
        check(until(lambda: driver.find_element(By.ID, "week-head").text.startswith("Week of") and "08:00–10:30" in days()[0], 5),
              "and in the week after")
        saved = [s for s in json.loads(driver.execute_async_script(FETCH, "GET", "/api/schedules", {})[1]) if s["name"] == "Breakfast"]
        schedule = json.loads(driver.execute_async_script(FETCH, "GET", f"/api/schedules/{saved[0]['id']}", {})[1])
        check(schedule["tasklist"][0].get("days") == "Mon Tue Wed Thu Fri" and schedule["tasklist"][0].get("end_time") == "10:30",
              "the server keeps its days and end time")
        page(driver, "players")

        driver.find_element(By.ID, "filter").send_keys(first_id)
        check(until(lambda: len(table(driver)) == 1), "the filter finds one player by id")
        driver.find_element(By.ID, "filter").clear()
        driver.find_element(By.ID, "filter").send_keys(" ", Keys.BACKSPACE)

        # Screenshots of every page at two sizes, and a tablet's.
        if SHOTS:
            os.makedirs(SHOTS, exist_ok=True)
            # Two desks, and a 10-inch tablet lying and standing.
            for width, height in ((1366, 768), (1920, 1080), (1280, 800), (800, 1280)):
                # The page's own size, whatever the window around it takes.
                driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                       {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})
                for name in ("dashboard", "players", "playlists", "content", "schedules", "history"):
                    page(driver, name)
                    if name == "content":
                        driver.find_element(By.CSS_SELECTOR, f'#content-list tr[data-file="{names[1]}"] button').click()
                    if name == "playlists":
                        driver.find_element(By.CSS_SELECTOR, f'#pl-list button[data-id="{playlist_id}"]').click()
                    if name == "schedules" and not driver.find_elements(By.CSS_SELECTOR, "#sc-list button"):
                        driver.find_element(By.ID, "sc-new").click()
                        driver.find_element(By.ID, "ask-field-0").send_keys("Week", Keys.ENTER)
                        until(lambda: driver.find_elements(By.CSS_SELECTOR, '#sc-list button[aria-pressed="true"]'))
                        for _ in range(2):
                            driver.find_element(By.ID, "task-add").click()
                        driver.find_element(By.ID, "tasks-save").click()
                    time.sleep(0.8)
                    driver.save_screenshot(f"{SHOTS}/{name}_{width}x{height}.png")
                    if name == "players":
                        driver.find_element(By.ID, "view-map").click()
                        time.sleep(0.5)
                        driver.save_screenshot(f"{SHOTS}/players_map_{width}x{height}.png")
                        driver.find_element(By.ID, "view-table").click()
            driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})

        # The contrast check itself sees pale text.
        driver.execute_script("const p = document.createElement('p'); p.id = 'pale'; p.textContent = 'pale';"
                              "p.style.color = '#aaa'; document.getElementById('page').append(p)")
        check(any("pale" in t for t in driver.execute_script(LOW_CONTRAST)), "the contrast check finds pale text")
        for name in ("dashboard", "players", "playlists", "content", "schedules", "history"):
            page(driver, name)
            time.sleep(0.3)
            missing = driver.execute_script(UNLABELLED)
            check(not missing, f"every control on {name} has a label {missing[:2] if missing else ''}")
            low = driver.execute_script(LOW_CONTRAST)
            check(not low, f"and its text has at least 4.5:1 contrast {low[:3] if low else ''}")

        # The players fall silent: the dashboard counts them offline by itself.
        page(driver, "dashboard")
        driver.execute_script("window.notReloaded = true")
        check(until(lambda: driver.find_element(By.ID, "offline-count").text == "0", 10), "no player is offline")
        os.kill(int(os.environ["SIM_PID"]), signal.SIGTERM)
        check(until(lambda: driver.find_element(By.ID, "offline-count").text == str(PLAYERS), 40),
              f"the simulator stops: the offline count turns {PLAYERS}")
        check(driver.execute_script("return window.notReloaded === true"), "without a reload")

        # Proof of play, exported as a file.
        downloads = os.path.join(OUT, "downloads")
        os.makedirs(downloads, exist_ok=True)
        driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
        page(driver, "history")
        to = driver.find_element(By.ID, "pop-to")
        driver.execute_script("arguments[0].value = '2000-01-01'", to)
        driver.find_element(By.ID, "pop-export").click()
        check(until(lambda: to.get_attribute("aria-invalid") == "true"
                    and driver.find_element(By.CSS_SELECTOR, '[data-error-for="to"]').text, 10),
              "a refused range is explained next to its field")
        driver.execute_script("arguments[0].value = new Date().toISOString().slice(0, 10)", to)
        driver.find_element(By.ID, "pop-export").click()
        check(until(lambda: glob.glob(f"{downloads}/proof_of_play_*.csv"), 20), "the proof of play is exported")
        files = glob.glob(f"{downloads}/proof_of_play_*.csv")
        if files:
            check(open(files[0]).readline().startswith("player id,"), "as the CSV the window writes")

        # The audit names this browser's changes, and is the admin's to see.
        page(driver, "audit")
        check(until(lambda: any("admin (admin)" in r and "/api/send" in r for r in table_rows(driver, "audit-rows")), 15),
              "the audit page shows what this browser sent, and who sent it")
        if SHOTS:
            driver.execute_script("document.querySelector('#toast').hidden = true")
            driver.save_screenshot(f"{SHOTS}/audit_1366x768.png")
        page(driver, "people")
        check(until(lambda: any(r.startswith("trainee") for r in table_rows(driver, "users")), 10),
              "the people page lists the accounts")

        driver.find_element(By.ID, "sign-out").click()
        check(until(lambda: driver.find_element(By.ID, "login").is_displayed(), 10), "signing out shows the sign-in")
        status, _ = driver.execute_async_script(FETCH, "GET", "/api/players", {})
        check(status == 401, "and the session is closed")

        # A viewer sees the players and can change nothing.
        driver.find_element(By.ID, "user").send_keys("trainee")
        driver.find_element(By.ID, "password").send_keys(os.environ["VIEWER_PASSWORD"], Keys.ENTER)
        check(until(lambda: "trainee (viewer)" in driver.find_element(By.ID, "me").text, 10), "a viewer signs in by name")
        check(not driver.find_element(By.CSS_SELECTOR, 'a[data-page="audit"]').is_displayed(), "without the admin's pages")
        for name, controls in (("players", ("command-selected", "send-all", "remove-players", "group-new")),
                               ("playlists", ("pl-new",)), ("schedules", ("sc-new",))):
            page(driver, name)
            check(until(lambda: all(not driver.find_element(By.ID, c).is_enabled() for c in controls), 10),
                  f"the {name} page has its change controls disabled")
            if name == "players":
                check(driver.find_element(By.ID, "filter").is_enabled(), "but the filter still works")
                if SHOTS:
                    driver.save_screenshot(f"{SHOTS}/viewer_players_1366x768.png")
        _, signed_in = driver.execute_async_script(FETCH, "GET", "/api/session", {})
        status, _ = driver.execute_async_script(FETCH, "POST", "/api/playlists", {"X-CSRF-Token": json.loads(signed_in)["csrf"]})
        check(status == 403, "and the server refuses a change the page would not offer")
        # Refusals the test asked for are logged as failed loads; anything else is the page's own fault.
        faults = headless.script_errors(driver)
        check(not faults, f"no script error on any page {faults[:3]}")
    finally:
        driver.quit()
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
