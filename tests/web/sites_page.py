#!/usr/bin/python3
"""A hub's Sites page in headless Chromium (run by many_sites_test.sh while
one site is cut off): every site listed with its health, the cut one
offline, and a click on a site shows its players."""
import os
import sys
import time

from selenium.webdriver.common.by import By

import headless

URL = "http://127.0.0.1:5080"
checks = headless.Checks()
check, until = checks.check, checks.until


def main():
    driver = headless.browser(profile_dir=os.environ["OUT"])
    try:
        headless.sign_in(driver, URL, os.environ["PASSWORD"], until)
        link = driver.find_element(By.CSS_SELECTOR, 'header nav a[data-page="sites"]')
        check(until(link.is_displayed, 10), "a hub's console offers the Sites page")
        driver.execute_script("location.hash = '#sites'")
        count = lambda: driver.find_element(By.ID, "site-count").text
        check(until(lambda: count().startswith("3 sites: 2 online, 1 offline"), 30), f"the page counts the sites ({count()})")
        row = driver.find_element(By.CSS_SELECTOR, 'tr[data-site="s2"]')
        check("offline" in row.text and "offline" in row.get_attribute("class"), "the cut site reads offline")
        driver.find_element(By.CSS_SELECTOR, 'tr[data-site="s1"] button').click()
        players = os.environ["PLAYERS"]
        check(until(lambda: f"Players of s1: {players}" in driver.find_element(By.ID, "site-players").text, 10),
              "a click on a site shows its players")
        if os.environ.get("SHOTS"):
            time.sleep(0.5)  # the table's last paint
            driver.save_screenshot(f"{os.environ['SHOTS']}/web_sites_one_offline_1366x768.png")
        check(not headless.script_errors(driver), f"no script error ({headless.script_errors(driver)[:3]})")
    finally:
        driver.quit()
    return 1 if checks.failures else 0


if __name__ == "__main__":
    sys.exit(main())
