// The panel's buttons for the view: the first view, the whole path of the selected search, and the
// panel folded to its heading (a sheet below the map on a phone).
import { finite, initialView, latlng } from '../geometry.js';

// elements: reset, whole (the path's button), collapse, and the report to fit after a fold.
export function viewButtons(map, store, elements, fitReport) {
  elements.reset.addEventListener('click', () => {
    const view = initialView(map.getSize());
    map.setView(view.centre, view.level);
  });
  // The path's points inside the square (both paths' with two methods), and x0 there, in view, zoomed
  // out if need be: only on asking, a click never moves the map.
  elements.whole.addEventListener('click', () => {
    const state = store.get();
    const { data } = state.report;
    const others = state.report2.status === 'ready' ? state.report2.data.points : [];
    const inside = [data.x0, data.x1].concat(data.points.concat(others).map((p) => p.x))
      .filter((z) => finite(z) && Math.abs(z[0]) <= 2 && Math.abs(z[1]) <= 2)
      .map(latlng);
    const wanted = L.latLngBounds(inside);
    const level = Math.min(map.getZoom(), map.getBoundsZoom(wanted, false, L.point(60, 40)));
    map.setView(wanted.getCenter(), level, { animate: false });
  });
  store.watch(['report'], (state) => {
    elements.whole.disabled = state.report.status !== 'ready';
  });
  elements.collapse.addEventListener('click', (e) => {
    const collapsed = document.body.classList.toggle('collapsed');
    e.target.textContent = collapsed ? 'Desplegar' : 'Plegar';
    e.target.title = collapsed ? 'Desplegar el panel' : 'Plegar el panel';
    e.target.setAttribute('aria-expanded', String(!collapsed));
    map.invalidateSize();
    fitReport();
  });
}
