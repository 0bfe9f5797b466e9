// Two methods side by side: while the state names a second method, a second map beside the first shows
// its basins at the same view (maps.js ties the two), with its own path, and a click on either selects
// the same start for both. Each map names its method over it. On a phone the two maps take the same
// place and one shows at a time, with a button over it that shows the other; the hidden one draws no
// tiles meanwhile. With one method the page has one map, as it always had.
import { createMap, dressMap, syncViews } from './maps.js';
import { methodLabel } from './methods.js';

// The name of a map's method, over it, and the button that shows the other map where only one shows.
const MethodTag = L.Control.extend({
  options: { position: 'topright' },

  // key, other: the state's keys of this map's method and of the other's; flip shows the other map.
  initialize: function (store, key, other, flip) {
    this._store = store;
    this._key = key;
    this._other = other;
    this._flip = flip;
  },

  onAdd: function () {
    const div = L.DomUtil.create('div', 'method-tag');
    L.DomEvent.disableClickPropagation(div);
    const name = L.DomUtil.create('span', 'method-name', div);
    const button = L.DomUtil.create('button', 'method-switch', div);
    button.type = 'button';
    button.addEventListener('click', this._flip);
    this._off = this._store.watch([this._key, this._other], (s) => {
      if (s[this._key] !== null && s[this._other] !== null) {
        name.textContent = methodLabel(s[this._key]);
        button.textContent = 'Ver ' + methodLabel(s[this._other]);
        button.title = 'Mostrar el mapa del método de ' + methodLabel(s[this._other]);
      }
    });
    return div;
  },

  onRemove: function () {
    this._off();
  },
});

// first: the first map, its tile layer and its element; panel: the panel's elements for the level, the
// pixel and the pointer, which both maps keep up to date. Called before the first map has its first
// view, which then fits the half of the width it has beside a second map.
export function followSecond(store, backend, first, panel) {
  const classes = document.body.classList;
  let second = null;
  // The tiles of the maps that show: on a phone the hidden map draws none, and its layer comes back when
  // it shows again.
  const shown = () => {
    for (const { map, tiles, element } of second === null ? [first] : [first, second]) {
      const hidden = getComputedStyle(element).visibility === 'hidden';
      if (hidden && map.hasLayer(tiles)) {
        map.removeLayer(tiles);
      } else if (!hidden && !map.hasLayer(tiles)) {
        tiles.addTo(map);
      }
    }
  };
  const flip = () => {
    classes.toggle('second-shown');
    shown();
    // The map shown keeps the keyboard's place.
    (classes.contains('second-shown') ? second : first).element.focus();
  };
  matchMedia('(max-width: 600px)').addEventListener('change', shown);
  const tag = new MethodTag(store, 'method', 'second', flip);

  const open = () => {
    const element = L.DomUtil.create('div', 'map', first.element.parentNode);
    element.id = 'map2';
    element.setAttribute('aria-label', 'Mapa del segundo método, con la misma vista que el primero');
    L.DomUtil.create('div', 'crosshair', element);
    const loading = L.DomUtil.create('div', 'loading', element);
    loading.setAttribute('role', 'status');
    loading.hidden = true;
    loading.textContent = 'Cargando teselas…';
    // At once, so that the first map takes its half before its first view is chosen.
    classes.add('compare');
    first.map.whenReady(() => {
      const { map, unobserve } = createMap(element, first.map.getMaxZoom());
      map.setView(first.map.getCenter(), first.map.getZoom(), { animate: false });
      const { tiles, off } = dressMap(map, element, store, backend, { method: 'second', report: 'report2' }, panel);
      new MethodTag(store, 'second', 'method', flip).addTo(map);
      tag.addTo(first.map);
      const unsync = syncViews(first.map, map);
      second = { map, tiles, element, close: [unsync, off, () => tag.remove(), () => map.remove(), unobserve] };
      shown();
    });
  };
  const close = () => {
    second.close.forEach((f) => f());
    second.element.remove();
    second = null;
    classes.remove('compare', 'second-shown');
  };
  store.watch(['second'], (state) => {
    if (state.second !== null && second === null) {
      open();
    } else if (state.second === null && second !== null) {
      close();
    }
    shown();
  });
}
