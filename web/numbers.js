// Numbers as the page writes and reads them: the shortest decimal that reads back as the same double,
// a point's RE,IM, the programs' rule for a decimal, and a value echoed in a message. Shared by the
// reader of polynomials and by the page.

// A value of the user's echoed in a message, cut to 40 characters.
export const echo = (text) => '«' + (text.length > 40 ? text.slice(0, 40) + '…' : text) + '»';

// In the shortest form that reads back as the same double; -0 keeps its sign, which the search (and
// its report) tells from 0.
export const number = (v) => (Object.is(v, -0) ? '-0' : String(v));
export const pair = (z) => number(z[0]) + ',' + number(z[1]);

// A point as a person reads it, and as the x0 field reads it back: 0.5 + 0.25i, 0 - 5i.
export function complexText(z) {
  const negative = z[1] < 0 || Object.is(z[1], -0);
  return number(z[0]) + (negative ? ' - ' : ' + ') + number(Math.abs(z[1])) + 'i';
}

// A value to the decimals a pixel of the level needs, without trailing zeros: the pointer's x1, and
// the centre in a file's name.
export function decimalsFor(level) {
  return Math.min(17, Math.ceil((6 + level) * Math.LOG10E * Math.LN2) + 1);
}
export const rounded = (v, level) => String(Number(v.toFixed(decimalsFor(level))));

// A decimal by the programs' rule (digits, a fraction, an exponent; no spaces, no hexadecimal, no inf
// or nan), finite and not rounded to 0: its value, or why not.
const decimal = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;
export function real(text) {
  if (!decimal.test(text)) {
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

// RE,IM exactly as the server reads x0 and x1 (the address's points): no spaces, no complex form, so
// that a link keeps its meaning. Returns the pair, or why not, worded to follow the point's name.
export function readPair(text) {
  const parts = String(text).split(',');
  if (parts.length !== 2) {
    return { problem: 'son dos números separados por una coma, RE,IM (por ejemplo 0.5,0.25)' };
  }
  const read = parts.map(real);
  const wrong = read.findIndex((r) => r.problem);
  if (wrong >= 0) {
    return { problem: 'tiene mal la parte ' + (wrong === 0 ? 'real' : 'imaginaria') + ': ' + read[wrong].problem };
  }
  return { value: [read[0].value, read[1].value] };
}

// The shortest decimal that reads back to v, in the form C++'s to_chars gives it (and the server
// compares): fixed or scientific, whichever is shorter (fixed on a tie), the exponent with its sign and
// two digits at least, an integer in fixed form with all its exact digits; a zero of either sign as 0.
export function shortest(v) {
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
export const canonical = (list) =>
  list.map((z) => shortest(z[0]) + (z[1] !== 0 ? ',' + shortest(z[1]) : '')).join(';').replace(/\+/g, '');
