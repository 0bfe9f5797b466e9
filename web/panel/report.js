// The selected search in the panel: what was searched, a plain line when it found no zero, and its
// report as the terminal shows it, with a button that copies it.
import { finite } from '../geometry.js';
import { pair } from '../numbers.js';
import { copy } from './copy.js';

const prompt = 'Haga clic en el mapa para ver la búsqueda desde ese x1 y su informe.';

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

// elements: report, searchLine, endLine and copy.
export function showReport(store, elements) {
  const { report, searchLine, endLine } = elements;
  elements.copy.addEventListener('click', () => copy(report.textContent, elements.copy));
  window.addEventListener('resize', () => fitReport(report));
  store.watch(['report'], (state) => {
    const { status, data, message } = state.report;
    report.textContent = status === 'ready' ? data.report : status === 'loading' ? 'Calculando…'
      : status === 'failed' ? 'No se pudo obtener el informe: ' + message : prompt;
    const ready = status === 'ready';
    searchLine.textContent = ready ? 'Búsqueda desde x0 = ' + pair(data.x0) + ' y x1 = ' + pair(data.x1) : '';
    endLine.textContent = '';
    elements.copy.disabled = !ready;
    if (ready && data.status !== 0) {
      const nonFinite = data.points.some((p) => !finite(p.x) || !finite(p.f));
      endLine.textContent = nonFinite
        ? 'Sin raíz: la búsqueda llegó a un valor no finito (una división por cero o un desbordamiento).'
        : 'Sin raíz: ' + data.points.length + ' filas sin converger.';
    }
    fitReport(report);
  });
}
