"""Headless Chromium as the web console's tests and benchmarks drive it:
nothing fetched from anywhere but the page's server, the page's own
console kept for a look at script errors."""
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys


def browser(width=1366, height=768, profile_dir=None, script_timeout=20):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-quic", f"--window-size={width},{height}",
                 f"--user-data-dir={tempfile.mkdtemp(dir=profile_dir)}"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(script_timeout)
    return driver


def sign_in(driver, url, password, until):
    """The console at `url`, signed in as its admin with `password`."""
    driver.get(url + "/")
    until(lambda: driver.find_element(By.ID, "password").is_displayed(), 20)
    driver.find_element(By.ID, "password").send_keys(password, Keys.ENTER)
    until(lambda: not driver.find_element(By.ID, "top").get_attribute("hidden"), 20)


def script_errors(driver):
    """What the page's scripts got wrong; refusals a test asked for are logged
    as failed loads, and are not the page's fault."""
    return [e["message"] for e in driver.get_log("browser")
            if e["level"] == "SEVERE" and "Failed to load resource" not in e["message"]]


def wait_for(condition, seconds=20, step=0.002):
    """The first true answer of `condition`, polled until the deadline."""
    end = time.time() + seconds
    while time.time() < end:
        value = condition()
        if value:
            return value
        time.sleep(step)
    raise TimeoutError("the page did not show it")


class Checks:
    """A test's checks: each printed as it goes, the failures counted for the exit status."""

    def __init__(self, poll=0.2):
        self.failures = 0
        self.poll = poll

    def check(self, ok, what):
        print(("ok: " if ok else "FAILED: ") + what, flush=True)
        self.failures += 0 if ok else 1
        return ok

    def until(self, condition, seconds=30):
        """The first true answer of `condition` within `seconds`, or None; a page
        redrawing under the question is asked again."""
        end = time.time() + seconds
        while time.time() < end:
            try:
                value = condition()
                if value:
                    return value
            except Exception:  # the page is redrawing
                pass
            time.sleep(self.poll)
        return None
