// The explorer's page: the map of where Muller's method on z^4 + 1, or on the polynomial the user gives,
// leads from every second start point x1, zoomable to the limit of double precision; a click shows that
// point's search, drawn over the map, and its report as the terminal shows it. The polynomial's roots are
// numbered markers that can be dragged. The view, the polynomial, x0 and the selected point live in the
// address's fragment and in the browser's history.
//
// This module puts the parts together: the state (store.js), which the address fills first; where the
// tiles, reports and roots come from (api.js: the server, or this browser); the map with its layers and
// controls, each following the state itself; the panel's parts; and the requests for the report and
// the roots (data.js). Leaflet is the page's one global, L.
import { createStore } from './store.js';
import { chooseBackend } from './api.js';
import { followHistory, readAddress, showView } from './hash.js';
import { crs } from './geometry.js';
import { countTiles } from './tiles.js';
import { PathLayer } from './path.js';
import { RootLayer } from './roots.js';
import { ScaleControl } from './scale.js';
import { followPointer } from './pointer.js';
import { followKeys } from './keys.js';
import { followBackend } from './data.js';
import { fitReport, showReport } from './panel/report.js';
import { showLegend } from './panel/legend.js';
import { x0Field } from './panel/x0.js';
import { polyField } from './panel/poly.js';
import { showPoster } from './panel/poster.js';
import { saveView } from './panel/save.js';
import { viewButtons } from './panel/view.js';

const byId = (id) => document.getElementById(id);
const version = document.body.dataset.version;
const deepest = Number(document.body.dataset.deepestLevel);
const element = byId('map');
const backend = await chooseBackend(version).catch((e) => {
  byId('backend').textContent = 'No se pudo preparar el cálculo de las teselas: ' + e.message;
  throw e;
});
backend.line.then((line) => {
  byId('backend').textContent = line;
});

const first = readAddress(location.hash, deepest);
const store = createStore({ ...first.state, report: { status: 'none' }, roots: null });

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
// Leaflet follows the window's size, not the map's own: the panel beside it may change it. (Only on a
// change: invalidateSize forgets the centre as given, which then reads back in the pixels' rounding.)
new ResizeObserver(() => {
  const size = map.getSize();
  if (size.x !== element.clientWidth || size.y !== element.clientHeight) {
    map.invalidateSize();
  }
}).observe(element);
showView(map, first.view);

const state = store.get();
const tiles = backend.tileLayer(state.x0, state.poly, {
  tileSize: 256,
  minZoom: 0,
  maxZoom: deepest,
  maxNativeZoom: deepest,
  keepBuffer: 1,
});
countTiles(tiles, map, element, byId('loading'));
tiles.addTo(map);
store.on(['x0', 'poly'], (s) => tiles.setQuery(backend.tileQuery(s.x0, s.poly)));
// The roots before the path, whose labels keep clear of them.
new RootLayer(store).addTo(map);
new PathLayer(store).addTo(map);
new ScaleControl(byId('level'), byId('pixel')).addTo(map);
followPointer(map, store, byId('pointer'));
followKeys(map, store, element);

store.watch(['notice'], (s) => {
  byId('notice').textContent = s.notice;
});
const report = byId('report');
showReport(store, { report, searchLine: byId('search-line'), endLine: byId('end-line'), copy: byId('copy') });
showLegend(store, byId('legend'), byId('legend-none'), byId('shades'));
x0Field(store, { form: byId('x0-form'), input: byId('x0'), read: byId('x0-read'), problem: byId('x0-problem') });
polyField(store, {
  form: byId('poly-form'),
  kind: byId('poly-kind'),
  input: byId('poly'),
  problem: byId('poly-problem'),
  heading: document.querySelector('#panel-head h1'),
});
showPoster(map, store, {
  size: byId('poster-size'),
  command: byId('poster-command'),
  limit: byId('poster-limit'),
  copy: byId('poster-copy'),
});
byId('save').addEventListener('click', () => saveView(map, store));
viewButtons(map, store, { reset: byId('reset'), whole: byId('whole-path'), collapse: byId('collapse') }, () =>
  fitReport(report));

followBackend(store, backend);
followHistory(map, store, deepest);
