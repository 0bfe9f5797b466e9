// The search's path over the map, as a layer that follows the selected search: the start points marked,
// each point numbered, the zero reached ringed. A point outside the view is marked at the map's edge in
// its direction, with its number. Labels cover no marker and no other label (labels.js).
import { finite, latlng, near } from './geometry.js';
import { Placer, boxAround, boxesOf, labelHeight, labelMarker, placesAround } from './labels.js';

const start = { radius: 6, color: '#fff', weight: 2, fillColor: '#000', fillOpacity: 1, className: 'path-start' };
const step = { radius: 3, color: '#fff', weight: 1, fillColor: '#fff', fillOpacity: 1, className: 'path-point' };
const ring = { radius: 11, color: '#ff0', weight: 3, fill: false, className: 'path-ring' };
const arrows = ['→', '↘', '↓', '↙', '←', '↖', '↑', '↗'];

export const PathLayer = L.LayerGroup.extend({
  // key: the state's report whose search is drawn ('report', or 'report2' for the second method's).
  initialize: function (store, key = 'report') {
    L.LayerGroup.prototype.initialize.call(this);
    this._store = store;
    this._key = key;
  },

  onAdd: function (map) {
    L.LayerGroup.prototype.onAdd.call(this, map);
    // After the root markers have moved: the labels keep clear of them.
    this._off = this._store.watch([this._key, 'roots'], () => this.draw());
    map.on('moveend', this.draw, this);
  },

  onRemove: function (map) {
    this._off();
    map.off('moveend', this.draw, this);
    L.LayerGroup.prototype.onRemove.call(this, map);
  },

  draw: function () {
    this.clearLayers();
    const report = this._store.get()[this._key];
    const data = report.status === 'ready' ? report.data : null;
    if (!data || !this._map) {
      return;
    }
    const map = this._map;
    const bounds = map.getBounds();
    const visible = (z) => near(z) && bounds.contains(latlng(z));
    const at = (z) => map.latLngToContainerPoint(latlng(z));
    const points = [['x0', data.x0, start], ['x1', data.x1, start]]
      .concat(data.points.map((p) => [String(p.k), p.x, step]));

    // The line from x1 through every point, broken where a point lies beyond any view. Unsimplified:
    // every step of the search is on the line, however short.
    const segments = [[]];
    for (const [, z] of points.slice(1)) {
      if (near(z)) {
        segments[segments.length - 1].push(latlng(z));
      } else {
        segments.push([]);
      }
    }
    for (const s of segments) {
      L.polyline(s, { color: '#fff', weight: 2, opacity: 0.9, smoothFactor: 0, className: 'path-line' }).addTo(this);
    }

    // The markers first, so that no label covers one; then the labels, the start points' first.
    const placer = new Placer(map.getSize(), boxesOf(map.getContainer(), '.root-marker, .leaflet-control'));
    const shown = points.filter(([, z]) => visible(z));
    for (const [, z, style] of shown) {
      L.circleMarker(latlng(z), style).addTo(this);
      placer.block(boxAround(at(z), style.radius + Math.ceil(style.weight / 2)));
    }
    const last = data.points[data.points.length - 1];
    const ringed = data.status === 0 && last && visible(last.x);
    if (ringed) {
      L.circleMarker(latlng(last.x), ring).addTo(this);
      placer.block(boxAround(at(last.x), 13));
    }
    const label = (p, gap, text) => {
      const box = placer.take(placesAround(p, gap, placer.width(text), labelHeight));
      if (box !== null) {
        labelMarker(map, box, text, 'point-label').addTo(this);
      }
    };
    // The start points, the zero, then each point unless it lies on one already labelled at this level.
    const labelled = [];
    for (const [name, z, style] of shown.filter(([, , style]) => style === start)) {
      label(at(z), style.radius + 3, name);
    }
    if (ringed) {
      label(at(last.x), 15, 'raíz');
    }
    for (const [name, z, style] of shown.filter(([, , style]) => style === step)) {
      const p = at(z);
      if (labelled.every((q) => q.distanceTo(p) > 4)) {
        label(p, style.radius + 3, name);
        labelled.push(p);
      }
    }
    this._edges(points.filter(([, z]) => finite(z) && !visible(z)), placer);
  },

  // The points beyond the view, at the edge in their direction: those that meet the edge at one place
  // share one label, moved along the edge until it covers nothing.
  _edges: function (points, placer) {
    const size = this._map.getSize();
    const groups = new Map();
    for (const [name, z] of points) {
      const p = this._edgePoint(z);
      const key = Math.round(p.x / 20) + ',' + Math.round(p.y / 20);
      const group = groups.get(key) || { p, names: [] };
      group.names.push(name);
      groups.set(key, group);
    }
    for (const { p, names } of groups.values()) {
      const angle = Math.atan2(p.y - size.y / 2, p.x - size.x / 2);
      const text = arrows[(Math.round(angle / (Math.PI / 4)) + 8) % 8] + ' ' + names.join(', ');
      const w = placer.width(text);
      const side = Math.abs(p.x - size.x / 2) / size.x > Math.abs(p.y - size.y / 2) / size.y;
      const places = [0, 1, -1, 2, -2, 3, -3, 4, -4, 6, -6].map((k) => ({
        x: Math.round(Math.min(size.x - w, Math.max(0, p.x - w / 2 + (side ? 0 : 20 * k)))),
        y: Math.round(Math.min(size.y - labelHeight, Math.max(0, p.y - labelHeight / 2 + (side ? 20 * k : 0)))),
        w,
        h: labelHeight,
      }));
      const box = placer.take(places);
      if (box !== null) {
        labelMarker(this._map, box, text, 'edge-label').addTo(this);
      }
    }
  },

  // Where the ray from the view's centre towards z (a finite point; the centre is within 4 of 0, so the
  // differences do not overflow) meets the map's edge, a little inside it.
  _edgePoint: function (z) {
    const c = this._map.getCenter();
    const dx = z[0] - c.lng;
    const dy = c.lat - z[1];
    const size = this._map.getSize();
    const hx = size.x / 2 - 12;
    const hy = size.y / 2 - 10;
    const t = Math.min(dx !== 0 ? hx / Math.abs(dx) : Infinity, dy !== 0 ? hy / Math.abs(dy) : Infinity);
    return L.point(size.x / 2 + dx * t, size.y / 2 + dy * t);
  },
});
