// The page's reader of polynomials against the programs' list (polynomial_cases.txt): the same verdicts
// and the same numbers, every zero of a polynomial +0; and its canonical numbers in the form the server
// compares with.
//
//     node polynomial_js_test.js web/polynomial.js tests/polynomial_cases.txt
//
// The page's modules are ES modules in files named .js, which a Node before 20.19 would take for
// CommonJS: they are imported from a copy beside a package.json that says what they are.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const url = require('url');
const assert = require('assert');

async function load(file) {
  const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'muller-page-'));
  try {
    for (const name of fs.readdirSync(path.dirname(file)).filter((n) => n.endsWith('.js'))) {
      fs.copyFileSync(path.join(path.dirname(file), name), path.join(copy, name));
    }
    fs.writeFileSync(path.join(copy, 'package.json'), '{"type": "module"}\n');
    return await import(url.pathToFileURL(path.join(copy, path.basename(file))).href);
  } finally {
    fs.rmSync(copy, { recursive: true, force: true });
  }
}

load(process.argv[2]).then(test, (e) => {
  console.error('FALLA: ' + e.message);
  process.exit(1);
});

function test(poly) {

  let failures = 0;
  const check = (ok, what) => {
    if (!ok) {
      failures += 1;
      console.error('FALLA: ' + what);
    }
  };

  const lines = fs.readFileSync(process.argv[3], 'utf8').split('\n');
  let cases = 0;
  for (const line of lines) {
    if (line === '' || line.startsWith('#')) {
      continue;
    }
    const [kind, text, want] = line.split('\t');
    const read = { poly: poly.parsePolynomial, roots: poly.parseRoots, point: poly.parsePoint }[kind];
    const got = read(text);
    const what = kind + ' ' + JSON.stringify(text);
    cases += 1;
    if (want === 'refused') {
      check(got.problem !== undefined, what + ' debe rechazarse');
      continue;
    }
    if (got.problem !== undefined) {
      check(false, what + ': ' + got.problem);
      continue;
    }
    if (kind === 'point') {
      // A point keeps the sign of a zero part written.
      const [re, im] = want.split(',').map(Number);
      check(Object.is(got.value[0], re) && Object.is(got.value[1], im), what + ': ' + got.value + ' en vez de ' + want);
      continue;
    }
    const expected = want.split(';').map((z) => z.split(',').map(Number).concat([0]).slice(0, 2));
    check(
      got.value.length === expected.length &&
        got.value.every((z, k) => Object.is(z[0], expected[k][0] + 0) && Object.is(z[1], expected[k][1] + 0)),
      what + ': ' + JSON.stringify(got.value) + ' en vez de ' + want,
    );
    // The expression written back reads to the same coefficients.
    if (kind === 'poly') {
      assert.deepStrictEqual(poly.parsePolynomial(poly.expression(got.value)).value, got.value, what);
      assert.deepStrictEqual(poly.parsePolynomial(poly.pretty(got.value)).value, got.value, what);
    }
  }
  check(cases > 100, 'solo ' + cases + ' casos');

  // to_chars' shortest form: fixed or scientific, the shorter (fixed on a tie), exponents of two
  // digits, integers with their exact digits (as printf's %f).
  for (const [v, text] of [
    [1, '1'], [-0, '0'], [0.5, '0.5'], [100, '100'], [1e5, '1e+05'], [0.001, '0.001'], [1e-6, '1e-06'],
    [1e308, '1e+308'], [-2.5e-300, '-2.5e-300'], [123456.75, '123456.75'], [0.1 + 0.2, '0.30000000000000004'],
    [1.2345678901234568e20, '123456789012345683968'], [5e-324, '5e-324'], [1e21, '1e+21'],
  ]) {
    check(poly.shortest(v) === text, 'shortest(' + v + ') = ' + poly.shortest(v) + ', no ' + text);
  }
  check(poly.canonical([[1, 0], [-0, 0], [0, -2]]) === '1;0;0,-2', 'canonical');

  // The refusals that say what to write instead, as the programs' do.
  for (const [text, says] of [
    ['(z-1)^3', '«raíces: 1;1;1»'], ['z (z + (1-2i))²*(z+i)', '«raíces: 0;-1,2;-1,2;0,-1»'],
    ['1 + z + 2', 'repite el término constante'], ['z + 0', 'tiene un término constante cero escrito'],
    ['z²2', 'desde la posición 3'],
  ]) {
    const problem = poly.parsePolynomial(text).problem || '';
    check(problem.includes(says), text + ': ' + problem);
  }
  if (failures > 0) {
    process.exit(1);
  }
  console.log(cases + ' casos, bien');
}
