// The polynomial's field, "p(z) =" with an expression or "raíces:" with a list, read by the programs'
// grammar (polynomial.js); and the heading and the title, which name the methods and the polynomial
// searched.
import { canonical } from '../numbers.js';
import { expression, parsePolynomial, parseRoots, pretty } from '../polynomial.js';
import { normalPoly } from '../hash.js';
import { methodsTitle } from '../methods.js';

const defaultList = [[1, 0], [0, 0], [0, 0], [0, 0], [1, 0]];

// elements: form, kind (the select), input, problem and heading.
export function polyField(store, elements) {
  const { form, kind, input, problem, heading } = elements;
  form.addEventListener('submit', (e) => {
    e.preventDefault();
    const roots = kind.value === 'roots';
    // As typed: the reader takes spaces where the programs do, and nothing else.
    const read = roots ? parseRoots(input.value) : parsePolynomial(input.value);
    input.setAttribute('aria-invalid', read.problem ? 'true' : 'false');
    problem.textContent = read.problem ? (roots ? 'la lista de raíces ' : 'el polinomio ') + read.problem : '';
    if (!read.problem) {
      store.set({ poly: normalPoly({ form: roots ? 'r' : 'c', list: read.value }) }, { from: 'user' });
    }
  });
  store.watch(['poly'], (state) => {
    const poly = state.poly;
    const list = poly === null ? defaultList : poly.list;
    const byRoots = poly !== null && poly.form === 'r';
    kind.value = byRoots ? 'roots' : 'poly';
    input.value = byRoots ? canonical(list) : expression(list);
    input.setAttribute('aria-invalid', 'false');
    problem.textContent = '';
  });
  store.watch(['poly', 'method', 'second'], (state) => {
    const poly = state.poly;
    const list = poly === null ? defaultList : poly.list;
    // One rule for z^4 + 1 and any other: the canonical expression, powers in superscript.
    const name = poly !== null && poly.form === 'r' ? 'el polinomio de raíces dadas' : pretty(list);
    heading.textContent = methodsTitle(state.method, state.second) + ' sobre ' + name;
    document.title = heading.textContent + ': cuencas de las raíces';
  });
}
