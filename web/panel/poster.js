// The view as a poster: the muller-basins command that draws the first map's square, from the same x0,
// polynomial and method, at any size, ready to paste into a shell (every argument that a shell would split or
// interpret is quoted), and a button that copies it.
import { canonical, number, pair } from '../numbers.js';
import { expression } from '../polynomial.js';
import { pixelSize } from '../geometry.js';
import { viewName } from '../names.js';
import { copy } from './copy.js';

// A word as a POSIX shell reads it back: as it is when it holds nothing that the shell acts on, else in
// single quotes (a quote in it closed, escaped and opened again).
export const shellWord = (text) =>
  /^[A-Za-z0-9_@%+=:,./-]+$/.test(text) ? text : "'" + text.replace(/'/g, "'\\''") + "'";

// The square of the view's start points: centred on the middle of the view's pixel centres, its radius
// from the middle to the last along the larger side, so that with as many points a side as that side
// has pixels, the poster's points are the page's own. Where the two sides differ by an odd number of
// pixels, the centre moves by half a pixel to stay on the page's grid.
export function posterWindow(map) {
  const size = map.getSize();
  const side = Math.max(size.x, size.y);
  const pixel = pixelSize(map.getZoom());
  const c = map.getCenter();
  const shift = (extent) => (((side - extent) % 2) * pixel) / 2;
  return { radius: ((side - 1) * pixel) / 2, centre: [c.lng + shift(size.x), c.lat - shift(size.y)] };
}

export function posterCommand(map, state, n) {
  const w = posterWindow(map);
  const words = ['muller-basins', '-n', String(n), '-r', number(w.radius), '--center=' + pair(w.centre),
    '--x0=' + pair(state.x0)];
  if (state.method !== 'muller') {
    words.push('--method', state.method);
  }
  if (state.poly !== null) {
    words.push(...(state.poly.form === 'c' ? ['--poly', expression(state.poly.list)] : ['--roots', canonical(state.poly.list)]));
  }
  words.push('-o', viewName(map, state.poly, state.method) + '-' + n + '.png');
  return words.map(shellWord).join(' ');
}

// elements: size (the field of points a side), command, limit and copy.
export function showPoster(map, store, elements) {
  const n = () => Math.min(16384, Math.max(2, Math.round(Number(elements.size.value)) || 4096));
  const show = () => {
    elements.command.textContent = posterCommand(map, store.get(), n());
    // Points closer than a double's spacing at the window's edge would repeat one another.
    const w = posterWindow(map);
    const edge = Math.max(Math.abs(w.centre[0]), Math.abs(w.centre[1])) + w.radius;
    const spacing = Math.pow(2, Math.floor(Math.log2(edge)) - 52);
    const most = Math.floor((2 * w.radius) / spacing) + 1;
    elements.limit.textContent = n() > most
      ? 'A este nivel, más de ' + most + ' puntos por lado repiten puntos: es el límite de la precisión doble.'
      : '';
  };
  elements.size.addEventListener('input', show);
  elements.copy.addEventListener('click', () => copy(posterCommand(map, store.get(), n()), elements.copy));
  map.on('moveend zoomend resize', show);
  store.watch(['x0', 'poly', 'method'], show);
}
