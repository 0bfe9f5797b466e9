// The selected search in the panel: what was searched, and for each method shown its report as the
// terminal shows it, with a button that copies it, a plain line when it found no zero, and the order of
// convergence that the answer estimates from the rows (the page estimates nothing itself). With two
// methods, each report is titled by its method.
import { finite } from '../geometry.js';
import { pair } from '../numbers.js';
import { methodLabel } from '../methods.js';
import { copy } from './copy.js';

const prompt = 'Haga clic en el mapa para ver la búsqueda desde ese x1 y su informe.';

// Below this the rows show a linear convergence, as at a multiple root (the secant's is 1.618).
const linear = 1.3;

// The report in one size of type that fits its widest line, never under 11 pixels: never wrapped, so
// that it stays character for character what the terminal shows; a narrower screen scrolls it inside
// its box.
export function fitReport(report) {
  report.style.fontSize = '12px';
  const room = report.clientWidth - 12;
  const needed = report.scrollWidth - 12;
  if (needed > room && room > 0) {
    report.style.fontSize = Math.max(11, Math.floor(((12 * room) / needed) * 10) / 10) + 'px';
  }
}

// The order as the answer gives it ("order": a number, or null where the rows allow no estimate).
function orderText(data) {
  if (data.order === undefined) {
    return '';
  }
  if (data.order === null) {
    return 'orden estimado: no se puede estimar';
  }
  const text = 'orden estimado ≈ ' + data.order.toFixed(2);
  return data.status === 0 && data.order < linear
    ? text + '. Convergencia lineal: en una raíz múltiple todos los métodos convergen solo linealmente.'
    : text;
}

function endText(data) {
  if (data.status === 0) {
    return '';
  }
  return data.points.some((p) => !finite(p.x) || !finite(p.f))
    ? 'Sin raíz: la búsqueda llegó a un valor no finito (una división por cero o un desbordamiento).'
    : 'Sin raíz: ' + data.points.length + ' filas sin converger.';
}

// blocks: for each report, its key in the state, the key of its method, and its elements: box (with
// its .result-title, .end-line and .order-line), report and copy.
export function showReport(store, searchLine, blocks) {
  window.addEventListener('resize', () => blocks.forEach((b) => fitReport(b.report)));
  store.watch(['report'], (state) => {
    const { status, data } = state.report;
    searchLine.textContent = status === 'ready' ? 'Búsqueda desde x0 = ' + pair(data.x0) + ' y x1 = ' + pair(data.x1) : '';
  });
  for (const b of blocks) {
    const [title, endLine, orderLine] = ['.result-title', '.end-line', '.order-line'].map((s) => b.box.querySelector(s));
    b.copy.addEventListener('click', () => copy(b.report.textContent, b.copy));
    store.watch([b.key, b.method, 'second'], (state) => {
      const { status, data, message } = state[b.key];
      b.box.hidden = state[b.method] === null;
      title.textContent = state.second !== null && state[b.method] !== null ? methodLabel(state[b.method]) : '';
      b.report.textContent = status === 'ready' ? data.report : status === 'loading' ? 'Calculando…'
        : status === 'failed' ? 'No se pudo obtener el informe: ' + message : prompt;
      b.copy.disabled = status !== 'ready';
      endLine.textContent = status === 'ready' ? endText(data) : '';
      orderLine.textContent = status === 'ready' ? orderText(data) : '';
      fitReport(b.report);
    });
  }
}
