// The field of x0, the first start point: RE,IM or a complex number (0,5 is 0 + 5i, and says so at
// once beside the field), read as the command line reads --x0.
import { complexText, pair } from '../numbers.js';
import { parsePoint } from '../polynomial.js';

// elements: form, input, read (the point read, echoed) and problem.
export function x0Field(store, elements) {
  const { form, input, read, problem } = elements;
  const echo = (z) => {
    read.textContent = z ? 'x0 = ' + complexText(z) : '';
  };
  input.addEventListener('input', () => echo(parsePoint(input.value).value));
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    const x0 = parsePoint(input.value);
    input.setAttribute('aria-invalid', x0.problem ? 'true' : 'false');
    problem.textContent = x0.problem ? 'x0 ' + x0.problem : '';
    if (!x0.problem) {
      store.set({ x0: x0.value }, { from: 'user' });
      input.value = pair(x0.value);
    }
  });
  store.watch(['x0'], (state) => {
    input.value = pair(state.x0);
    input.setAttribute('aria-invalid', 'false');
    problem.textContent = '';
    echo(state.x0);
  });
}
