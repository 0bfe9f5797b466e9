#!/usr/bin/python3
"""The explorer's page in a real browser: Debian's Chromium, headless, driven by selenium.

    tests/browser_test.py PROGRAM SCREENSHOT

Starts PROGRAM (muller-explorer) on a free port of 127.0.0.1 and checks that the page loads with no
failed tile; that opened with x1 = 1 + i in its hash it shows muller's first report and draws its path;
that a click selects the pixel under the pointer and shows that search's report. Saves a screenshot to
SCREENSHOT. Bounded: two minutes at most, every wait ten to thirty seconds.
"""
import json
import os
import select
import signal
import subprocess
import sys
import tempfile
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.support.ui import WebDriverWait

HERE = os.path.dirname(os.path.abspath(__file__))


def fail(message):
    print("browser test: " + message, file=sys.stderr)
    sys.exit(1)


def start(program):
    server = subprocess.Popen([program, "--port", "0", "-j", "2"], stdout=subprocess.PIPE, text=True)
    ready, _, _ = select.select([server.stdout], [], [], 10)
    url = server.stdout.readline().strip() if ready else ""
    if not url.startswith("http://127.0.0.1:"):
        server.kill()
        fail("the program printed no address: %r" % url)
    return server, url


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # As root Chromium needs --no-sandbox; the machine has no network, so nothing may call out.
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + profile, "--window-size=1400,900"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    # The page's own size, whatever the window's frame takes: the clicks below count pixels from it.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1400, "height": 900, "deviceScaleFactor": 1, "mobile": False})
    driver.set_page_load_timeout(30)
    driver.set_script_timeout(30)
    return driver


def tiles_settled(driver):
    """Waits for the visible tiles, then checks that none failed, by the page's count and the browser's."""
    wait = WebDriverWait(driver, 30)
    wait.until(lambda d: d.find_element("id", "map").get_attribute("data-tiles-loading") == "0"
               and int(d.find_element("id", "map").get_attribute("data-tiles-loaded")) > 0)
    if driver.find_element("id", "map").get_attribute("data-tiles-failed") != "0":
        fail("tiles failed to load")
    statuses = driver.execute_script(
        "return performance.getEntriesByType('resource')"
        ".filter(e => e.name.includes('/tile/')).map(e => [e.name, e.responseStatus]);")
    bad = [s for s in statuses if s[1] != 200]
    if not statuses or bad:
        fail("tile responses: %r" % (bad or "none"))


def report_shown(driver, expected):
    WebDriverWait(driver, 10).until(
        lambda d: d.find_element("id", "report").get_attribute("textContent") == expected)


def report_of(url, x1):
    with urllib.request.urlopen(url + "report?x0=0,0&x1=%s,%s" % x1, timeout=10) as answer:
        return json.loads(answer.read())["report"]


def main():
    program, screenshot = sys.argv[1], sys.argv[2]
    signal.alarm(120)
    with open(os.path.join(HERE, "expected_report.txt")) as f:
        first_report = "".join(f.readlines()[:11])  # muller's search from 0 and 1 + i
    server, url = start(program)
    try:
        with tempfile.TemporaryDirectory() as profile:
            driver = browser(profile)
            try:
                # Level 2, 256 pixels to a unit, the centre of the window at x1 = 0.625 (160 pixels
                # right of 0, so that the flower stands clear of the panel on the right).
                driver.get(url + "#z=2&c=0.625,0&x0=0,0&x1=1,1")
                tiles_settled(driver)
                report_shown(driver, first_report)
                if not first_report.rstrip("\n").endswith(
                        "muller       8  iteraciones   raiz= (0.7071067812,0.7071067812) "
                        "funcion= (-2.220446049e-16,0)"):
                    fail("the expected report is not muller's first")
                # The path: a line through x1 and the eight points, the start points and the zero marked.
                paths = [p.get_attribute("d") for p in driver.find_elements("css selector", ".leaflet-overlay-pane path")]
                line = max(paths, key=lambda d: d.count("L"))
                if line.count("L") != 8:
                    fail("the path has %d segments, not 8: %s" % (line.count("L"), line))
                if len(paths) != 1 + 2 + 8 + 1:
                    fail("%d shapes drawn, not the line, 2 start points, 8 points and the zero" % len(paths))
                labels = [t.text for t in driver.find_elements("css selector", ".point-label")]
                if not {"x0", "x1", "1", "raiz"} <= set(labels):
                    fail("labels: %r" % labels)

                # A click 250 pixels left of the centre and 38 below selects the pixel there, in a petal
                # of the flower: its centre is x1 = (0.625 + (-250 + 1/2) / 256, -(38 + 1/2) / 256).
                size = driver.execute_script("return [innerWidth, innerHeight];")
                if size[0] % 2 or size[1] % 2:
                    fail("a window of odd size %r puts the centre between pixels" % size)
                ActionChains(driver).move_to_element_with_offset(
                    driver.find_element("id", "map"), -250, 38).click().perform()
                x1 = ("-0.349609375", "-0.150390625")
                WebDriverWait(driver, 10).until(lambda d: "&x1=%s,%s" % x1 in d.current_url)
                report_shown(driver, report_of(url, x1))
                tiles_settled(driver)
                driver.save_screenshot(screenshot)
            finally:
                driver.quit()
    finally:
        server.send_signal(signal.SIGTERM)
        status = server.wait(timeout=10)
    if status != 0:
        fail("the program ended with status %d on SIGTERM" % status)
    print("browser test: page, tiles, report, path and click as expected; screenshot in " + screenshot)


if __name__ == "__main__":
    main()
