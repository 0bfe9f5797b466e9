// The polynomial's roots on the map: a layer of markers, numbered as the legend numbers them, on their
// class's colour. Dragging one, or moving it with the arrow keys while it has the focus (a pixel a
// press, ten with Shift), gives the polynomial by its roots, that one at the centre of the pixel where
// it ends.
import { finite, latlng, near, pixelCentre } from './geometry.js';
import { pair } from './numbers.js';
import { shownRoots } from './classes.js';

const steps = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };

export const RootLayer = L.LayerGroup.extend({
  initialize: function (store) {
    L.LayerGroup.prototype.initialize.call(this);
    this._store = store;
    this._moved = 0; // the number in the list of the root moved last, until its new marker is drawn
  },

  onAdd: function (map) {
    L.LayerGroup.prototype.onAdd.call(this, map);
    this._off = this._store.watch(['roots'], () => this.draw());
  },

  onRemove: function (map) {
    this._off();
    L.LayerGroup.prototype.onRemove.call(this, map);
  },

  draw: function () {
    // The marker that had the focus gives it to its root's new marker: the one just moved, under the
    // number the new list gives it, or the same root.
    const focused = this.getLayers().find((m) => m.getElement() === document.activeElement);
    const keep = focused ? this._moved || focused.options.root.n : 0;
    this._moved = 0;
    this.clearLayers();
    const data = this._store.get().roots;
    if (!data) {
      return;
    }
    for (const root of shownRoots(data)) {
      if (!near(root.z)) {
        continue;
      }
      const marker = L.marker(latlng(root.z), {
        root,
        draggable: true,
        title: 'raíz ' + root.number + ': ' + pair(root.z) + ' (arrastrarla, o con el foco las flechas, la mueve)',
        icon: L.divIcon({ className: 'root-marker', html: String(root.number), iconSize: [20, 20], iconAnchor: [10, 10] }),
      });
      marker.on('add', () => this._decorate(marker));
      marker.on('dragend', () => this._move(root, marker.getLatLng()));
      marker.addTo(this);
      if (root.n === keep) {
        marker.getElement().focus();
      }
    }
  },

  _decorate: function (marker) {
    const element = marker.getElement();
    element.style.background = marker.options.root.colour;
    element.setAttribute('role', 'button');
    let moved = false;
    element.addEventListener('keydown', (e) => {
      const step = steps[e.key];
      if (step) {
        e.preventDefault();
        e.stopPropagation();
        // In the map's pixels unrounded (a container point is rounded to the pixel's edge).
        const by = e.shiftKey ? 10 : 1;
        const p = this._map.project(marker.getLatLng()).add([step[0] * by, step[1] * by]);
        marker.setLatLng(this._map.unproject(p));
        moved = true;
      }
    });
    // The polynomial changes once a key is let go, not at every repeat of a key held down.
    element.addEventListener('keyup', (e) => {
      if (steps[e.key] && moved) {
        moved = false;
        this._move(marker.options.root, marker.getLatLng());
      }
    });
  },

  // The polynomial by its roots, one moved. Given by its roots already, the list keeps its order (the
  // server numbers a root by its place in it); from coefficients, the roots are listed as shown.
  _move: function (root, where) {
    const state = this._store.get();
    const byRoots = state.poly !== null && state.poly.form === 'r';
    const list = byRoots ? state.poly.list : shownRoots(state.roots).map((r) => r.z);
    if (!list.every(finite)) {
      this._store.set({ notice: 'Hay raíces no finitas: el polinomio no se puede dar por sus raíces.' });
      this.draw();
      return;
    }
    const index = byRoots ? root.n - 1 : root.number - 1;
    const moved = pixelCentre(where, this._map.getZoom());
    this._moved = index + 1;
    this._store.set({ poly: { form: 'r', list: list.map((z, k) => (k === index ? moved : z)) }, notice: '' }, { from: 'user' });
  },
});
