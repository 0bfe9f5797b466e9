// Labels on the map that cover neither a marker nor one another and stay inside the map: each is put
// in the first of a few places around its point that is free, or left out when none is. Boxes are in
// the map's container pixels, {x, y, w, h}, whole pixels, so that a label lands where it was measured.

export const labelHeight = 15;

const overlap = (a, b) => a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;

// The square a marker of radius r (its stroke included) takes around p.
export const boxAround = (p, r) => ({ x: p.x - r, y: p.y - r, w: 2 * r, h: 2 * r });

// The boxes of the elements under container that match selector (root markers, controls).
export function boxesOf(container, selector) {
  const origin = container.getBoundingClientRect();
  return Array.from(container.querySelectorAll(selector), (element) => {
    const r = element.getBoundingClientRect();
    return { x: r.left - origin.left, y: r.top - origin.top, w: r.width, h: r.height };
  });
}

// The places for a label w x h beside a point p, gap pixels from it: right, left, above, below, then
// the four corners.
export function placesAround(p, gap, w, h) {
  const x = Math.round(p.x);
  const y = Math.round(p.y);
  const d = Math.ceil(gap * 0.7);
  return [
    { x: x + gap, y: y - Math.round(h / 2) }, { x: x - gap - w, y: y - Math.round(h / 2) },
    { x: x - Math.round(w / 2), y: y - gap - h }, { x: x - Math.round(w / 2), y: y + gap },
    { x: x + d, y: y - d - h }, { x: x + d, y: y + d }, { x: x - d - w, y: y - d - h }, { x: x - d - w, y: y + d },
  ].map((b) => ({ ...b, w, h }));
}

export class Placer {
  // size: the map's; taken: the boxes no label may cover.
  constructor(size, taken) {
    this.size = size;
    this.taken = taken.slice();
    this.context = document.createElement('canvas').getContext('2d');
    this.context.font = '11px monospace';
  }

  // The width of a label's box: its text in the labels' type, with their padding and border.
  width(text) {
    return Math.ceil(this.context.measureText(text).width) + 8;
  }

  fits(box) {
    const inside = box.x >= 0 && box.y >= 0 && box.x + box.w <= this.size.x && box.y + box.h <= this.size.y;
    return inside && this.taken.every((t) => !overlap(t, box));
  }

  block(box) {
    this.taken.push(box);
  }

  // The first of the places that fits, kept from later labels; or null.
  take(places) {
    const box = places.find((b) => this.fits(b)) || null;
    if (box !== null) {
      this.block(box);
    }
    return box;
  }
}

// A label as a marker whose icon is the box, at the box's top left corner.
export function labelMarker(map, box, text, className) {
  return L.marker(map.containerPointToLatLng([box.x, box.y]), {
    icon: L.divIcon({ className, html: text, iconSize: [box.w, box.h], iconAnchor: [0, 0] }),
    interactive: false,
    keyboard: false,
  });
}
