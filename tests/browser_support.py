"""What tests/browser_test.py reads off the page: pixels of a PNG or of the screen (decoded by the browser
itself, which is quicker than Python), the map's labels against its markers, and a poster against the
tiles."""
import base64
import sys

# The focus ring's colour (the page's --focus).
FOCUS = (255, 191, 0)


def fail(message):
    print("browser test: " + message, file=sys.stderr)
    sys.exit(1)


# The PNG's size and the RGBA of each of the points asked for.
_PIXELS = """
const [data, points, done] = arguments;
const image = new Image();
image.onload = () => {
  const canvas = document.createElement('canvas');
  canvas.width = image.width;
  canvas.height = image.height;
  const context = canvas.getContext('2d');
  context.drawImage(image, 0, 0);
  const rgba = context.getImageData(0, 0, image.width, image.height).data;
  done([[image.width, image.height], points.map(([x, y]) =>
    x < 0 || y < 0 || x >= image.width || y >= image.height ? [-1, -1, -1, -1]
      : Array.from(rgba.slice((y * image.width + x) * 4, (y * image.width + x) * 4 + 4)))]);
};
image.onerror = () => done(null);
image.src = 'data:image/png;base64,' + data;
"""


def decoded_pixels(driver, png, points):
    answer = driver.execute_async_script(_PIXELS, base64.b64encode(png).decode(), [[round(x), round(y)] for x, y in points])
    if answer is None:
        fail("the browser cannot decode the PNG")
    return answer


def screen_pixels(driver, points):
    """The colours on the screen at the points, in the page's pixels."""
    _, got = decoded_pixels(driver, base64.b64decode(driver.get_screenshot_as_base64()), points)
    return [tuple(p[:3]) for p in got]


def labels_clear(driver):
    """Every label of the path lies inside the map, and covers no other label and no marker (the path's
    circles, the root markers). Returns the labels' texts."""
    labels, marks, size = driver.execute_script("""
        const map = document.getElementById('map'), o = map.getBoundingClientRect();
        const box = (e) => { const r = e.getBoundingClientRect();
                             return [r.left - o.left, r.top - o.top, r.right - o.left, r.bottom - o.top]; };
        const all = (selector, name) => [...map.querySelectorAll(selector)].map(e => [name(e), box(e)]);
        return [all('.point-label, .edge-label', e => e.textContent),
                all('.path-start, .path-point, .path-ring, .root-marker', e => e.getAttribute('class')),
                [map.clientWidth, map.clientHeight]];""")
    apart = lambda a, b: a[2] <= b[0] + 0.5 or b[2] <= a[0] + 0.5 or a[3] <= b[1] + 0.5 or b[3] <= a[1] + 0.5
    for k, (text, box) in enumerate(labels):
        if box[0] < -0.5 or box[1] < -0.5 or box[2] > size[0] + 0.5 or box[3] > size[1] + 0.5:
            fail("the label %r at %r leaves the map of %r" % (text, box, size))
        for other, covered in labels[k + 1:] + marks:
            if not apart(box, covered):
                fail("the label %r at %r covers %r at %r" % (text, box, other, covered))
    return [text for text, _ in labels]


# The poster against the tiles on the screen: its pixel (i, j) is the map's pixel
# (j - (side - width) / 2, i - (side - height) / 2), and every map pixel that a tile of the square covers is
# compared. Returns how many were, and how many differ.
_COMPARE = """
const [data, done] = arguments;
const map = document.getElementById('map'), o = map.getBoundingClientRect();
const w = map.clientWidth, h = map.clientHeight;
const canvas = (draw) => {
  const c = document.createElement('canvas');
  c.width = w;
  c.height = h;
  draw(c.getContext('2d'));
  return c.getContext('2d').getImageData(0, 0, w, h).data;
};
const tiles = canvas((g) => {
  for (const img of map.querySelectorAll('img.leaflet-tile-loaded')) {
    if (!img.src.startsWith('data:')) {
      const r = img.getBoundingClientRect();
      g.drawImage(img, r.left - o.left, r.top - o.top, r.width, r.height);
    }
  }
});
const poster = new Image();
poster.onload = () => {
  const side = poster.width;
  const drawn = canvas((g) => g.drawImage(poster, -(side - w) / 2, -(side - h) / 2));
  let compared = 0, differ = 0;
  for (let k = 0; k < w * h * 4; k += 4) {
    if (tiles[k + 3] === 255) {
      compared += 1;
      if (tiles[k] !== drawn[k] || tiles[k + 1] !== drawn[k + 1] || tiles[k + 2] !== drawn[k + 2]) {
        differ += 1;
      }
    }
  }
  done([compared, differ]);
};
poster.onerror = () => done([0, 0]);
poster.src = 'data:image/png;base64,' + data;
"""


def poster_matches_tiles(driver, png):
    return driver.execute_async_script(_COMPARE, base64.b64encode(png).decode())
