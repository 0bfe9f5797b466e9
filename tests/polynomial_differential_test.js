// The page's reader against the programs' own, on tens of thousands of texts: seeded random expressions,
// lists and points, the same mutated a character at a time, and adversarial ones (white space of every
// kind, numbers at the edges of double, powers with many digits). For each text both must give the same
// verdict and, when they accept it, the same numbers and the same canonical text.
//
//     node polynomial_differential_test.js POLYNOMIAL_JS POLYNOMIAL_VERDICTS [CASES]
//
// POLYNOMIAL_VERDICTS is the programs' reader (tools/polynomial_verdicts.cpp). The page's reader is
// loaded by loadReader(), whether it is a classic script or an ES module.
'use strict';

const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { pathToFileURL } = require('url');

// The reader's functions, from a classic script (which sets window.MullerPolynomial, or module.exports
// under Node) or from an ES module that exports them (by name or as its default). A Node before 20.19
// takes a .js file with ES module syntax for CommonJS and fails to load it: it is given a copy of the
// file's folder beside a package.json that says its files are modules, so that its imports hold.
async function loadReader(file) {
  globalThis.window = globalThis;
  const has = (api) => api && typeof api.parsePolynomial === 'function';
  let namespace;
  try {
    namespace = await import(pathToFileURL(path.resolve(file)).href);
  } catch (e) {
    const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'muller-page-'));
    try {
      fs.cpSync(path.dirname(path.resolve(file)), copy, { recursive: true, filter: (f) => !f.endsWith('.json') });
      fs.writeFileSync(path.join(copy, 'package.json'), '{"type": "module"}\n');
      namespace = await import(pathToFileURL(path.join(copy, path.basename(file))).href);
    } catch (again) {
      throw e;
    } finally {
      fs.rmSync(copy, { recursive: true, force: true });
    }
  }
  const api = [namespace, namespace.default, globalThis.MullerPolynomial].find(has);
  if (!api) {
    throw new Error(file + ' no da parsePolynomial');
  }
  return api;
}

// A seeded generator (mulberry32), so that every run sends the same texts.
function generator(seed) {
  let a = seed >>> 0;
  const next = () => {
    a = (a + 0x6d2b79f5) >>> 0;
    let t = a;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
  const int = (n) => Math.floor(next() * n);
  const pick = (list) => list[int(list.length)];
  return { next, int, pick };
}

const white = [' ', ' ', ' ', '\t', '\n', '\r', '\u00a0', '\u2009', '\u3000', '\ufeff', '\u000b'];
const alphabet = [...'0123456789.eE+-iz^*(),; ', ...'²³⁰¹⁴⁵⁶⁷⁸⁹', ...white, 'x', 'I', 'Z', '١', '𝟙', 'é'];
const edges = ['0', '-0', '1e308', '1.7976931348623157e308', '1.7976931348623158e308', '1.797693134862315808e308',
  '2e308', '5e-324', '2.4703282292062328e-324', '2.4703282292062327e-324', '1e-324', '0e999999', '0.0e-400',
  '1e-400', '4.9406564584124654e-324', '9'.repeat(400), '0.' + '0'.repeat(330) + '1', '1' + '0'.repeat(308),
  '.5', '5.', '1E+3', '1e-0', '00.00100', '0x10', 'Infinity', 'NaN', '1_000', '１', '1e', '1e+', '.', 'e5'];

function number(g) {
  if (g.next() < 0.15) {
    return g.pick(edges).replace(/^[+-]/, '');
  }
  const digits = () => String(g.int(10 ** (1 + g.int(6))));
  let text = g.pick([() => digits(), () => digits() + '.' + digits(), () => '.' + digits(), () => digits() + '.'])();
  if (g.next() < 0.3) {
    text += g.pick(['e', 'E']) + g.pick(['', '+', '-']) + String(g.int(g.next() < 0.9 ? 30 : 400));
  }
  return text;
}

function space(g) {
  const r = g.next();
  return r < 0.6 ? '' : r < 0.95 ? ' '.repeat(1 + g.int(2)) : g.pick(white);
}

function power(g) {
  const k = g.next() < 0.9 ? 1 + g.int(20) : g.int(100000);
  const r = g.next();
  if (r < 0.2) {
    return 'z';
  }
  if (r < 0.35) {
    return 'z' + [...String(k)].map((d) => '⁰¹²³⁴⁵⁶⁷⁸⁹'[d]).join('');
  }
  return 'z' + space(g) + '^' + space(g) + '0'.repeat(g.next() < 0.15 ? 1 + g.int(8) : 0) + k;
}

function coefficient(g) {
  return g.pick([
    () => number(g),
    () => number(g) + space(g) + 'i',
    () => 'i',
    () => '(' + space(g) + g.pick(['', '-', '+']) + number(g) + space(g) + g.pick(['+', '-']) + space(g) + number(g) +
      space(g) + 'i' + space(g) + ')',
  ])();
}

function expression(g) {
  let text = space(g) + g.pick(['', '', '-', '+ ']);
  const terms = 1 + g.int(6);
  for (let t = 0; t < terms; t += 1) {
    if (t > 0) {
      text += space(g) + g.pick(['+', '-']) + space(g);
    }
    text += g.pick([
      () => coefficient(g) + space(g) + g.pick(['', '*']) + space(g) + power(g),
      () => power(g),
      () => coefficient(g),
    ])();
  }
  return text + space(g);
}

function list(g) {
  const items = [];
  const count = g.next() < 0.95 ? 1 + g.int(8) : 19 + g.int(4);
  for (let k = 0; k < count; k += 1) {
    const sign = () => g.pick(['', '', '-', '+']);
    items.push(sign() + number(g) + (g.next() < 0.5 ? ',' + sign() + number(g) : ''));
  }
  return items.join(';');
}

function point(g) {
  return g.next() < 0.5 ? space(g) + g.pick(['', '-']) + number(g) + space(g) + ',' + space(g) + g.pick(['', '-']) +
    number(g) + space(g) : space(g) + g.pick(['', '-']) + coefficient(g) + space(g) +
    (g.next() < 0.5 ? g.pick(['+', '-']) + space(g) + coefficient(g) : '') + space(g);
}

// A character inserted, removed or replaced, once or a few times.
function mutated(g, text) {
  const chars = [...text];
  for (let m = 1 + g.int(3); m > 0; m -= 1) {
    const at = g.int(chars.length + 1);
    const r = g.next();
    if (r < 0.4) {
      chars.splice(at, 0, g.pick(alphabet));
    } else if (r < 0.7) {
      chars.splice(at, 1);
    } else {
      chars.splice(at, 1, g.pick(alphabet));
    }
  }
  return chars.join('');
}

function cases(count) {
  const g = generator(20261208);
  const make = { poly: expression, roots: list, coef: list, point };
  const all = [];
  // Adversarial texts, each as every kind.
  for (const kind of Object.keys(make)) {
    for (const w of white) {
      for (const text of ['z^2 - 1', '1;2', '1,2', '0.5+0.25i']) {
        all.push([kind, w + text], [kind, text + w], [kind, text.replace(/ /g, w)]);
      }
    }
    for (const e of edges) {
      all.push([kind, e], [kind, '-' + e], [kind, 'z + ' + e], [kind, '1;' + e], [kind, e + ',' + e], [kind, e + 'i']);
    }
    for (const digits of ['00001', '0'.repeat(40) + '7', '20', '21', '0', '9'.repeat(40), '020', '00000000000000000020']) {
      all.push([kind, 'z^' + digits], [kind, 'z^' + digits + ' + 1'], [kind, '2z^' + digits + ' - z']);
    }
  }
  while (all.length < count) {
    const kind = g.pick(Object.keys(make));
    const text = make[kind](g);
    all.push([kind, g.next() < 0.35 ? mutated(g, text) : text]);
    if (g.next() < 0.1) {
      all.push([kind, Array.from({ length: g.int(25) }, () => g.pick(alphabet)).join('')]);
    }
  }
  return all;
}

// The programs' "RE,IM;..." as pairs of doubles.
const pairs = (text) => text.split(';').map((z) => z.split(',').map(Number));

async function main() {
  const [file, verdicts, wanted] = process.argv.slice(2);
  const reader = await loadReader(file);
  const read = { poly: reader.parsePolynomial, roots: reader.parseRoots, coef: reader.parseCoefficients,
    point: reader.parsePoint };
  const all = cases(Number(wanted || 40000));
  // Every accepted expression is also written back, as the page writes it for --poly, and read again.
  const page = all.map(([kind, text]) => read[kind](text));
  all.forEach(([kind], k) => {
    if (kind === 'poly' && page[k].value) {
      all.push(['poly', reader.expression(page[k].value)]);
      page.push(read.poly(all[all.length - 1][1]));
    }
  });
  const input = all.map(([kind, text]) => kind + ' ' + Buffer.from(text, 'utf8').toString('hex')).join('\n') + '\n';
  const run = childProcess.spawnSync(verdicts, [], { input, maxBuffer: 1 << 28 });
  if (run.status !== 0) {
    throw new Error(verdicts + ' termino con ' + run.status + ': ' + run.stderr);
  }
  const programs = run.stdout.toString('utf8').split('\n');
  let wrong = 0;
  all.forEach(([kind, text], k) => {
    const [verdict, numbers, canonical] = programs[k].split('\t');
    const got = page[k];
    let problem = '';
    if ((verdict === 'ok') !== (got.value !== undefined)) {
      problem = verdict === 'ok' ? 'la página lo rechaza (' + got.problem + ')' : 'los programas lo rechazan';
    } else if (verdict === 'ok') {
      const mine = kind === 'point' ? [got.value] : got.value;
      const theirs = pairs(numbers);
      const same = mine.length === theirs.length && mine.every((z, j) => Object.is(z[0], theirs[j][0]) &&
        Object.is(z[1], theirs[j][1]));
      if (!same) {
        problem = 'números distintos: ' + JSON.stringify(mine) + ' y ' + numbers;
      } else if (kind !== 'point' && reader.canonical(got.value) !== canonical) {
        problem = 'texto canónico distinto: ' + reader.canonical(got.value) + ' y ' + canonical;
      }
    }
    if (problem !== '') {
      wrong += 1;
      if (wrong <= 10) {
        console.error('FALLA: ' + kind + ' ' + JSON.stringify(text) + ': ' + problem);
      }
    }
  });
  const accepted = programs.filter((line) => line.startsWith('ok')).length;
  console.log(all.length + ' textos, ' + accepted + ' aceptados, ' + wrong + ' en desacuerdo');
  process.exit(wrong === 0 && accepted > all.length / 10 ? 0 : 1);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
