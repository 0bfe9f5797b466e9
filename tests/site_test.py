#!/usr/bin/python3
"""The static site in headless Chromium with no server behind it, as tests/browser_test.py drives the explorer.

    tests/site_test.py SITE EXPLORER [URL]

SITE (build/wasm/site) is served by python3 -m http.server on a free port of 127.0.0.1, or already at URL.
EXPLORER (muller-explorer) runs only at the start, for the references: its page (the site's index.html
byte for byte), its tiles and reports. Checked: muller's first report and its path from a link, every
tile of a view and of z^3 - 1 typed pixel for pixel the server's, a click's report, Newton's method
compared beside Muller's (a tile of its map pixel for pixel, and its report, the server's with m=newton),
a root dragged, and no console message. Bounded: two minutes, each wait 30 s.
"""
import base64
import json
import os
import signal
import subprocess
import sys
import tempfile
import urllib.request

from selenium.webdriver.common.action_chains import ActionChains

from browser_support import fail
from browser_test import (HERE, browser, click_at, console_clean, legend_classes, open_page, start, text_of,
                          type_polynomial, wait)

CLICKED = ("-0.349609375", "-0.150390625")  # a click 250 pixels left of the centre and 38 below at VIEW
VIEW = "#z=2&c=0.625,0&x0=0,0"

# The tiles on the page with a reference: the pixels that differ from the reference PNG's, decoded here.
_TILES = """
const [references, map, done] = arguments;
const pixels = (source) => {
  const c = document.createElement('canvas');
  c.width = c.height = 256;
  c.getContext('2d').drawImage(source, 0, 0);
  return c.getContext('2d').getImageData(0, 0, 256, 256).data;
};
const decoded = (png) => new Promise((resolve, reject) => {
  const image = new Image();
  image.onload = () => resolve(pixels(image));
  image.onerror = reject;
  image.src = 'data:image/png;base64,' + png;
});
Promise.all([...document.querySelectorAll('#' + map + ' canvas.leaflet-tile-loaded')].filter((t) => t.dataset.tile in references)
  .map((t) => decoded(references[t.dataset.tile]).then((want) => [t.dataset.tile, pixels(t).filter((v, k) => v !== want[k]).length])))
  .then(done, (e) => done([['?', String(e)]]));
"""


def references(program):
    server, url = start(program)
    get = lambda path: urllib.request.urlopen(url + path, timeout=30).read()
    png = lambda path: base64.b64encode(get(path)).decode()
    try:
        tiles = {"2/%d/%d" % (x, y): png("tile/2/%d/%d.png?v=1.0.0&x0=0,0" % (x, y)) for x in range(4) for y in range(4)}
        z3 = {"0/0/0": png("tile/0/0/0.png?v=1.0.0&x0=0,0&c=1;0;0;-1")}
        newton = ({"2/2/1": png("tile/2/2/1.png?v=1.0.0&x0=0,0&m=newton")},
                  json.loads(get("report?x0=0,0&x1=%s,%s&m=newton" % CLICKED))["report"])
        return get(""), tiles, z3, json.loads(get("report?x0=0,0&x1=%s,%s" % CLICKED))["report"], newton
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=10)


def serve(site):
    """python3 -m http.server on a free port of 127.0.0.1, whose first line names the port."""
    server = subprocess.Popen([sys.executable, "-u", "-m", "http.server", "--bind", "127.0.0.1", "0"], cwd=site,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = server.stdout.readline()
    if " port " not in line:
        server.kill()
        fail("http.server printed %r" % line)
    return server, "http://127.0.0.1:%s/" % line.split(" port ")[1].split()[0]


def tiles_drawn(driver, references=None, least=0, element="map"):
    """Waits for the visible tiles, none failed; those with references must be theirs, at least LEAST."""
    wait(driver, lambda d: d.find_element("id", element).get_attribute("data-tiles-loading") == "0"
         and int(d.find_element("id", element).get_attribute("data-tiles-loaded") or 0) > 0)
    if driver.find_element("id", element).get_attribute("data-tiles-failed") != "0":
        fail("tiles failed to be drawn")
    compared = driver.execute_async_script(_TILES, references or {}, element)
    if len(compared) < least or any(wrong for _, wrong in compared):
        fail("tiles and the pixels that differ from the server's: %r" % compared)
    return compared


def path_segments(driver):
    return max((p.get_attribute("d").count("L") for p in driver.find_elements("css selector", ".path-line")), default=0)


def site(driver, url, first_report, tiles, z3, clicked_report, newton):
    open_page(driver, url, "#x1=1,1")
    tiles_drawn(driver)
    wait(driver, lambda d: "en este navegador" in text_of(d, "backend") and text_of(d, "report") == first_report)
    if path_segments(driver) != 8:
        fail("the path of muller's first search has %d segments, not 8" % path_segments(driver))
    open_page(driver, url, VIEW)
    tiles_drawn(driver, tiles, 6)
    click_at(driver, -250, 38)
    wait(driver, lambda d: text_of(d, "report") == clicked_report and path_segments(d) > 0)
    # The same point and view with Newton's method beside: its map's tile and its report, the server's.
    open_page(driver, url, VIEW + "&x1=%s,%s&m2=newton" % CLICKED)
    tiles_drawn(driver, newton[0], 1, "map2")
    wait(driver, lambda d: text_of(d, "report2") == newton[1])

    open_page(driver, url, "#z=0&c=0,0")
    tiles_drawn(driver)
    type_polynomial(driver, "poly", "z³ - 1")
    if not legend_classes(driver, 3)[0].startswith("raíz 1 (1,0)"):
        fail("the legend of z^3 - 1: %r" % legend_classes(driver, 3))
    tiles_drawn(driver, z3, 1)
    # Root 1 dragged from 1 to about 0.06 - 0.78i, as in browser_test.py: the tile is drawn anew.
    marker = [m for m in driver.find_elements("css selector", ".root-marker") if m.text == "1"][0]
    drag = ActionChains(driver).click_and_hold(marker)
    for _ in range(10):
        drag = drag.move_by_offset(-6, 5)
    drag.release().perform()
    wait(driver, lambda d: "&roots=" in d.current_url and not d.find_element(
        "css selector", "#legend .legend-class").get_attribute("textContent").startswith("raíz 1 (1,0)"))
    wait(driver, lambda d: [wrong > 0 for _, wrong in d.execute_async_script(_TILES, z3, "map")] == [True])
    tiles_drawn(driver)
    console_clean(driver)


def main():
    site_dir, program = sys.argv[1], sys.argv[2]
    signal.alarm(120)
    with open(os.path.join(HERE, "expected_report.txt")) as f:
        first_report = "".join(f.readlines()[:11])  # muller's search from 0 and 1 + i
    page, tiles, z3, clicked_report, newton = references(program)
    with open(os.path.join(site_dir, "index.html"), "rb") as f:
        if f.read() != page:
            fail("the site's index.html is not the page muller-explorer serves")
    server, url = serve(site_dir) if len(sys.argv) < 4 else (None, sys.argv[3])
    try:
        with tempfile.TemporaryDirectory() as profile:
            driver = browser(profile, profile, 1280, 800, False)
            try:
                site(driver, url, first_report, tiles, z3, clicked_report, newton)
            finally:
                driver.quit()
    finally:
        if server is not None:
            server.kill()
            server.wait(timeout=10)
    print("site test: the static site gives the server's tiles and reports, Muller's and Newton's, with no server")


if __name__ == "__main__":
    main()
