// The legend, from the server's classes (/roots): each class's colour with its roots, numbered as the
// markers are, and its point as the summary of muller-basins writes it; the colour of no root; and the
// key to the shading, the first class's colour at each row count the server names.
import { shownRoots } from '../classes.js';

const swatch = (colour) => {
  const span = document.createElement('span');
  span.className = 'swatch';
  span.style.background = colour;
  return span;
};

export function showLegend(store, legend, none, shades) {
  store.watch(['roots'], (state) => {
    const data = state.roots;
    if (!data) {
      return;
    }
    for (const item of Array.from(legend.querySelectorAll('.legend-class'))) {
      item.remove();
    }
    const shown = shownRoots(data);
    data.classes.forEach((c) => {
      const numbers = shown.filter((r) => c.roots.some((s) => s.n === r.n)).map((r) => r.number);
      const item = document.createElement('li');
      item.className = 'legend-class';
      const text = document.createElement('span');
      text.className = 'legend-roots';
      text.textContent = (numbers.length > 1 ? 'raíces ' + numbers.join(', ') : 'raíz ' + numbers[0]) + ' ' + c.label;
      item.append(swatch(c.colour), text);
      legend.insertBefore(item, none);
    });
    none.querySelector('.swatch').style.background = data.none;
    shades.textContent = '';
    const last = data.shade_rows.length - 1;
    data.shade_rows.forEach((rows, k) => {
      const figure = document.createElement('figure');
      figure.append(swatch(data.classes[0].shades[k]), document.createElement('br'),
        k === 0 ? '≤' + rows : k === last ? '≥' + rows : String(rows));
      shades.appendChild(figure);
    });
    const caption = document.createElement('figure');
    caption.textContent = 'filas';
    shades.appendChild(caption);
  });
}
