// The explorer's page: the map of where Muller's method (or the secant method, Newton's or Halley's) on
// z^4 + 1, or on the polynomial the user gives, leads from every second start point x1, zoomable to the
// limit of double precision; a click shows that point's search, drawn over the map, its report as the
// terminal shows it, and how it converged. A second method can be set beside the first, on a second map
// that shows the same view. The polynomial's roots are numbered markers that can be dragged. The view,
// the polynomial, the methods, x0 and the selected point live in the address's fragment and in the
// browser's history.
//
// This module puts the parts together: the state (store.js), which the address fills first; where the
// tiles, reports and roots come from (api.js: the server, or this browser); the map with its layers and
// controls, each following the state itself (maps.js), and the second map (second.js); the panel's
// parts; and the requests for the reports and the roots (data.js). Leaflet is the page's one global, L.
import { createStore } from './store.js';
import { chooseBackend } from './api.js';
import { followHistory, readAddress, showView } from './hash.js';
import { createMap, dressMap } from './maps.js';
import { followSecond } from './second.js';
import { showKeyboardUse } from './keys.js';
import { followBackend } from './data.js';
import { fitReport, showReport } from './panel/report.js';
import { showPlot } from './panel/plot.js';
import { methodFields } from './panel/method.js';
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
const store = createStore({ ...first.state, report: { status: 'none' }, report2: { status: 'none' }, roots: null });

const { map } = createMap(element, deepest);
const panel = { level: byId('level'), pixel: byId('pixel'), pointer: byId('pointer') };
const { tiles } = dressMap(map, element, store, backend, { method: 'method', report: 'report' }, panel);
showKeyboardUse();
followSecond(store, backend, { map, tiles, element }, panel);
showView(map, first.view);

store.watch(['notice'], (s) => {
  byId('notice').textContent = s.notice;
});
const reports = [byId('report'), byId('report2')];
showReport(store, byId('search-line'), [
  { key: 'report', method: 'method', box: byId('result'), report: reports[0], copy: byId('copy') },
  { key: 'report2', method: 'second', box: byId('result2'), report: reports[1], copy: byId('copy2') },
]);
showPlot(store, byId('convergence'));
methodFields(store, byId('method'), byId('second'));
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
  reports.forEach(fitReport));

followBackend(store, backend);
followHistory(map, store, deepest);
