// The page's Leaflet maps: one, or two side by side that show the same view of two methods.
import { crs } from './geometry.js';
import { countTiles } from './tiles.js';
import { PathLayer } from './path.js';
import { RootLayer } from './roots.js';
import { ScaleControl } from './scale.js';
import { followPointer } from './pointer.js';
import { followKeys } from './keys.js';

// A map in element, with the square's bounds and the levels down to the deepest. Returns it, and what
// stops it following its element's size.
export function createMap(element, deepest) {
  const map = L.map(element, {
    crs,
    minZoom: 0,
    maxZoom: deepest,
    zoomSnap: 1,
    attributionControl: false,
    zoomControl: false,
    maxBounds: [[-4, -4], [4, 4]], // the square and a margin: the map cannot be lost by dragging
  });
  L.control.zoom({ zoomInTitle: 'Acercar', zoomOutTitle: 'Alejar' }).addTo(map);
  // Leaflet follows the window's size, not the map's own: the panel beside it, or a second map, may
  // change it. (Only on a change: invalidateSize forgets the centre as given, which then reads back in
  // the pixels' rounding.)
  const observer = new ResizeObserver(() => {
    const size = map.getSize();
    if (size.x !== element.clientWidth || size.y !== element.clientHeight) {
      map.invalidateSize();
    }
  });
  observer.observe(element);
  return { map, unobserve: () => observer.disconnect() };
}

// Two maps that show one view: a pan, a zoom or a jump of either, by the user or by the page, is made
// in the other at once, to the same centre and level. What a map does because it follows is not
// followed back: a view set here fires its events while `setting` holds, and a zoom animated here (so
// that both maps zoom together) leaves its map `following` until its zoom ends, when it takes the other's
// view once more, in case that moved meanwhile. Returns what unties them.
export function syncViews(a, b) {
  let setting = false;
  const following = new Set();
  const same = (map, centre, zoom) =>
    map.getZoom() === zoom && map.getCenter().lat === centre.lat && map.getCenter().lng === centre.lng;
  const show = (map, centre, zoom, animate) => {
    if (setting || same(map, centre, zoom)) {
      return;
    }
    setting = true;
    if (animate) {
      following.add(map);
    }
    map.setView(centre, zoom, { animate });
    setting = false;
  };
  const handlers = [];
  const tie = (from, to) => {
    const on = {
      zoomanim: (e) => following.has(from) || show(to, e.center, e.zoom, true),
      move: () => following.has(from) || show(to, from.getCenter(), from.getZoom(), false),
      zoomend: () => following.delete(from) && show(from, to.getCenter(), to.getZoom(), false),
    };
    from.on(on);
    handlers.push(() => from.off(on));
  };
  tie(a, b);
  tie(b, a);
  return () => handlers.forEach((off) => off());
}

// What a map shows and does: the tiles of the method at the state's methodKey ('method' or 'second'),
// counted on its element, the roots, the path of the report at reportKey, the scale, the pointer and
// the keys. panel: the panel's elements for the level, the pixel and the pointer. Returns the tile layer,
// which second.js adds to the map while the map shows, and what stops it following the state (the rest
// goes with the map).
export function dressMap(map, element, store, backend, keys, panel) {
  const state = store.get();
  const deepest = map.getMaxZoom();
  const tiles = backend.tileLayer(state.x0, state.poly, state[keys.method], {
    tileSize: 256,
    minZoom: 0,
    maxZoom: deepest,
    maxNativeZoom: deepest,
    keepBuffer: 1,
  });
  countTiles(tiles, map, element, element.querySelector('.loading'));
  const off = store.on(['x0', 'poly', keys.method], (s) => {
    if (s[keys.method] !== null) {
      tiles.setQuery(backend.tileQuery(s.x0, s.poly, s[keys.method]));
    }
  });
  // The roots before the path, whose labels keep clear of them.
  new RootLayer(store).addTo(map);
  new PathLayer(store, keys.report).addTo(map);
  new ScaleControl(panel.level, panel.pixel).addTo(map);
  followPointer(map, store, panel.pointer);
  followKeys(map, store, element);
  return { tiles, off };
}
