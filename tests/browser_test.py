#!/usr/bin/python3
"""The explorer's page in a real browser: Debian's Chromium, headless, driven by selenium.

    tests/browser_test.py PROGRAM DESKTOP_SCREENSHOT PHONE_SCREENSHOT

Starts PROGRAM (muller-explorer) on a free port of 127.0.0.1 and drives its page at 1280 x 800 and as a
390 x 844 phone. At both sizes: the first view shows the whole square as large as the map takes; a link
with x1 = 1 + i shows muller's first report, draws its path with x0's and x1's markers in the map, and
no label covers a marker or another label or leaves the map; "save" after a pan writes a PNG named
after the view whose circles and root markers are where the screen has them; a click selects the pixel
under the pointer and never moves the map (at level 30 too on the desktop), and Back restores the
selection; x0 is read as RE,IM or as a complex number and echoed; + zooms one level with Shift; Tab
shows the map's focus ring and reaches a root marker, whose focus shows and whose arrow keys move the
root by one pixel (ten with Shift); the poster's command, run by bash with the build's muller-basins,
writes the file it names, the tiles' pixels exactly; the method chosen draws its tiles and report, a
second method compared draws its own on a second map (one at a time on a phone, with a switch), both
reports' first points are the methods' own, the plot has a line per series and method, and the maps
pan together. On the desktop also: the far point marked at the edge, broken links, Enter, a double
click, a polynomial typed, a root dragged, a degree-5 polynomial and two methods side by side
(screenshots beside the desktop's), refusals that say what to write. No console error or warning
anywhere. Bounded: four minutes at most, each wait 30 s.
"""
import base64
import json
import math
import os
import select
import shlex
import signal
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.actions.action_builder import ActionBuilder
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from browser_support import FOCUS, decoded_pixels, fail, labels_clear, poster_matches_tiles, screen_pixels

HERE = os.path.dirname(os.path.abspath(__file__))


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
                     "--force-color-profile=srgb", "--user-data-dir=" + profile,
                     "--window-size=%d,%d" % (width, height)):
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


def wait(driver, condition):
    return WebDriverWait(driver, 30).until(condition)


def open_page(driver, url, fragment):
    driver.get("about:blank")  # a new document, so that the resource timings below are this page's own
    driver.get(url + fragment)


def tiles_settled(driver, element="map"):
    """Waits for the visible tiles, then checks that none failed, by the page's count and the browser's."""
    wait(driver, lambda d: d.find_element("id", element).get_attribute("data-tiles-loading") == "0"
         and int(d.find_element("id", element).get_attribute("data-tiles-loaded") or 0) > 0)
    if driver.find_element("id", element).get_attribute("data-tiles-failed") != "0":
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
    wait(driver, lambda d: text_of(d, "report") == expected)


def report_of(url, x1):
    with urllib.request.urlopen(url + "report?x0=0,0&x1=%s,%s" % x1, timeout=10) as answer:
        return json.loads(answer.read())["report"]


def hash_fields(driver):
    return dict(p.split("=", 1) for p in driver.current_url.split("#", 1)[1].split("&"))


def map_box(driver, element="map"):
    return driver.execute_script("const m = document.getElementById(arguments[0]), r = m.getBoundingClientRect();"
                                 "return [r.left, r.top, m.clientWidth, m.clientHeight];", element)


def click_at(driver, dx, dy, element="map"):
    """A click dx, dy pixels from the map's centre as Leaflet counts it (half its whole pixels): a map of a
    fractional height leaves the element's own centre between pixels."""
    left, top, width, height = map_box(driver, element)
    actions = ActionBuilder(driver)
    actions.pointer_action.move_to_location(int(left + width // 2 + dx), int(top + height // 2 + dy))
    actions.pointer_action.click()
    actions.perform()


def first_search(driver, url, first_report, downloads, wide, screenshot):
    """A link with x1 = 1 + i and no view: the first view, the report (whole in its box on a wide screen, at 11 pixels at
    least inside its box on a phone), the path, its start points named, labels clear of markers; then a
    pan and "save": the saved PNG has the circles and root markers where the screen has them."""
    open_page(driver, url, "#x1=1,1")
    tiles_settled(driver)
    # Row 9: with no view in the address, the whole square, at the deepest level at which it fits.
    _, _, width, height = map_box(driver)
    fields = hash_fields(driver)
    side = 256 * 2 ** int(fields["z"])
    if fields["c"] != "0,0" or not side <= min(width, height) < 2 * side:
        fail("the first view of a %d x %d map: %r" % (width, height, fields))
    report_shown(driver, first_report)
    if "x1 = 1,1" not in text_of(driver, "search-line"):
        fail("the search line does not name x1: %r" % text_of(driver, "search-line"))
    overflow = driver.execute_script("const r = document.getElementById('report'); return r.scrollWidth - r.clientWidth;")
    if wide and overflow > 0:
        fail("the report is %d pixels wider than its panel" % overflow)
    # The path: a line through x1 and the eight points, the start points and the zero marked.
    line = max((p.get_attribute("d") for p in driver.find_elements("css selector", ".path-line")),
               key=lambda d: d.count("L"))
    if line.count("L") != 8:
        fail("the path has %d segments, not 8: %s" % (line.count("L"), line))
    labels = labels_clear(driver)
    if not {"x0", "x1", "raíz"} <= set(labels):
        fail("labels: %r" % labels)
    if not wide:
        # Row 4, and the panel's parts in the width of a phone: the page never scrolls sideways.
        widths = driver.execute_script(
            "return [...document.querySelectorAll('#legend .swatch')].map(e => e.getBoundingClientRect().width)"
            ".concat([document.getElementById('x0').getBoundingClientRect().right, innerWidth,"
            " parseFloat(getComputedStyle(document.getElementById('report')).fontSize),"
            " document.documentElement.scrollWidth]);")
        if min(widths[:-4]) < 12 or widths[-4] > widths[-3] or widths[-2] < 11 or widths[-1] > widths[-3]:
            fail("on a phone: swatches %r wide, the x0 field ending at %r of %r, the report at %r px, the page "
                 "%r wide" % (widths[:-4], widths[-4], widths[-3], widths[-2], widths[-1]))
        driver.save_screenshot(screenshot)
    # A drag pans the map; the path's labels are placed again.
    ActionChains(driver).move_to_element_with_offset(driver.find_element("id", "map"), -20, 30) \
        .click_and_hold().move_by_offset(-15, -20).move_by_offset(-15, -20).release().perform()
    wait(driver, lambda d: hash_fields(d)["c"] != "0,0")
    tiles_settled(driver)
    labels_clear(driver)
    saved_matches_screen(driver, downloads)


def saved_matches_screen(driver, downloads):
    """Row 2: the saved PNG is the map's size, named after the view, and each of the path's circles and
    each root marker is at the same place in it as on the screen."""
    before = set(os.listdir(downloads))
    driver.find_element("id", "save").click()
    deadline = time.monotonic() + 30
    names = []
    while not names and time.monotonic() < deadline:
        names = [n for n in set(os.listdir(downloads)) - before if n.endswith(".png")]
        time.sleep(0.1)
    if not names:
        fail("save wrote no PNG")
    fields = hash_fields(driver)
    if not names[0].startswith("muller-z4+1-nivel%s-" % fields["z"]):
        fail("the saved PNG is named %r for the view %r" % (names[0], fields))
    with open(os.path.join(downloads, names[0]), "rb") as f:
        png = f.read()
    left, top, width, height = map_box(driver)
    marks = driver.execute_script("""
        const o = document.getElementById('map').getBoundingClientRect();
        return [...document.querySelectorAll('.path-start, .path-point, .path-ring, .root-marker')].map(e => {
          const r = e.getBoundingClientRect();
          return [e.classList[0].replace('leaflet-marker-icon', 'root-marker'), Math.round(r.left + r.width / 2 - o.left),
                  Math.round(r.top + r.height / 2 - o.top), r.width / 2, getComputedStyle(e).backgroundColor];
        });""")
    kinds = [m[0] for m in marks if 14 <= m[1] < width - 14 and 14 <= m[2] < height - 14]
    if kinds.count("path-start") < 2 or "path-ring" not in kinds or "root-marker" not in kinds:
        fail("too few marks in view to compare: %r" % marks)
    # Where each mark shows its own colour: a start's black centre and white ring, a point's white
    # centre, the zero's yellow ring, a root marker's colour beside its number; unless a root marker,
    # which lies over the path, covers the place.
    roots = [(x, y) for kind, x, y, _, _ in marks if kind == "root-marker"]
    places = []
    for kind, x, y, half, colour in marks:
        if 14 <= x < width - 14 and 14 <= y < height - 14:
            rgb = [int(v) for v in colour[colour.index("(") + 1:colour.index(")")].split(",")[:3]] \
                if kind == "root-marker" else None
            places += [(p, want) for p, want in {
                "path-start": [((x, y), (0, 0, 0)), ((x + 6, y), (255, 255, 255))],
                "path-point": [((x, y), (255, 255, 255))],
                "path-ring": [((x + 11, y), (255, 255, 0))],
                "root-marker": [((x - 6, y), tuple(rgb or ()))]}.get(kind, [])
                if kind == "root-marker" or all(max(abs(p[0] - a), abs(p[1] - b)) > 11 for a, b in roots)]
    size, got = decoded_pixels(driver, png, [p for p, _ in places])
    if size != [width, height]:
        fail("saved PNG is %r, the map %r" % (size, [width, height]))
    wrong = [(p, want, have[:3]) for (p, want), have in zip(places, got)
             if max(abs(a - b) for a, b in zip(want, have)) > 40]
    if wrong:
        fail("the saved PNG differs from the screen at %r" % wrong)


def click_selects(driver, url, first_report, offset, x1, far=False):
    """Row 3: a click selects the pixel under it and never moves the map; a second click on the same spot
    selects the same point (no history entry), and Back restores the previous selection."""
    open_page(driver, url, "#z=2&c=0.625,0&x0=0,0&x1=1,1")
    tiles_settled(driver)
    report_shown(driver, first_report)
    _, _, width, height = map_box(driver)
    if width % 2 or height % 2:
        fail("a map of odd size %r puts the centre between pixels" % [width, height])
    view = {k: v for k, v in hash_fields(driver).items() if k in ("z", "c")}
    entries = driver.execute_script("return history.length;")
    click_at(driver, *offset)
    wait(driver, lambda d: "&x1=%s,%s" % x1 in d.current_url)
    report_shown(driver, report_of(url, x1))
    if far:
        # Its secant step leaps to (6.26, -17.03): marked at the map's edge with its number.
        edges = [e.text for e in driver.find_elements("css selector", ".edge-label")]
        if not any(" 1" in e or e.endswith("1") for e in edges):
            fail("the far point 1 is not marked at the edge: %r" % edges)
    labels_clear(driver)
    # The same spot again, then 20 pixels right: one entry more, and the point where an unmoved map has it.
    click_at(driver, *offset)
    click_at(driver, offset[0] + 20, offset[1])
    moved = "&x1=%r,%s" % (float(x1[0]) + 20 / 256, x1[1])
    wait(driver, lambda d: moved in d.current_url)
    now = {k: v for k, v in hash_fields(driver).items() if k in ("z", "c")}
    if now != view or driver.execute_script("return history.length;") != entries + 2:
        fail("clicks moved the map to %r from %r, or made %d entries" % (
            now, view, driver.execute_script("return history.length;") - entries))
    driver.back()
    wait(driver, lambda d: "&x1=%s,%s" % x1 in d.current_url)
    report_shown(driver, report_of(url, x1))


def deep_click(driver, url):
    """Row 3 at level 30: the report comes, and the map stays at its level and centre."""
    open_page(driver, url, "#z=30&c=0.3,0.2&x0=0,0")
    tiles_settled(driver)
    click_at(driver, 10, 10)
    wait(driver, lambda d: "x1 = " in text_of(d, "search-line") and text_of(d, "report").startswith("    Metodo"))
    fields = hash_fields(driver)
    if fields["z"] != "30" or fields["c"] != "0.3,0.2":
        fail("a click at level 30 moved the map: %r" % fields)


def x0_read(driver):
    """Row 5, on the page as it is: 0,5 is 0 + 5i, said at once; the complex form and spaces are read; a bad
    value is named."""
    field = driver.find_element("id", "x0")
    for typed, echoed, address in (("0,5", "x0 = 0 + 5i", None), ("-i", "x0 = 0 - 1i", None),
                                   (" -1 , 2e-3 ", "x0 = -1 + 0.002i", None),
                                   ("0.5+0.25i", "x0 = 0.5 + 0.25i", "0.5,0.25")):
        field.clear()
        field.send_keys(typed)
        if text_of(driver, "x0-read") != echoed:
            fail("x0 %r is echoed as %r" % (typed, text_of(driver, "x0-read")))
        if address:
            field.send_keys(Keys.ENTER)
            wait(driver, lambda d: hash_fields(d)["x0"] == address)
            tiles_settled(driver)  # before the next: a tile dropped on its way counts as failed
    field.clear()
    field.send_keys("0.5+" + Keys.ENTER)
    if "termina antes de tiempo" not in text_of(driver, "x0-problem"):
        fail("x0 0.5+ gets %r" % text_of(driver, "x0-problem"))


def keyboard(driver, url):
    """Rows 6 and 7, on the page as it is (z^4 + 1, its root 1 in view): Shift and + zoom one level; the
    map's focus ring shows over the tiles; Tab then reaches root 1, whose focus shows; Right moves it one
    pixel, Shift and Up ten."""
    driver.execute_script("document.getElementById('map').focus();")
    level = int(hash_fields(driver)["z"])
    ActionChains(driver).key_down(Keys.SHIFT).send_keys("+").key_up(Keys.SHIFT).perform()
    wait(driver, lambda d: text_of(d, "level") == str(level + 1))
    tiles_settled(driver)
    ActionChains(driver).send_keys("-").perform()
    wait(driver, lambda d: text_of(d, "level") == str(level))
    tiles_settled(driver)
    left, top, width, height = map_box(driver)
    if screen_pixels(driver, [(left + 1, top + height // 2)])[0] != FOCUS:
        fail("the map's focus ring does not show")
    ActionChains(driver).send_keys(Keys.TAB).perform()
    marker = driver.switch_to.active_element
    if "root-marker" not in marker.get_attribute("class") or marker.text != "1":
        fail("Tab after the map reaches %r" % marker.get_attribute("outerHTML"))
    box = driver.execute_script("const r = arguments[0].getBoundingClientRect(); return [r.left, r.top];", marker)
    if screen_pixels(driver, [(box[0] - 3, box[1] + 10)])[0] != FOCUS:
        fail("a root marker's focus does not show")
    with urllib.request.urlopen(url + "roots", timeout=10) as answer:
        re, im = json.loads(answer.read())["classes"][0]["roots"][0]["z"]
    pixel = 2.0 ** -(6 + level)
    column, row = math.floor((re + 2) / pixel), math.floor((2 - im) / pixel)
    centre = lambda c, r: "%r,%r" % (-2 + c * pixel + pixel / 2, 2 - r * pixel - pixel / 2)
    for shift, key, (c, r) in ((False, Keys.ARROW_RIGHT, (column + 1, row)), (True, Keys.ARROW_UP, (column + 1, row - 10))):
        keys = ActionChains(driver)
        (keys.key_down(Keys.SHIFT).send_keys(key).key_up(Keys.SHIFT) if shift else keys.send_keys(key)).perform()
        wait(driver, lambda d: hash_fields(d).get("roots", "").startswith(centre(c, r) + ";"))
        wait(driver, lambda d: d.execute_script(
            "const e = document.activeElement; return e.classList.contains('root-marker') && e.title;")
             and centre(c, r) in d.execute_script("return document.activeElement.title;"))


def poster(driver, url, fragment, build):
    """Row 1: the poster's command at as many points a side as the map's larger side, run by bash with the
    build's muller-basins, writes the one file it names, after the view, and its pixels are the tiles'."""
    if fragment is not None:
        open_page(driver, url, fragment)
    tiles_settled(driver)
    _, _, width, height = map_box(driver)
    driver.find_element("css selector", "#poster summary").click()
    size = driver.find_element("id", "poster-size")
    size.clear()
    size.send_keys(str(max(width, height)))
    command = text_of(driver, "poster-command")
    words = shlex.split(command)
    name = words[words.index("-o") + 1]
    if words[0] != "muller-basins" or not name.startswith("muller-raices3-nivel%s-" % hash_fields(driver)["z"]):
        fail("the poster's command: %r" % command)
    with tempfile.TemporaryDirectory() as directory:
        run = subprocess.run(["bash", "-c", command], cwd=directory, capture_output=True, text=True, timeout=120,
                             env=dict(os.environ, PATH=build + os.pathsep + os.environ["PATH"]))
        if run.returncode != 0 or os.listdir(directory) != [name]:
            fail("%s: status %d, files %r, %s" % (command, run.returncode, os.listdir(directory), run.stderr))
        with open(os.path.join(directory, name), "rb") as f:
            compared, differ = poster_matches_tiles(driver, f.read())
    if compared < 30000 or differ:
        fail("the poster differs from the tiles at %d of %d pixels" % (differ, compared))


def tile_urls(driver, part):
    return driver.execute_script(
        "return performance.getEntriesByType('resource').map(e => e.name)"
        ".filter(n => n.includes('/tile/') && n.includes(arguments[0]));", part)


def legend_classes(driver, count):
    wait(driver, lambda d: len(d.find_elements("css selector", "#legend .legend-class")) == count
         and len(d.find_elements("css selector", ".root-marker")) >= count)
    return [e.get_attribute("textContent") for e in driver.find_elements("css selector", "#legend .legend-class")]


def type_polynomial(driver, kind, text):
    driver.find_element("css selector", "#poly-kind option[value='%s']" % kind).click()
    field = driver.find_element("id", "poly")
    field.clear()
    field.send_keys(text + Keys.ENTER)


def polynomials(driver, url, screenshot, build):
    """Types z^3 - 1, then drags its first root and runs the poster; a degree-5 polynomial and the dragged
    roots are shot; refusals say what to write instead."""
    open_page(driver, url, "#z=0&c=0,0")
    tiles_settled(driver)
    legend_classes(driver, 4)
    type_polynomial(driver, "poly", "z³ - 1")
    wait(driver, lambda d: "&coef=1;0;0;-1" in d.current_url)
    wait(driver, lambda d: tile_urls(d, "&c=1;0;0;-1"))
    tiles_settled(driver)
    legend = legend_classes(driver, 3)
    if not legend[0].startswith("raíz 1 (1,0)") or driver.title != "Método de Muller sobre z³ - 1: cuencas de las raíces":
        fail("the legend of z^3 - 1: %r, the title %r" % (legend, driver.title))
    shown = driver.find_element("css selector", "img.leaflet-tile-loaded").get_attribute("src")

    marker = [m for m in driver.find_elements("css selector", ".root-marker") if m.text == "1"][0]
    # Dragged in steps, as a hand would: 60 pixels left and 50 down at level 0 (64 to a unit) take it
    # from 1 to about 0.06 - 0.78i (Leaflet takes the first few pixels for a click's tolerance).
    drag = ActionChains(driver).click_and_hold(marker)
    for _ in range(10):
        drag = drag.move_by_offset(-6, 5)
    drag.release().perform()
    wait(driver, lambda d: "&roots=" in d.current_url)
    first = [float(v) for v in hash_fields(driver)["roots"].split(";")[0].split(",")]
    if len(first) != 2 or abs(first[0] - 0.0625) > 0.15 or abs(first[1] + 0.78) > 0.15:  # 10 pixels
        fail("root 1 dragged to %r: %s" % (first, driver.current_url))
    wait(driver, lambda d: tile_urls(d, "&r="))
    tiles_settled(driver)
    legend = legend_classes(driver, 3)
    if any(e.startswith("raíz 1 (1,0)") for e in legend) or "r=" not in driver.find_element(
            "css selector", "img.leaflet-tile-loaded").get_attribute("src") or shown.find("r=") >= 0:
        fail("after the drag: legend %r, url %s" % (legend, driver.current_url))
    poster(driver, url, None, build)
    # The link keeps the roots: opened at level 1, it shows the same three classes, for the screenshot.
    open_page(driver, url, "#" + driver.current_url.split("#")[1].replace("z=0", "z=1"))
    tiles_settled(driver)
    legend_classes(driver, 3)
    driver.find_element("id", "map").screenshot(os.path.join(os.path.dirname(screenshot), "explorer-dragged.png"))

    # Typed over the dragged roots' view, level 1 around 0: the degree-5 screenshot's view.
    type_polynomial(driver, "poly", "z^5 + (0.5-1i)z^3 - iz + 0.8")
    wait(driver, lambda d: "#z=1&c=0,0&x0=0,0&coef=1;0;0.5,-1;0;0,-1;0.8" in d.current_url)
    wait(driver, lambda d: tile_urls(d, "&c=1;0;0.5,-1;0;0,-1;0.8"))
    tiles_settled(driver)
    legend = legend_classes(driver, 5)
    numbers = [int(e.split()[1].rstrip(",")) for e in legend]
    if numbers != [1, 2, 3, 4, 5]:
        fail("the legend numbers its roots %r, not in the order shown" % legend)
    if "--poly 'z^5 + (0.5-1i)*z^3 - 1i*z + 0.8'" not in text_of(driver, "poster-command"):
        fail("the poster's command: %r" % text_of(driver, "poster-command"))
    driver.find_element("id", "map").screenshot(os.path.join(os.path.dirname(screenshot), "explorer-degree5.png"))

    for typed, says in (("sin(z)", "sin(z)"), ("(z-1)^3", "«raíces: 1;1;1»"), ("1 + z + 2", "repite el término constante")):
        type_polynomial(driver, "poly", typed)
        if says not in text_of(driver, "poly-problem"):
            fail("%s gets %r" % (typed, text_of(driver, "poly-problem")))


# The first points from x1 = 1 + i on z^4 + 1, derived by hand: Newton's x1 - p/p' is (1 + i) - (-3)/(-8 + 8i)
# = 0.8125 (1 + i); Halley's x1 - 2 p p' / (2 p'^2 - p p'') is 17/23 (1 + i). Their orders: 2 and 3.
METHODS = {"newton": ("Newton", "(0.8125,0.8125)", 2), "halley": ("Halley", "(0.7391304348,0.7391304348)", 3)}


def choose(driver, select, value):
    driver.find_element("css selector", "#%s option[value='%s']" % (select, value)).click()


def method_shown(driver, report, method, tiles=True):
    """The report's title and first point are the method's, its order beside it within 0.15 of the
    textbook's, and (with tiles) the map of that report, if it shows, draws the method's tiles."""
    title, first, order = METHODS[method]
    wait(driver, lambda d: text_of(d, report).startswith("    Metodo %s\n" % title))
    row = text_of(driver, report).split("\n")[2]
    line = text_of(driver, report.replace("report", "order-line"))
    if not row.startswith("         1   %s  " % first) or not line.startswith("orden estimado ≈ ") \
            or abs(float(line.split()[3].rstrip(".")) - order) > 0.15:
        fail("%s's first row %r, its order %r" % (title, row, line))
    element = report.replace("report", "map")
    if not tiles or element not in visible_maps(driver):
        return
    tiles_settled(driver, element)
    sources = driver.execute_script("return [...document.querySelectorAll('#' + arguments[0] + ' img.leaflet-tile')]"
                                    ".map(i => i.src).filter(s => s.includes('/tile/'));", element)
    if not sources or any("&m=%s" % method not in u for u in sources):
        fail("the tiles of %s's map: %r" % (title, sources[:3]))


def views_agree(driver, elements):
    """Each map shows the address's level and centre, to a pixel, read off a tile of that level on the
    screen: the tile at column x and row y has its top left corner 256 x and 256 y pixels from (-2, 2)."""
    fields = hash_fields(driver)
    level, centre = int(fields["z"]), [float(v) for v in fields["c"].split(",")]
    pixel = 2.0 ** -(6 + level)
    for element in elements:
        tiles_settled(driver, element)
        x, y, left, top, width, height = driver.execute_script("""
            const m = document.getElementById(arguments[0]), o = m.getBoundingClientRect();
            for (const t of m.querySelectorAll('img.leaflet-tile-loaded')) {
              const place = t.src.match(/tile\/(\d+)\/(\d+)\/(\d+)\.png/);
              if (place && Number(place[1]) === arguments[1]) {
                const r = t.getBoundingClientRect();
                return [Number(place[2]), Number(place[3]), r.left - o.left, r.top - o.top, m.clientWidth, m.clientHeight];
              }
            }
            return [0, 0, NaN, NaN, 0, 0];""", element, level)
        shown = (-2 + (256 * x + width / 2 - left) * pixel, 2 - (256 * y + height / 2 - top) * pixel)
        if not (abs(shown[0] - centre[0]) <= pixel and abs(shown[1] - centre[1]) <= pixel):
            fail("%s shows %r at level %d, not the address's %r" % (element, shown, level, centre))


def drag(driver, element):
    before = hash_fields(driver)["c"]
    ActionChains(driver).move_to_element_with_offset(driver.find_element("id", element), -20, 30) \
        .click_and_hold().move_by_offset(-15, -20).move_by_offset(-15, -20).release().perform()
    wait(driver, lambda d: hash_fields(d)["c"] != before)


def visible_maps(driver):
    return driver.execute_script("return [...document.querySelectorAll('.map')]"
                                 ".filter(m => getComputedStyle(m).visibility === 'visible').map(m => m.id);")


def methods(driver, url, wide):
    """At level 45 around 1 + i, where the pixels' centres are 1 + i to the report's digits: the method
    chosen draws its tiles (m= in their addresses) and its report; a second method compared adds a map
    with its own tiles and report, and the plot draws both; a click on the second map selects for both;
    the maps pan together, whichever is dragged. On a phone one map shows at a time, and its button
    shows the other, at the same view."""
    open_page(driver, url, "#z=45&c=1,1&x0=0,0&x1=1,1")
    tiles_settled(driver)
    choose(driver, "method", "newton")
    wait(driver, lambda d: hash_fields(d).get("m") == "newton")
    method_shown(driver, "report", "newton")
    choose(driver, "second", "halley")
    wait(driver, lambda d: hash_fields(d).get("m2") == "halley")
    if not wide:
        if visible_maps(driver) != ["map"]:
            fail("on a phone the maps shown are %r, not the first alone" % visible_maps(driver))
        driver.find_element("css selector", "#map .method-switch").click()
        wait(driver, lambda d: visible_maps(d) == ["map2"])
    method_shown(driver, "report2", "halley")
    series = driver.execute_script("return [...document.querySelectorAll('#convergence polyline')]"
                                   ".map(p => p.dataset.method + ' ' + p.getAttribute('class'));")
    if sorted(series) != ["%s series series-%s" % (m, s) for m in ("halley", "newton") for s in ("residual", "step")]:
        fail("the plot's lines: %r" % series)
    click_at(driver, 3, -3, "map2")
    wait(driver, lambda d: hash_fields(d).get("x1", "1,1") != "1,1")
    method_shown(driver, "report", "newton", False)
    method_shown(driver, "report2", "halley", False)
    drag(driver, "map2")
    views_agree(driver, ["map", "map2"] if wide else ["map2"])
    if wide:
        drag(driver, "map")
        views_agree(driver, ["map", "map2"])
    else:
        driver.find_element("css selector", "#map2 .method-switch").click()
        wait(driver, lambda d: visible_maps(d) == ["map"])
        views_agree(driver, ["map"])


def methods_shot(driver, url, screenshot):
    """Muller's method and Newton's side by side from x1 = 1 + i, the panel scrolled to their reports and
    plot: the screenshot in docs/methods.md."""
    open_page(driver, url, "#x1=1,1&m2=newton")
    for element in ("map", "map2"):
        tiles_settled(driver, element)
    wait(driver, lambda d: text_of(d, "report").startswith("    Metodo Muller")
         and text_of(d, "report2").startswith("    Metodo Newton") and d.find_elements("css selector", "#convergence polyline"))
    # Scrolled, and shot once the scroll has been painted (two frames later).
    driver.execute_async_script("document.getElementById('search-line').scrollIntoView();"
                                "requestAnimationFrame(() => requestAnimationFrame(arguments[0]));")
    driver.save_screenshot(os.path.join(os.path.dirname(screenshot), "explorer-methods.png"))


def both(driver, url, first_report, downloads, wide, screenshot=None):
    """What both sizes check first; with click_selects, x0_read and poster, rows 1-3, 5, 7, 9 and 11."""
    first_search(driver, url, first_report, downloads, wide, screenshot)
    keyboard(driver, url)
    methods(driver, url, wide)


def desktop(url, first_report, profile, downloads, screenshot, build):
    driver = browser(profile, downloads, 1280, 800, False)
    try:
        both(driver, url, first_report, downloads, True)
        deep_click(driver, url)
        x0_read(driver)
        # Level 2, 256 pixels to a unit, the map's centre at x1 = 0.625. A click 250 pixels left of the
        # centre and 38 below selects the pixel there, in a petal of the flower: its centre is
        # x1 = (0.625 + (-250 + 1/2) / 256, -(38 + 1/2) / 256).
        click_selects(driver, url, first_report, (-250, 38), ("-0.349609375", "-0.150390625"), far=True)
        driver.forward()
        wait(driver, lambda d: "&x1=-0.271484375," in d.current_url)
        driver.back()
        wait(driver, lambda d: "&x1=-0.349609375," in d.current_url)
        tiles_settled(driver)
        driver.save_screenshot(screenshot)

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
        wait(driver, lambda d: "&x1=1.0009765625,0.9990234375" in d.current_url)
        # A double click at the centre zooms around it and selects nothing: after it, a click 40 pixels
        # right of the centre and 40 below selects x1 = (0.625 + 40.5 / 512, -40.5 / 512) at level 3,
        # and makes the one new history entry (a selection of the double click's would come first).
        open_page(driver, url, "#z=2&c=0.625,0")
        tiles_settled(driver)
        entries = driver.execute_script("return history.length;")
        ActionChains(driver).move_to_element(driver.find_element("id", "map")).double_click().perform()
        wait(driver, lambda d: text_of(d, "level") == "3")
        click_at(driver, 40, 40)
        wait(driver, lambda d: "&x1=" in d.current_url)
        if "&x1=0.7041015625,-0.0791015625" not in driver.current_url:
            fail("after a double click, a click selected %s" % driver.current_url)
        if driver.execute_script("return history.length;") != entries + 1:
            fail("a double click and a click made %d history entries, not 1"
                 % (driver.execute_script("return history.length;") - entries))

        # An x0 with an exponent's '+' in its URL draws its tiles.
        field = driver.find_element("id", "x0")
        field.clear()
        field.send_keys("1e21,0" + Keys.ENTER)
        wait(driver, lambda d: "x0=1e+21,0" in d.current_url)
        tiles_settled(driver)
        polynomials(driver, url, screenshot, build)
        methods_shot(driver, url, screenshot)
        # Newton's method converges linearly to the double root of (z - 1)^2 (z + 1), and the page says why.
        open_page(driver, url, "#x1=1.3,0.2&roots=1;1;-1&m=newton")
        wait(driver, lambda d: "en una raíz múltiple" in text_of(d, "order-line"))
        console_clean(driver)
    finally:
        driver.quit()


def phone(url, first_report, profile, downloads, screenshot, build):
    driver = browser(profile, downloads, 390, 844, True)
    try:
        both(driver, url, first_report, downloads, False, screenshot)
        click_selects(driver, url, first_report, (-150, 38), ("0.041015625", "-0.150390625"))
        x0_read(driver)
        poster(driver, url, "#z=1&c=0.25,0.5&x0=0,0&roots=1;-0.5,0.8660254037844386;-0.5,-0.8660254037844386", build)
        console_clean(driver)
    finally:
        driver.quit()


def main():
    program, desktop_shot, phone_shot = sys.argv[1], sys.argv[2], sys.argv[3]
    build = os.path.dirname(os.path.abspath(program))  # muller-basins is built beside the explorer
    signal.alarm(240)
    with open(os.path.join(HERE, "expected_report.txt")) as f:
        first_report = "".join(f.readlines()[:11])  # muller's search from 0 and 1 + i
    if not first_report.rstrip("\n").endswith(
            "muller       8  iteraciones   raiz= (0.7071067812,0.7071067812) funcion= (-2.220446049e-16,0)"):
        fail("the expected report is not muller's first")
    server, url = start(program)
    try:
        with tempfile.TemporaryDirectory() as profile, tempfile.TemporaryDirectory() as downloads:
            desktop(url, first_report, profile, downloads, desktop_shot, build)
        with tempfile.TemporaryDirectory() as profile, tempfile.TemporaryDirectory() as downloads:
            phone(url, first_report, profile, downloads, phone_shot, build)
    finally:
        server.send_signal(signal.SIGTERM)
        status = server.wait(timeout=10)
    if status != 0:
        fail("the program ended with status %d on SIGTERM" % status)
    print("browser test: desktop and phone as expected; screenshots in %s and %s" % (desktop_shot, phone_shot))


if __name__ == "__main__":
    main()
