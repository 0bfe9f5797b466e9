#!/usr/bin/python3
"""The explorer's page in a real browser: Debian's Chromium, headless, driven by selenium.

    tests/browser_test.py PROGRAM DESKTOP_SCREENSHOT PHONE_SCREENSHOT

Starts PROGRAM (muller-explorer) on a free port of 127.0.0.1 and drives its page at 1280 x 800 and as a
390 x 844 phone: tiles load; a link with x1 = 1 + i shows muller's first report, draws its path, and
x0's and x1's markers are in the map and clear of the panel; a click selects the pixel under the pointer
and shows that search, with its far point marked at the edge; Back restores the previous selection;
Enter selects the pixel at the map's centre; a double click zooms and selects nothing; "save" writes a
PNG with the overlays; broken links (a bad escape, level 46) and an x0 of 1e21 still give
a usable map. A polynomial typed in (z^3 - 1) reloads the tiles and lists its three roots in the legend;
dragging a root gives the polynomial by its roots (tiles with r=) and changes the map; the screenshots of
a degree-5 polynomial with complex coefficients and of dragged roots go beside the desktop's. No console
error or warning anywhere. Bounded: four minutes at most, each wait 30 s.
"""
import json
import os
import select
import signal
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request
import zlib

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys
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


def browser(profile, downloads, width, height, phone):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    # As root Chromium needs --no-sandbox; the machine has no network, so nothing may call out.
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + profile, "--window-size=%d,%d" % (width, height)):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    # The page's own size, whatever the window's frame takes: the clicks below count pixels from it.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": phone})
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    driver.set_page_load_timeout(30)
    driver.set_script_timeout(30)
    return driver


def console_clean(driver):
    """Fails on any console message of level warning or above since the last call."""
    bad = [e for e in driver.get_log("browser") if e["level"] in ("WARNING", "SEVERE")]
    if bad:
        fail("console: %r" % bad)


def open_page(driver, url, fragment):
    driver.get("about:blank")  # a new document, so that the resource timings below are this page's own
    driver.get(url + fragment)


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


def text_of(driver, element_id):
    return driver.find_element("id", element_id).get_attribute("textContent")


def report_shown(driver, expected):
    WebDriverWait(driver, 30).until(lambda d: text_of(d, "report") == expected)


def report_of(url, x1):
    with urllib.request.urlopen(url + "report?x0=0,0&x1=%s,%s" % x1, timeout=10) as answer:
        return json.loads(answer.read())["report"]


def rect(driver, element):
    return driver.execute_script("const r = arguments[0].getBoundingClientRect();"
                                 "return [r.left, r.top, r.right, r.bottom];", element)


def starts_in_view(driver):
    """x0's and x1's markers (by their labels) lie inside the map and clear of the panel."""
    map_box = rect(driver, driver.find_element("id", "map"))
    panel = rect(driver, driver.find_element("id", "panel"))
    labels = {e.text: rect(driver, e) for e in driver.find_elements("css selector", ".point-label")}
    for name in ("x0", "x1"):
        box = labels.get(name)
        if box is None:
            fail("no %s marker in view; labels: %r" % (name, sorted(labels)))
        inside = map_box[0] <= box[0] and box[2] <= map_box[2] and map_box[1] <= box[1] and box[3] <= map_box[3]
        under = box[0] < panel[2] and panel[0] < box[2] and box[1] < panel[3] and panel[1] < box[3]
        if not inside or under:
            fail("%s's marker at %r: map %r, panel %r" % (name, box, map_box, panel))


def read_png(path):
    """Width, height and the RGBA rows of an 8-bit RGBA PNG, as Chromium writes a canvas."""
    with open(path, "rb") as f:
        data = f.read()
    at, chunks, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks += body
        at += 12 + length
    width, height, depth, colour, _, _, interlace = header
    if (depth, colour, interlace) != (8, 6, 0):
        fail("saved PNG is not 8-bit RGBA: %r" % (header,))
    raw, stride, rows, previous = zlib.decompress(chunks), width * 4, [], bytearray(width * 4)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            predictor = [0, a, b, (a + b) // 2, a if pa <= pb and pa <= pc else b if pb <= pc else c][kind]
            line[i] = (line[i] + predictor) & 0xFF
        rows.append(line)
        previous = line
    return width, height, rows


def saved_with_overlays(driver, downloads):
    driver.find_element("id", "save").click()
    deadline = time.monotonic() + 30
    names = []
    while time.monotonic() < deadline:
        names = [n for n in os.listdir(downloads) if n.endswith(".png")]
        if names:
            break
        time.sleep(0.2)
    if not names:
        fail("save wrote no PNG")
    width, height, rows = read_png(os.path.join(downloads, names[0]))
    size = driver.execute_script("const r = document.getElementById('map').getBoundingClientRect();"
                                 "return [r.width, r.height];")
    if [width, height] != [round(v) for v in size]:
        fail("saved PNG is %d x %d, the map %r" % (width, height, size))
    # The ring around the zero is pure yellow, which no tile has; the orange of (1 + i)/sqrt 2's basin
    # shows that the tiles are there too.
    yellow = sum(1 for row in rows for x in range(0, len(row), 4)
                 if row[x] > 240 and row[x + 1] > 240 and row[x + 2] < 30)
    orange = sum(1 for row in rows for x in range(0, len(row), 4)
                 if row[x] > 200 and 130 < row[x + 1] < 170 and row[x + 2] < 20)
    if yellow < 30 or orange < 1000:
        fail("saved PNG: %d yellow pixels of the ring, %d orange ones of the tiles" % (yellow, orange))


def first_search(driver, url, first_report):
    """A link with x1 = 1 + i and no view: the report, its start points named, the path in view."""
    open_page(driver, url, "#x1=1,1")
    tiles_settled(driver)
    report_shown(driver, first_report)
    if "x1 = 1,1" not in text_of(driver, "search-line"):
        fail("the search line does not name x1: %r" % text_of(driver, "search-line"))
    starts_in_view(driver)


def tile_urls(driver, part):
    return driver.execute_script(
        "return performance.getEntriesByType('resource').map(e => e.name)"
        ".filter(n => n.includes('/tile/') && n.includes(arguments[0]));", part)


def legend_classes(driver, count):
    WebDriverWait(driver, 30).until(
        lambda d: len(d.find_elements("css selector", "#legend .legend-class")) == count
        and len(d.find_elements("css selector", ".root-marker")) >= count)
    return [e.get_attribute("textContent") for e in driver.find_elements("css selector", "#legend .legend-class")]


def type_polynomial(driver, kind, text):
    driver.find_element("css selector", "#poly-kind option[value='%s']" % kind).click()
    field = driver.find_element("id", "poly")
    field.clear()
    field.send_keys(text + Keys.ENTER)


def polynomials(driver, url, screenshot):
    """Types z^3 - 1, then drags its first root; a degree-5 polynomial and the dragged roots are shot."""
    open_page(driver, url, "#z=0&c=0,0")
    tiles_settled(driver)
    legend_classes(driver, 4)
    type_polynomial(driver, "poly", "z^3 - 1")
    WebDriverWait(driver, 30).until(lambda d: "&coef=1;0;0;-1" in d.current_url)
    WebDriverWait(driver, 30).until(lambda d: tile_urls(d, "&c=1;0;0;-1"))
    tiles_settled(driver)
    legend = legend_classes(driver, 3)
    if not legend[0].startswith("raíz 1 (1,0)"):
        fail("the legend of z^3 - 1: %r" % legend)
    shown = driver.find_element("css selector", "img.leaflet-tile-loaded").get_attribute("src")

    marker = [m for m in driver.find_elements("css selector", ".root-marker") if m.text == "1"][0]
    # Dragged in steps, as a hand would: 60 pixels left and 50 down at level 0 (64 to a unit) take it
    # from 1 to about 0.06 - 0.78i (Leaflet takes the first few pixels for a click's tolerance).
    drag = ActionChains(driver).click_and_hold(marker)
    for _ in range(10):
        drag = drag.move_by_offset(-6, 5)
    drag.release().perform()
    WebDriverWait(driver, 30).until(lambda d: "&roots=" in d.current_url)
    first = [float(v) for v in driver.current_url.split("&roots=")[1].split(";")[0].split(",")]
    if len(first) != 2 or abs(first[0] - 0.0625) > 0.15 or abs(first[1] + 0.78) > 0.15:  # 10 pixels
        fail("root 1 dragged to %r: %s" % (first, driver.current_url))
    WebDriverWait(driver, 30).until(lambda d: tile_urls(d, "&r="))
    tiles_settled(driver)
    legend = legend_classes(driver, 3)
    if any(e.startswith("raíz 1 (1,0)") for e in legend) or "r=" not in driver.find_element(
            "css selector", "img.leaflet-tile-loaded").get_attribute("src") or shown.find("r=") >= 0:
        fail("after the drag: legend %r, url %s" % (legend, driver.current_url))
    if "--roots " not in text_of(driver, "poster-command"):
        fail("the poster's command: %r" % text_of(driver, "poster-command"))
    # The link keeps the roots: opened at level 1, it shows the same three classes, for the screenshot.
    open_page(driver, url, "#" + driver.current_url.split("#")[1].replace("z=0", "z=1"))
    tiles_settled(driver)
    legend_classes(driver, 3)
    driver.find_element("id", "map").screenshot(os.path.join(os.path.dirname(screenshot), "explorer-dragged.png"))

    type_polynomial(driver, "poly", "z^5 + (0.5-1i)z^3 - iz + 0.8")
    WebDriverWait(driver, 30).until(lambda d: "&coef=1;0;0.5,-1;0;0,-1;0.8" in d.current_url)
    WebDriverWait(driver, 30).until(lambda d: tile_urls(d, "&c=1;0;0.5,-1;0;0,-1;0.8"))
    tiles_settled(driver)
    legend_classes(driver, 5)
    if "--poly 'z^5 + (0.5-1i)*z^3 - 1i*z + 0.8'" not in text_of(driver, "poster-command"):
        fail("the poster's command: %r" % text_of(driver, "poster-command"))
    open_page(driver, url, "#z=1&c=0,0&x0=0,0&coef=1;0;0.5,-1;0;0,-1;0.8")
    tiles_settled(driver)
    legend_classes(driver, 5)
    driver.find_element("id", "map").screenshot(os.path.join(os.path.dirname(screenshot), "explorer-degree5.png"))

    type_polynomial(driver, "poly", "sin(z)")
    if "sin(z)" not in text_of(driver, "poly-problem"):
        fail("sin(z) gets %r" % text_of(driver, "poly-problem"))


def desktop(url, first_report, profile, downloads, screenshot):
    driver = browser(profile, downloads, 1280, 800, False)
    try:
        first_search(driver, url, first_report)
        overflow = driver.execute_script("const r = document.getElementById('report');"
                                         "return r.scrollWidth - r.clientWidth;")
        if overflow > 0:
            fail("the report is %d pixels wider than its panel" % overflow)
        # The path: a line through x1 and the eight points, the start points and the zero marked.
        paths = [p.get_attribute("d") for p in driver.find_elements("css selector", ".leaflet-overlay-pane path")]
        line = max(paths, key=lambda d: d.count("L"))
        if line.count("L") != 8:
            fail("the path has %d segments, not 8: %s" % (line.count("L"), line))
        labels = [t.text for t in driver.find_elements("css selector", ".point-label")]
        if not {"x0", "x1", "1", "raíz"} <= set(labels):
            fail("labels: %r" % labels)
        saved_with_overlays(driver, downloads)

        # Level 2, 256 pixels to a unit, the map's centre at x1 = 0.625. A click 250 pixels left of the
        # centre and 38 below selects the pixel there, in a petal of the flower: its centre is
        # x1 = (0.625 + (-250 + 1/2) / 256, -(38 + 1/2) / 256).
        open_page(driver, url, "#z=2&c=0.625,0&x0=0,0&x1=1,1")
        tiles_settled(driver)
        report_shown(driver, first_report)
        size = driver.execute_script("const r = document.getElementById('map').getBoundingClientRect();"
                                     "return [r.width, r.height];")
        if size[0] % 2 or size[1] % 2:
            fail("a map of odd size %r puts the centre between pixels" % size)
        ActionChains(driver).move_to_element_with_offset(
            driver.find_element("id", "map"), -250, 38).click().perform()
        x1 = ("-0.349609375", "-0.150390625")
        WebDriverWait(driver, 30).until(lambda d: "&x1=%s,%s" % x1 in d.current_url)
        report_shown(driver, report_of(url, x1))
        # Its secant step leaps to (6.26, -17.03): marked at the map's edge with its number.
        edges = [e.text for e in driver.find_elements("css selector", ".edge-label")]
        if not any(" 1" in e or e.endswith("1") for e in edges):
            fail("the far point 1 is not marked at the edge: %r" % edges)
        tiles_settled(driver)
        driver.save_screenshot(screenshot)

        # Back returns to the previous selection, x1 = 1 + i.
        driver.back()
        WebDriverWait(driver, 30).until(lambda d: "&x1=1,1" in d.current_url)
        report_shown(driver, first_report)

        # Broken links: a bad escape, a level past the deepest; each gives a usable map and says why.
        for fragment, level in (("#z=3&c=0,0&x0=%&x1=1,1", "3"), ("#z=46&c=0.5,0.5", "45")):
            open_page(driver, url, fragment)
            tiles_settled(driver)
            if text_of(driver, "level") != level or not text_of(driver, "notice"):
                fail("%s: level %r, notice %r" % (fragment, text_of(driver, "level"), text_of(driver, "notice")))
        # By the keyboard: Enter selects the pixel under the crosshair, at the centre of the map.
        open_page(driver, url, "#z=3&c=1.0009765625,0.9990234375")
        tiles_settled(driver)
        driver.find_element("id", "map").send_keys(Keys.ENTER)
        WebDriverWait(driver, 30).until(lambda d: "&x1=1.0009765625,0.9990234375" in d.current_url)

        # A double click at the centre zooms around it and selects nothing: after it, a click 40 pixels
        # right of the centre and 40 below selects x1 = (0.625 + 40.5 / 512, -40.5 / 512) at level 3,
        # and makes the one new history entry (a selection of the double click's would come first).
        open_page(driver, url, "#z=2&c=0.625,0")
        tiles_settled(driver)
        entries = driver.execute_script("return history.length;")
        ActionChains(driver).move_to_element(driver.find_element("id", "map")).double_click().perform()
        WebDriverWait(driver, 30).until(lambda d: text_of(d, "level") == "3")
        ActionChains(driver).move_to_element_with_offset(
            driver.find_element("id", "map"), 40, 40).click().perform()
        WebDriverWait(driver, 30).until(lambda d: "&x1=" in d.current_url)
        if "&x1=0.7041015625,-0.0791015625" not in driver.current_url:
            fail("after a double click, a click selected %s" % driver.current_url)
        if driver.execute_script("return history.length;") != entries + 1:
            fail("a double click and a click made %d history entries, not 1"
                 % (driver.execute_script("return history.length;") - entries))

        # An x0 with an exponent's '+' in its URL draws its tiles.
        field = driver.find_element("id", "x0")
        field.clear()
        field.send_keys("1e21,0" + Keys.ENTER)
        WebDriverWait(driver, 30).until(lambda d: "x0=1e+21,0" in d.current_url)
        tiles_settled(driver)
        field.clear()
        field.send_keys("0.5+0.25i" + Keys.ENTER)
        if "0.5+0.25i" not in text_of(driver, "x0-problem"):
            fail("the complex form gets %r" % text_of(driver, "x0-problem"))
        polynomials(driver, url, screenshot)
        console_clean(driver)
    finally:
        driver.quit()


def phone(url, first_report, profile, downloads, screenshot):
    driver = browser(profile, downloads, 390, 844, True)
    try:
        first_search(driver, url, first_report)
        widths = driver.execute_script(
            "return [...document.querySelectorAll('#legend .swatch')].map(e => e.getBoundingClientRect().width)"
            ".concat([document.getElementById('x0').getBoundingClientRect().right, innerWidth]);")
        if min(widths[:-2]) < 12 or widths[-2] > widths[-1]:
            fail("on a phone: swatches %r wide, the x0 field ending at %r" % (widths[:-2], widths[-2]))
        driver.save_screenshot(screenshot)
        console_clean(driver)
    finally:
        driver.quit()


def main():
    program, desktop_shot, phone_shot = sys.argv[1], sys.argv[2], sys.argv[3]
    signal.alarm(240)
    with open(os.path.join(HERE, "expected_report.txt")) as f:
        first_report = "".join(f.readlines()[:11])  # muller's search from 0 and 1 + i
    if not first_report.rstrip("\n").endswith(
            "muller       8  iteraciones   raiz= (0.7071067812,0.7071067812) funcion= (-2.220446049e-16,0)"):
        fail("the expected report is not muller's first")
    server, url = start(program)
    try:
        with tempfile.TemporaryDirectory() as profile, tempfile.TemporaryDirectory() as downloads:
            desktop(url, first_report, profile, downloads, desktop_shot)
        with tempfile.TemporaryDirectory() as profile, tempfile.TemporaryDirectory() as downloads:
            phone(url, first_report, profile, downloads, phone_shot)
    finally:
        server.send_signal(signal.SIGTERM)
        status = server.wait(timeout=10)
    if status != 0:
        fail("the program ended with status %d on SIGTERM" % status)
    print("browser test: desktop and phone as expected; screenshots in %s and %s" % (desktop_shot, phone_shot))


if __name__ == "__main__":
    main()
