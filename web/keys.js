// The map by the keyboard: with the map focused, the arrows pan (Leaflet's own), + and − change the
// level by one, with Shift or not (Leaflet would take three with Shift), and Enter or Space select the
// pixel under the crosshair at the centre. The focus ring and the crosshair show while the keyboard is
// in use, not after a click: Leaflet focuses the map on every press of the mouse.
import { pixelCentre } from './geometry.js';

// The key codes that Leaflet's keyboard handler takes for zooming in and out.
const zoomIn = [187, 107, 61, 171];
const zoomOut = [189, 109, 54, 173];

// The focus ring and the crosshair, on the page's body, once for all its maps.
export function showKeyboardUse() {
  document.addEventListener('keydown', () => document.body.classList.add('keys'), true);
  document.addEventListener('pointerdown', () => document.body.classList.remove('keys'), true);
}

// The keys of one map, whose element is its container.
export function followKeys(map, store, element) {
  element.addEventListener('keydown', (e) => {
    if (e.target !== element || e.altKey || e.ctrlKey || e.metaKey) {
      return;
    }
    const zoom = zoomIn.includes(e.keyCode) ? 1 : zoomOut.includes(e.keyCode) ? -1 : 0;
    if (zoom !== 0) {
      e.preventDefault();
      e.stopPropagation(); // before Leaflet's handler, which listens on the document
      map.setZoom(map.getZoom() + zoom);
    } else if (e.key === 'Enter' || e.key === ' ') {
      e.preventDefault();
      store.set({ x1: pixelCentre(map.getCenter(), map.getZoom()), notice: '' }, { from: 'user' });
    }
  });
}
