// The polynomial as the user types it, read by the same grammar and rules as the programs' --poly and
// --roots, and written back in the canonical text the server asks for (c= coefficients, r= roots); and a
// point as the x0 field reads it. A module of the page, imported by Node for its test against the
// programs' list of accepted and refused texts (tests/polynomial_cases.txt).
//
//     poly  = [sign] term {sign term}
//     term  = coef ["*"] power | coef | power
//     power = "z" ["^" digits | superscripts]           (1 to 20, each power at most once)
//     coef  = real ["i"] | "i" | "(" real sign real "i" ")"
//
// Numbers are decimals (2, 0.5, .5, 1e-3), finite and not rounded to 0; superscripts are the digits ⁰ to
// ⁹; spaces only between tokens.
import { canonical, echo, real, shortest } from './numbers.js';
import { Scanner, maxDegree } from './scanner.js';

export { canonical, maxDegree, shortest };

// -0 read as 0, so that a polynomial has one text whichever way a zero was written.
const plain = (v) => (v === 0 ? 0 : v);
const name = (k) => (k === 1 ? 'z' : 'z^' + k);

// Why a text that is not a polynomial was refused. A product of factors z - r, such as (z-1)^3 or
// (z+i)(z-i), is a polynomial that the grammar does not expand: its roots are the way to give it, and
// the message writes them out.
function productProblem(text, problem) {
  const s = new Scanner(text, '');
  const roots = [];
  s.spaces();
  while (!s.done()) {
    let root = [0, 0];
    if (s.peek() === '(') {
      s.at += 1;
      s.spaces();
      if (s.peek() !== 'z') {
        return problem;
      }
      s.at += 1;
      s.spaces();
      if (s.peek() !== '+' && s.peek() !== '-') {
        return problem;
      }
      const minus = s.sign();
      const c = s.coefficient();
      s.spaces();
      if (c === null || s.peek() !== ')') {
        return problem;
      }
      root = minus ? c : [-c[0], -c[1]];
    } else if (s.peek() !== 'z') {
      return problem;
    }
    s.at += 1;
    const power = s.exponent();
    if (power === null || roots.length + power > maxDegree) {
      return problem;
    }
    roots.push(...new Array(power).fill(root));
    s.spaces();
    if (s.peek() === '*') {
      s.at += 1;
      s.spaces();
    }
  }
  return 'es un producto de factores, que no se desarrolla: escriba el polinomio desarrollado o dé sus ' +
    'raíces («raíces: ' + canonical(roots) + '»)';
}

// An expression in z: its coefficients [re, im], highest power first, or a problem.
export function parsePolynomial(text) {
  const s = new Scanner(text, 'un polinomio en z');
  const c = new Array(maxDegree + 1).fill(null);
  s.spaces();
  if (s.done()) {
    return { problem: 'está vacío: se esperaba un polinomio en z' };
  }
  let negative = s.sign();
  for (;;) {
    const t = s.term();
    if (t === null) {
      return { problem: productProblem(text, s.problem) };
    }
    const [coef, power] = t;
    if (c[power] !== null) {
      return { problem: power === 0 ? 'repite el término constante' : 'repite la potencia ' + name(power) };
    }
    if (coef[0] === 0 && coef[1] === 0) {
      return {
        problem: power === 0 ? 'tiene un término constante cero escrito'
          : 'tiene un coeficiente cero escrito, el de ' + name(power),
      };
    }
    c[power] = coef.map((v) => plain(negative ? -v : v));
    s.spaces();
    if (s.done()) {
      break;
    }
    if (s.peek() !== '+' && s.peek() !== '-') {
      return { problem: productProblem(text, s.unexpected()) };
    }
    negative = s.sign();
  }
  let degree = maxDegree;
  while (degree > 0 && c[degree] === null) {
    degree -= 1;
  }
  if (degree === 0) {
    return { problem: 'es una constante: su grado debe ser de 1 a ' + maxDegree };
  }
  return { value: c.slice(0, degree + 1).reverse().map((z) => z || [0, 0]) };
}

// A complex number: terms without z, its real and imaginary parts each written at most once
// (0.5+0.25i, -i, 2, (1.5-2e-3i)). A part written keeps its sign, -0 included; a part left out is +0.
function parseComplex(text) {
  const s = new Scanner(text, 'un número complejo');
  const parts = [0, 0];
  const written = [false, false];
  s.spaces();
  if (s.done()) {
    return { problem: 'está vacío: se esperaba RE,IM o un número complejo como 0.5+0.25i' };
  }
  let negative = s.sign();
  for (;;) {
    const start = s.at;
    const coef = s.coefficient();
    if (coef === null) {
      return { problem: s.problem };
    }
    // Which parts the term wrote: both in parentheses, the imaginary one when it ends in i.
    const both = text[start] === '(';
    const imaginary = !both && text[s.at - 1] === 'i';
    for (const part of [0, 1]) {
      if (both || (part === 1) === imaginary) {
        if (written[part]) {
          return { problem: 'da dos veces la parte ' + (part === 0 ? 'real' : 'imaginaria') };
        }
        written[part] = true;
        parts[part] = negative ? -coef[part] : coef[part];
      }
    }
    s.spaces();
    if (s.done()) {
      return { value: parts };
    }
    if (s.peek() !== '+' && s.peek() !== '-') {
      return { problem: s.unexpected() };
    }
    negative = s.sign();
  }
}

// A point as the user writes it: RE,IM, spaces allowed around either part, or a complex number.
export function parsePoint(text) {
  const parts = String(text).split(',');
  if (parts.length === 1) {
    return parseComplex(String(text));
  }
  if (parts.length > 2) {
    return { problem: 'debe ser RE,IM, dos números decimales separados por una coma, no ' + echo(String(text)) };
  }
  const read = parts.map((p) => real(p.replace(/^ +| +$/g, ''))); // spaces only, as the programs allow
  const wrong = read.findIndex((r) => r.problem);
  if (wrong >= 0) {
    return { problem: 'tiene mal la parte ' + (wrong === 0 ? 'real' : 'imaginaria') + ': ' + read[wrong].problem };
  }
  return { value: [read[0].value, read[1].value] };
}

// A list RE or RE,IM;... of at most `most` numbers, as [re, im] pairs, or a problem.
function parseList(text, most, what, plural) {
  const items = String(text).split(';');
  if (items.length > most) {
    return { problem: 'tiene más de ' + most + ' ' + plural };
  }
  const value = [];
  for (const [k, item] of items.entries()) {
    const parts = item.split(',');
    const read = parts.length > 2 ? [{ problem: 'debe tener la forma RE,IM, no ' + echo(item) }] : parts.map(real);
    const wrong = read.find((r) => r.problem);
    if (wrong) {
      return { problem: 'tiene mal ' + what + ' ' + (k + 1) + ': ' + wrong.problem };
    }
    value.push([plain(read[0].value), parts.length === 2 ? plain(read[1].value) : 0]);
  }
  return { value };
}
export const parseRoots = (text) => parseList(text, maxDegree, 'la raíz', 'raíces');
export function parseCoefficients(text) {
  const list = parseList(text, maxDegree + 1, 'el coeficiente', 'coeficientes');
  if (list.problem) {
    return list;
  }
  if (list.value.length < 2) {
    return { problem: 'es una constante: su grado debe ser de 1 a ' + maxDegree };
  }
  if (list.value[0][0] === 0 && list.value[0][1] === 0) {
    return { problem: 'empieza por un coeficiente cero: el primero es el de la potencia más alta' };
  }
  return list;
}

// Coefficients written back as an expression that --poly reads to the same numbers.
export function expression(c) {
  const n = c.length - 1;
  const terms = [];
  c.forEach(([re, im], j) => {
    const k = n - j;
    if (re === 0 && im === 0) {
      return;
    }
    const power = k === 0 ? '' : k === 1 ? 'z' : 'z^' + k;
    let text;
    let negative = false;
    if (im === 0) {
      negative = re < 0;
      text = re === 1 || re === -1 ? (power === '' ? '1' : '') : String(Math.abs(re));
    } else if (re === 0) {
      negative = im < 0;
      text = String(Math.abs(im)) + 'i';
    } else {
      text = '(' + String(re) + (im < 0 ? '-' : '+') + String(Math.abs(im)) + 'i)';
    }
    terms.push({ negative, text: text + (text !== '' && power !== '' ? '*' : '') + power });
  });
  return terms
    .map((t, i) => (i === 0 ? (t.negative ? '-' : '') + t.text : (t.negative ? ' - ' : ' + ') + t.text))
    .join('');
}

// The same expression as a heading writes it, powers in superscript (z⁴ + 1): the field reads it back.
export const pretty = (c) =>
  expression(c).replace(/\*/g, '').replace(/\^(\d+)/g, (_, k) => [...k].map((d) => '⁰¹²³⁴⁵⁶⁷⁸⁹'[d]).join(''));
