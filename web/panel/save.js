// The view as it is, tiles and overlays, in a PNG file named after the view. Each thing is drawn where
// the screen has it: the tiles, the root markers and the labels by their boxes in the map, the path's
// line and circles by their points, so that the file matches the screen after any pan. The tiles come
// from this server or were drawn in this page, so the canvas may be read back.
import { viewName } from '../names.js';

// The part of the segment from a to b inside the rectangle [low, high] on both axes, or null
// (Liang and Barsky's clipping): a far point of the path may be a billion pixels away.
function clip(a, b, low, high) {
  let t0 = 0;
  let t1 = 1;
  const d = [b.x - a.x, b.y - a.y];
  const edges = [[-d[0], a.x - low.x], [d[0], high.x - a.x], [-d[1], a.y - low.y], [d[1], high.y - a.y]];
  for (const [p, q] of edges) {
    if (p === 0 && q < 0) {
      return null;
    }
    if (p !== 0) {
      const t = q / p;
      if (p < 0) {
        t0 = Math.max(t0, t);
      } else {
        t1 = Math.min(t1, t);
      }
    }
  }
  return t0 > t1 ? null : [[a.x + t0 * d[0], a.y + t0 * d[1]], [a.x + t1 * d[0], a.y + t1 * d[1]]];
}

function drawLayer(context, map, layer, size) {
  const o = layer.options;
  context.globalAlpha = o.opacity === undefined ? 1 : o.opacity;
  context.strokeStyle = o.color;
  context.lineWidth = o.weight;
  context.lineJoin = 'round';
  context.lineCap = 'round';
  context.beginPath();
  if (layer instanceof L.CircleMarker) {
    const p = map.latLngToContainerPoint(layer.getLatLng());
    context.arc(p.x, p.y, layer.getRadius(), 0, 2 * Math.PI);
    if (o.fill) {
      context.globalAlpha = o.fillOpacity;
      context.fillStyle = o.fillColor || o.color;
      context.fill();
      context.globalAlpha = o.opacity;
    }
  } else {
    const points = layer.getLatLngs().map((l) => map.latLngToContainerPoint(l));
    for (let k = 1; k < points.length; k += 1) {
      const part = clip(points[k - 1], points[k], L.point(-20, -20), L.point(size.x + 20, size.y + 20));
      if (part !== null) {
        context.moveTo(...part[0]);
        context.lineTo(...part[1]);
      }
    }
  }
  if (o.stroke !== false) {
    context.stroke();
  }
  context.globalAlpha = 1;
}

export function saveView(map, store) {
  const element = map.getContainer();
  const size = map.getSize();
  const canvas = document.createElement('canvas');
  canvas.width = size.x;
  canvas.height = size.y;
  const context = canvas.getContext('2d');
  context.fillStyle = '#333';
  context.fillRect(0, 0, size.x, size.y);
  const origin = element.getBoundingClientRect();
  const boxes = (selector) => Array.from(element.querySelectorAll(selector), (e) => {
    const r = e.getBoundingClientRect();
    return { element: e, x: r.left - origin.left, y: r.top - origin.top, w: r.width, h: r.height };
  });
  // Images from the server, canvases drawn here.
  for (const { element: tile, x, y, w, h } of boxes('.leaflet-tile-loaded')) {
    context.drawImage(tile, x, y, w, h);
  }
  // The line, then the circles, in the order they were made, as the screen stacks them.
  map.eachLayer((layer) => {
    if (layer instanceof L.Path) {
      drawLayer(context, map, layer, size);
    }
  });
  context.textAlign = 'center';
  context.textBaseline = 'middle';
  for (const { element: marker, x, y, w, h } of boxes('.root-marker')) {
    context.beginPath();
    context.arc(x + w / 2, y + h / 2, w / 2 - 1, 0, 2 * Math.PI);
    context.fillStyle = marker.style.background;
    context.fill();
    context.strokeStyle = '#fff';
    context.lineWidth = 2;
    context.stroke();
    context.fillStyle = '#000';
    context.font = 'bold 11px sans-serif';
    context.fillText(marker.textContent, x + w / 2, y + h / 2);
  }
  context.textAlign = 'left';
  context.font = '11px monospace';
  for (const { element: label, x, y, w, h } of boxes('.point-label, .edge-label')) {
    context.fillStyle = 'rgba(0, 0, 0, 0.75)';
    context.fillRect(x, y, w, h);
    context.fillStyle = '#fff';
    context.fillText(label.textContent, x + 4, y + h / 2);
  }
  canvas.toBlob((blob) => {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = viewName(map, store.get().poly, store.get().method) + '.png';
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  }, 'image/png');
}
