// How the searches shown converged, beside their reports: for each row k, log10 |p(x_k)| (the residual,
// a solid line) and log10 |x_k - x_(k-1)| (the step, dashed; the first step is from x1), each method in
// its colour, from the points the answers give. Plain SVG: two or four lines, two axes and their ticks
// need no plotting library, whose smallest would weigh more than the page's own scripts together.
import { finite } from '../geometry.js';
import { methodLabel } from '../methods.js';

const svgNS = 'http://www.w3.org/2000/svg';
// Blue and vermillion, told apart by every kind of colour vision.
const colours = ['#0072b2', '#d55e00'];
const box = { width: 480, height: 210, left: 48, right: 12, top: 10, bottom: 40 };
const series = [
  { name: 'residual', dash: '', text: 'log₁₀ |p(xₖ)|' },
  { name: 'step', dash: '5 3', text: 'log₁₀ |xₖ − xₖ₋₁| (x₀ = x1)' },
];

function element(name, attributes, parent, text) {
  const e = document.createElementNS(svgNS, name);
  for (const [k, v] of Object.entries(attributes)) {
    e.setAttribute(k, String(v));
  }
  if (text !== undefined) {
    e.textContent = text;
  }
  parent.appendChild(e);
  return e;
}

// log10 of the modulus of re + i im, or null where the plot has no place for it (zero, or not finite).
function logOf(re, im) {
  const m = Math.hypot(re, im);
  return m > 0 && Number.isFinite(m) ? Math.log10(m) : null;
}

// Each row's [k, log10 |p(x_k)|] and [k, log10 |x_k - x_(k-1)|].
export function rows(data) {
  const residual = [];
  const step = [];
  let before = data.x1;
  for (const p of data.points) {
    residual.push([p.k, finite(p.f) ? logOf(p.f[0], p.f[1]) : null]);
    step.push([p.k, finite(p.x) && finite(before) ? logOf(p.x[0] - before[0], p.x[1] - before[1]) : null]);
    before = p.x;
  }
  return { residual, step };
}

// The first of 1, 2, 5, 10, 20... that cuts span into at most most parts.
function tickStep(span, most) {
  for (let power = 1; ; power *= 10) {
    const step = [1, 2, 5].map((m) => m * power).find((s) => span / s <= most);
    if (step !== undefined) {
      return step;
    }
  }
}

function draw(svg, shown) {
  svg.textContent = '';
  const values = shown.flatMap((s) => [...s.rows.residual, ...s.rows.step]).map(([, v]) => v).filter((v) => v !== null);
  const lastRow = Math.max(2, ...shown.map((s) => s.rows.residual.length));
  let low = values.length ? Math.floor(Math.min(...values)) : -16;
  let high = values.length ? Math.ceil(Math.max(...values)) : 0;
  const yStep = tickStep(Math.max(1, high - low), 6);
  low = Math.floor(low / yStep) * yStep;
  high = Math.max(low + yStep, Math.ceil(high / yStep) * yStep);
  const w = box.width - box.left - box.right;
  const h = box.height - box.top - box.bottom;
  const x = (k) => box.left + ((k - 1) / (lastRow - 1)) * w;
  const y = (v) => box.top + ((high - v) / (high - low)) * h;
  const axes = element('g', { class: 'axes', 'font-size': 11, fill: '#000' }, svg);
  for (let v = low; v <= high; v += yStep) {
    element('line', { x1: box.left, x2: box.left + w, y1: y(v), y2: y(v), stroke: '#ddd' }, axes);
    element('text', { x: box.left - 4, y: y(v) + 4, 'text-anchor': 'end' }, axes, String(v));
  }
  const xStep = tickStep(lastRow - 1, 10);
  for (let k = 1; k <= lastRow; k += 1) {
    if (k === 1 || k % xStep === 0) {
      element('line', { x1: x(k), x2: x(k), y1: box.top + h, y2: box.top + h + 4, stroke: '#000' }, axes);
      element('text', { x: x(k), y: box.top + h + 15, 'text-anchor': 'middle' }, axes, String(k));
    }
  }
  element('path', { d: `M${box.left},${box.top}V${box.top + h}H${box.left + w}`, fill: 'none', stroke: '#000' }, axes);
  element('text', { x: box.left + w / 2, y: box.height - 4, 'text-anchor': 'middle' }, axes, 'iteración k');
  element('text', { transform: `translate(12,${box.top + h / 2}) rotate(-90)`, 'text-anchor': 'middle' }, axes,
    'log₁₀ de la magnitud');
  shown.forEach((s, i) => {
    for (const { name, dash } of series) {
      const points = s.rows[name].filter(([, v]) => v !== null).map(([k, v]) => [x(k), y(v)]);
      element('polyline', {
        class: 'series series-' + name, 'data-method': s.method, fill: 'none', stroke: colours[i],
        'stroke-width': 1.5, 'stroke-dasharray': dash, points: points.map((p) => p.join(',')).join(' '),
      }, svg);
      for (const [px, py] of points) {
        element('circle', { cx: px, cy: py, r: 2, fill: name === 'residual' ? colours[i] : '#fff', stroke: colours[i] }, svg);
      }
    }
  });
}

// The key below the plot: the two lines, and each method's colour when there are two.
function key(caption, shown) {
  caption.textContent = '';
  const sample = (colour, dash) => {
    const span = document.createElement('span');
    span.className = 'plot-key';
    span.style.borderTop = '2px ' + (dash ? 'dashed ' : 'solid ') + colour;
    return span;
  };
  for (const { dash, text } of series) {
    caption.append(sample('#000', dash), text + '   ');
  }
  if (shown.length > 1) {
    shown.forEach((s, i) => caption.append(sample(colours[i], ''), methodLabel(s.method) + '   '));
  }
}

// figure: the plot's figure, with its svg and figcaption; shown while a report is.
export function showPlot(store, figure) {
  const svg = figure.querySelector('svg');
  svg.setAttribute('viewBox', `0 0 ${box.width} ${box.height}`);
  store.watch(['report', 'report2'], (state) => {
    const shown = [['report', 'method'], ['report2', 'second']]
      .filter(([r]) => state[r].status === 'ready')
      .map(([r, m]) => ({ method: state[m], rows: rows(state[r].data) }));
    figure.hidden = shown.length === 0;
    if (shown.length) {
      draw(svg, shown);
      key(figure.querySelector('figcaption'), shown);
    }
  });
}
