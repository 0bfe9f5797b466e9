// The polynomial as the user types it, read by the same grammar and rules as the programs' --poly and
// --roots, and written back in the canonical text the server asks for (c= coefficients, r= roots).
// Loaded by the page, and by Node for its test against the programs' list of accepted and refused texts.
//
//     poly  = [sign] term {sign term}
//     term  = coef ["*"] power | coef | power
//     power = "z" ["^" digits | superscripts]           (1 to 20, each power at most once)
//     coef  = real ["i"] | "i" | "(" real sign real "i" ")"
//
// Numbers are decimals (2, 0.5, .5, 1e-3), finite and not rounded to 0; spaces only between tokens.
'use strict';

(function (root) {
  const maxDegree = 20;
  const echo = (text) => '«' + (text.length > 40 ? text.slice(0, 40) + '…' : text) + '»';

  // A decimal by the programs' rule: its value, or why not.
  function real(text) {
    if (!/^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(text)) {
      return { problem: 'debe ser un número decimal, no ' + echo(text) };
    }
    const v = Number(text);
    if (v === 0 && /[1-9]/.test(text.replace(/[eE].*$/, ''))) {
      return { problem: echo(text) + ' es demasiado pequeño para representarlo' };
    }
    if (!Number.isFinite(v)) {
      return { problem: echo(text) + ' es demasiado grande para representarlo' };
    }
    return { value: v };
  }

  // -0 read as 0, so that a polynomial has one text whichever way a zero was written.
  const plain = (v) => (v === 0 ? 0 : v);

  // The digits ⁰ to ⁹, which a power may be written in (z² for z^2, as the page's heading writes it).
  const superscripts = '⁰¹²³⁴⁵⁶⁷⁸⁹';

  // A recursive-descent reader over the grammar above; the first problem found stops it. what names the
  // thing read in the refusals ('un polinomio en z').
  function reader(text, what) {
    let at = 0;
    let problem = '';
    const peek = () => (at < text.length ? text[at] : '');
    const spaces = () => {
      while (peek() === ' ') {
        at += 1;
      }
    };
    const unexpected = () =>
      at >= text.length
        ? 'no es ' + what + ': termina antes de tiempo'
        : 'no es ' + what + ': no se entiende desde la posición ' + (at + 1) + ', ' + echo(text.slice(at));
    const fail = (why) => {
      problem = why;
      return null;
    };
    const sign = () => {
      const c = peek();
      if (c !== '+' && c !== '-') {
        return false;
      }
      at += 1;
      spaces();
      return c === '-';
    };
    const number = () => {
      const m = /^(\d*\.?\d*)([eE][+-]?\d*)?/.exec(text.slice(at));
      if (!/\d/.test(m[1])) {
        return fail(unexpected());
      }
      if (m[2] !== undefined && !/\d$/.test(m[2])) {
        at += m[1].length + m[2].length;
        return fail(unexpected());
      }
      const r = real(m[0]);
      at += m[0].length;
      return r.problem ? fail('tiene un número fuera de rango: ' + r.problem) : r.value;
    };
    const coefficient = () => {
      if (peek() === 'i') {
        at += 1;
        return [0, 1];
      }
      if (peek() === '(') {
        at += 1;
        spaces();
        const negativeRe = sign();
        const re = number();
        if (re === null) {
          return null;
        }
        spaces();
        if (peek() !== '+' && peek() !== '-') {
          return fail(unexpected());
        }
        const negativeIm = sign();
        const im = number();
        if (im === null) {
          return null;
        }
        spaces();
        if (peek() !== 'i') {
          return fail(unexpected());
        }
        at += 1;
        spaces();
        if (peek() !== ')') {
          return fail(unexpected());
        }
        at += 1;
        return [negativeRe ? -re : re, negativeIm ? -im : im];
      }
      const value = number();
      if (value === null) {
        return null;
      }
      const before = at;
      spaces();
      if (peek() === 'i') {
        at += 1;
        return [0, value];
      }
      at = before;
      return [value, 0];
    };
    // After a 'z': its power, 1 without one, or null.
    const exponent = () => {
      const before = at;
      spaces();
      let digits = '';
      if (peek() === '^') {
        at += 1;
        spaces();
        digits = /^\d*/.exec(text.slice(at))[0];
        at += digits.length;
        if (digits === '') {
          return fail(unexpected());
        }
      } else {
        while (superscripts.includes(peek()) && peek() !== '') {
          digits += String(superscripts.indexOf(peek()));
          at += 1;
        }
        if (digits === '') {
          at = before;
          return 1;
        }
      }
      const power = Number(digits); // leading zeros count for nothing, as in the programs: z^007 is z^7
      if (power < 1 || power > maxDegree) {
        return fail('tiene la potencia z^' + digits + ': las potencias van de 1 a ' + maxDegree);
      }
      return power;
    };
    // A term: [coefficient, power], or null.
    const term = () => {
      let coef = [1, 0];
      if (peek() !== 'z') {
        coef = coefficient();
        if (coef === null) {
          return null;
        }
        spaces();
        if (peek() === '*') {
          at += 1;
          spaces();
          if (peek() !== 'z') {
            return fail(unexpected());
          }
        }
        if (peek() !== 'z') {
          return [coef, 0];
        }
      }
      at += 1;
      const power = exponent();
      return power === null ? null : [coef, power];
    };
    // Why a text that is not a polynomial was refused: a product of factors z - r, such as (z-1)^3, is
    // one that the grammar does not expand, and its roots are the way to give it.
    const productProblem = () => {
      const said = problem;
      at = 0;
      const roots = [];
      spaces();
      while (at < text.length) {
        let root = [0, 0];
        if (peek() === '(') {
          at += 1;
          spaces();
          if (peek() !== 'z') {
            return said;
          }
          at += 1;
          spaces();
          if (peek() !== '+' && peek() !== '-') {
            return said;
          }
          const minus = sign();
          const c = coefficient();
          spaces();
          if (c === null || peek() !== ')') {
            return said;
          }
          root = minus ? c : [-c[0], -c[1]];
        } else if (peek() !== 'z') {
          return said;
        }
        at += 1;
        const power = exponent();
        if (power === null || roots.length + power > maxDegree) {
          return said;
        }
        for (let k = 0; k < power; k += 1) {
          roots.push(root);
        }
        spaces();
        if (peek() === '*') {
          at += 1;
          spaces();
        }
      }
      return 'es un producto de factores, que no se desarrolla: escriba el polinomio desarrollado o dé sus ' +
        'raíces («raíces: ' + canonical(roots) + '»)';
    };
    const name = (k) => (k === 1 ? 'z' : 'z^' + k);

    // An expression in z: its coefficients [re, im], highest power first, or a problem.
    function polynomial() {
      const c = new Array(maxDegree + 1).fill(null);
      spaces();
      if (at === text.length) {
        return { problem: 'está vacío: se esperaba un polinomio en z' };
      }
      let negative = sign();
      for (;;) {
        const t = term();
        if (t === null) {
          return { problem: productProblem() };
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
        spaces();
        if (at === text.length) {
          break;
        }
        if (peek() !== '+' && peek() !== '-') {
          problem = unexpected();
          return { problem: productProblem() };
        }
        negative = sign();
      }
      let degree = maxDegree;
      while (degree > 0 && c[degree] === null) {
        degree -= 1;
      }
      if (degree === 0) {
        return { problem: 'es una constante: su grado debe ser de 1 a ' + maxDegree };
      }
      const value = [];
      for (let k = degree; k >= 0; k -= 1) {
        value.push(c[k] || [0, 0]);
      }
      return { value };
    }

    // A complex number: terms without z, its real and imaginary parts each written at most once. A part
    // written keeps its sign, -0 included; a part left out is +0.
    function complex() {
      const parts = [0, 0];
      const written = [false, false];
      spaces();
      if (at === text.length) {
        return { problem: 'está vacío: se esperaba RE,IM o un número complejo como 0.5+0.25i' };
      }
      let negative = sign();
      for (;;) {
        const start = at;
        const coef = coefficient();
        if (coef === null) {
          return { problem };
        }
        const both = text[start] === '(';
        const imaginary = !both && text[at - 1] === 'i';
        for (const part of [0, 1]) {
          if (both || (part === 1) === imaginary) {
            if (written[part]) {
              return { problem: 'da dos veces la parte ' + (part === 0 ? 'real' : 'imaginaria') };
            }
            written[part] = true;
            parts[part] = negative ? -coef[part] : coef[part];
          }
        }
        spaces();
        if (at === text.length) {
          return { value: parts };
        }
        if (peek() !== '+' && peek() !== '-') {
          return { problem: unexpected() };
        }
        negative = sign();
      }
    }
    return { polynomial, complex };
  }

  const parsePolynomial = (text) => reader(text, 'un polinomio en z').polynomial();

  // A point as the user writes it: RE,IM, spaces allowed around either part, or a complex number as
  // above (0.5+0.25i, -i, 2, (1.5-2e-3i)).
  function parsePoint(text) {
    const parts = String(text).split(',');
    if (parts.length === 1) {
      return reader(String(text), 'un número complejo').complex();
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
  const parseRoots = (text) => parseList(text, maxDegree, 'la raíz', 'raíces');
  function parseCoefficients(text) {
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

  // The shortest decimal that reads back to v, in the form C++'s to_chars gives it (and the server
  // compares): fixed or scientific, whichever is shorter (fixed on a tie), the exponent with its sign and
  // two digits at least, an integer in fixed form with all its exact digits; a zero of either sign as 0.
  function shortest(v) {
    if (v === 0) {
      return '0';
    }
    const sign = v < 0 ? '-' : '';
    const [mantissa, exponentText] = Math.abs(v).toExponential().split('e');
    const digits = mantissa.replace('.', '');
    const e = Number(exponentText);
    const scientific =
      digits[0] + (digits.length > 1 ? '.' + digits.slice(1) : '') + 'e' + (e < 0 ? '-' : '+') +
      String(Math.abs(e)).padStart(2, '0');
    let fixed;
    if (e < 0) {
      fixed = '0.' + '0'.repeat(-e - 1) + digits;
    } else if (digits.length <= e + 1) {
      fixed = BigInt(Math.abs(v)).toString(); // an integer's exact digits, as printf's %f writes them
    } else {
      fixed = digits.slice(0, e + 1) + '.' + digits.slice(e + 1);
    }
    return sign + (fixed.length <= scientific.length ? fixed : scientific);
  }

  // The canonical text of a list of [re, im]: RE or RE,IM each, ';' between, and no exponent's '+' (a
  // space in a query), so that it travels in a URL as it is.
  const canonical = (list) =>
    list.map((z) => shortest(z[0]) + (z[1] !== 0 ? ',' + shortest(z[1]) : '')).join(';').replace(/\+/g, '');

  // Coefficients written back as an expression that --poly reads to the same numbers.
  function expression(c) {
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

  const api = { maxDegree, parsePolynomial, parsePoint, parseRoots, parseCoefficients, shortest, canonical, expression };
  if (typeof module !== 'undefined' && module.exports) {
    module.exports = api;
  } else {
    root.MullerPolynomial = api;
  }
})(this);
