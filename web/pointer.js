// The pointer over the map: its x1 in the panel, with as many decimals as the level's pixels need, and
// a click that selects the pixel under it. The map never moves for a click: a second click on the same
// spot selects the same point.
import { decimalsFor } from './numbers.js';
import { pixelCentre } from './geometry.js';

export function followPointer(map, store, text) {
  map.on('mousemove', (e) => {
    const d = decimalsFor(map.getZoom());
    text.textContent = '(' + e.latlng.lng.toFixed(d) + ', ' + e.latlng.lat.toFixed(d) + ')';
  });
  map.on('mouseout', () => {
    text.textContent = '-';
  });
  // A click selects after a moment in which no second click came: a double click only zooms.
  let pending = null;
  map.on('click', (e) => {
    clearTimeout(pending);
    const x1 = pixelCentre(e.latlng, map.getZoom());
    pending = setTimeout(() => store.set({ x1, notice: '' }, { from: 'user' }), 300);
  });
  map.on('dblclick', () => clearTimeout(pending));
}
