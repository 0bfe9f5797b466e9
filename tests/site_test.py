#!/usr/bin/python3
"""The static site in a real browser, with no server behind it: Debian's Chromium, headless, driven by
selenium, as tests/browser_test.py drives the explorer.

    tests/site_test.py SITE EXPLORER [URL]

SITE is the folder the wasm preset writes (build/wasm/site), served here by python3 -m http.server on a
free port of 127.0.0.1, or already served at URL (by nginx, say). EXPLORER (the default build's muller-explorer) runs only at the start, for the
references: its page, which must be the site's index.html byte for byte, its PNG tiles, and a report.
At 1280 x 800: the page says it computes in this browser; a link with x1 = 1 + i shows muller's first
report and draws its path; every tile of a view is the server's tile, pixel for pixel; a click shows the
server's report for the pixel; a polynomial typed draws its tiles (the server's again) and its legend; a
root dragged draws the tiles of the new roots. No console error or warning. Bounded: two minutes at
most, each wait 30 s.
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
from browser_test import (HERE, browser, click_at, console_clean, hash_fields, legend_classes, open_page,
                          start, text_of, type_polynomial, wait)

# Level 2 around 0.625 at 1280 x 800, and a click 250 pixels left of the centre and 38 below: the pixel
# whose centre is x1 = (-0.349609375, -0.150390625), as in browser_test.py.
VIEW = "#z=2&c=0.625,0&x0=0,0"
CLICKED = ("-0.349609375", "-0.150390625")
Z3 = "c=1;0;0;-1"  # z^3 - 1, as the tiles' addresses name it

# Each tile on the page that has a reference: its canvas's pixels against the reference PNG, decoded by
# the browser. Returns the tiles compared and those that differ, with how many pixels.
_TILES = """
const [references, done] = arguments;
const decode = (data) => new Promise((resolve, reject) => {
  const image = new Image();
  image.onload = () => {
    const c = document.createElement('canvas');
    c.width = image.width;
    c.height = image.height;
    c.getContext('2d').drawImage(image, 0, 0);
    resolve(c.getContext('2d').getImageData(0, 0, c.width, c.height).data);
  };
  image.onerror = reject;
  image.src = 'data:image/png;base64,' + data;
});
(async () => {
  const compared = [], differ = [];
  for (const tile of document.querySelectorAll('#map canvas.leaflet-tile-loaded')) {
    const name = tile.dataset.tile;
    if (!(name in references)) {
      continue;
    }
    const want = await decode(references[name]);
    const got = tile.getContext('2d').getImageData(0, 0, tile.width, tile.height).data;
    let wrong = want.length === got.length ? 0 : -1;
    for (let k = 0; k < got.length && wrong >= 0; ++k) {
      wrong += got[k] !== want[k] ? 1 : 0;
    }
    compared.push(name);
    if (wrong !== 0) {
      differ.push([name, wrong]);
    }
  }
  return [compared, differ];
})().then(done, (e) => done([[], [String(e)]]));
"""


def references(program):
    """The explorer's page, its tiles of level 2 and of z^3 - 1 at level 0, and its report for the pixel
    clicked below; the explorer runs only for as long as these take."""
    server, url = start(program)
    get = lambda path: urllib.request.urlopen(url + path, timeout=30).read()
    try:
        page = get("")
        tiles = {"2/%d/%d" % (x, y): get("tile/2/%d/%d.png?v=1.0.0&x0=0,0" % (x, y)) for x in range(4) for y in range(4)}
        z3 = {"0/0/0": get("tile/0/0/0.png?v=1.0.0&x0=0,0&" + Z3)}
        report = json.loads(get("report?x0=0,0&x1=%s,%s" % CLICKED))["report"]
    finally:
        server.send_signal(signal.SIGTERM)
        server.wait(timeout=10)
    encode = lambda found: {k: base64.b64encode(v).decode() for k, v in found.items()}
    return page, encode(tiles), encode(z3), report


def serve(site):
    """python3 -m http.server on a free port of 127.0.0.1, serving SITE; its first line names the port."""
    server = subprocess.Popen([sys.executable, "-u", "-m", "http.server", "--bind", "127.0.0.1", "0"], cwd=site,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = server.stdout.readline()
    if " port " not in line:
        server.kill()
        fail("http.server printed %r" % line)
    return server, "http://127.0.0.1:%s/" % line.split(" port ")[1].split()[0]


def tiles_drawn(driver):
    """Waits for the visible tiles to be drawn, none failed."""
    wait(driver, lambda d: d.find_element("id", "map").get_attribute("data-tiles-loading") == "0"
         and int(d.find_element("id", "map").get_attribute("data-tiles-loaded")) > 0)
    if driver.find_element("id", "map").get_attribute("data-tiles-failed") != "0":
        fail("tiles failed to be drawn")


def tiles_match(driver, reference, least):
    compared, differ = driver.execute_async_script(_TILES, reference)
    if len(compared) < least or differ:
        fail("tiles compared %r, differing (in pixels) %r" % (compared, differ))


def path_segments(driver):
    return max((p.get_attribute("d").count("L") for p in driver.find_elements("css selector", ".path-line")), default=0)


def site(driver, url, first_report, tiles, z3, clicked_report):
    open_page(driver, url, "#x1=1,1")
    tiles_drawn(driver)
    wait(driver, lambda d: "en este navegador" in text_of(d, "backend"))
    wait(driver, lambda d: text_of(d, "report") == first_report)
    if path_segments(driver) != 8:
        fail("the path of muller's first search has %d segments, not 8" % path_segments(driver))

    open_page(driver, url, VIEW)
    tiles_drawn(driver)
    tiles_match(driver, tiles, 6)
    click_at(driver, -250, 38)
    wait(driver, lambda d: "&x1=%s,%s" % CLICKED in d.current_url)
    wait(driver, lambda d: text_of(d, "report") == clicked_report)
    wait(driver, lambda d: path_segments(d) > 0)

    open_page(driver, url, "#z=0&c=0,0")
    tiles_drawn(driver)
    type_polynomial(driver, "poly", "z³ - 1")
    wait(driver, lambda d: "&coef=1;0;0;-1" in d.current_url)
    legend = legend_classes(driver, 3)
    tiles_drawn(driver)
    if not legend[0].startswith("raíz 1 (1,0)"):
        fail("the legend of z^3 - 1: %r" % legend)
    tiles_match(driver, z3, 1)

    # Root 1 dragged from 1 to about 0.06 - 0.78i, as in browser_test.py: the tile is drawn anew.
    marker = [m for m in driver.find_elements("css selector", ".root-marker") if m.text == "1"][0]
    drag = ActionChains(driver).click_and_hold(marker)
    for _ in range(10):
        drag = drag.move_by_offset(-6, 5)
    drag.release().perform()
    wait(driver, lambda d: "&roots=" in d.current_url)
    legend = lambda d: [e.get_attribute("textContent") for e in d.find_elements("css selector", "#legend .legend-class")]
    wait(driver, lambda d: len(legend(d)) == 3 and not any(e.startswith("raíz 1 (1,0)") for e in legend(d)))
    tiles_drawn(driver)
    compared, differ = driver.execute_async_script(_TILES, z3)
    if compared != ["0/0/0"] or not differ:
        fail("after the drag the tile is still z^3 - 1's: compared %r" % compared)
    console_clean(driver)


def main():
    site_dir, program = sys.argv[1], sys.argv[2]
    signal.alarm(120)
    with open(os.path.join(HERE, "expected_report.txt")) as f:
        first_report = "".join(f.readlines()[:11])  # muller's search from 0 and 1 + i
    page, tiles, z3, clicked_report = references(program)
    with open(os.path.join(site_dir, "index.html"), "rb") as f:
        if f.read() != page:
            fail("the site's index.html is not the page muller-explorer serves")
    server, url = serve(site_dir) if len(sys.argv) < 4 else (None, sys.argv[3])
    try:
        with tempfile.TemporaryDirectory() as profile, tempfile.TemporaryDirectory() as downloads:
            driver = browser(profile, downloads, 1280, 800, False)
            try:
                site(driver, url, first_report, tiles, z3, clicked_report)
            finally:
                driver.quit()
    finally:
        if server is not None:
            server.kill()
            server.wait(timeout=10)
    print("site test: the static site draws the server's tiles and gives muller's reports, with no server")


if __name__ == "__main__":
    main()
