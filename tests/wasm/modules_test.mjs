// The page's WebAssembly modules under Node against the native build, byte for byte, through the page's
// own loader (muller-module.js):
//
//   node modules_test.mjs reports|tiles scalar|simd SITE NATIVE
//
// reports: the 3,064 reports of tools/many_reports.cpp as the native many_reports prints them, and each
// search's JSON, and the roots' JSON of several polynomials, as the native explorer's (NATIVE/page_answers).
// tiles: a table of tiles, z^4 + 1 from level 0 to 45 and other x0 and polynomials, pixel for pixel
// map::draw's. SITE is the build's site folder, NATIVE the native build's folder.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const [what, kind, site, native] = process.argv.slice(2);
const { load, Refusal, simdSupported } = await import(pathToFileURL(path.join(site, 'muller-module.js')));
// Node 20 has WebAssembly's SIMD: a probe that said otherwise would give every browser the scalar module.
assert.equal(simdSupported(), true);
const muller = await load(fs.readFileSync(path.join(site, `muller-${kind}.wasm`)));
// A SIMD module that fell back to the scalar search would pass every comparison and test nothing new.
assert.equal(muller.vectorInstructions, kind === 'simd' ? 'WASM' : '');

function run(program, input) {
  const r = spawnSync(path.join(native, program), { input, maxBuffer: 1 << 30 });
  assert.equal(r.status, 0, `${program}: ${r.stderr}`);
  return r.stdout;
}

// Numbers as strtod reads them back exactly: the shortest decimal, and -0 with its sign.
const number = (x) => (Object.is(x, -0) ? '-0' : String(x));

// std::mt19937_64, whose sequence the C++ standard fixes, and many_reports' parts from it.
function mt19937_64(seed) {
  const mask = (1n << 64n) - 1n;
  const state = [BigInt(seed)];
  for (let i = 1; i < 312; ++i) {
    const previous = state[i - 1];
    state.push((6364136223846793005n * (previous ^ (previous >> 62n)) + BigInt(i)) & mask);
  }
  let next = 312;
  return () => {
    if (next === 312) {
      for (let i = 0; i < 312; ++i) {
        const x = (state[i] & 0xffffffff80000000n) | (state[(i + 1) % 312] & 0x7fffffffn);
        state[i] = state[(i + 156) % 312] ^ (x >> 1n) ^ (x & 1n ? 0xb5026f5aa96619e9n : 0n);
      }
      next = 0;
    }
    let y = state[next++];
    y ^= (y >> 29n) & 0x5555555555555555n;
    y ^= (y << 17n) & 0x71d67fffeda60000n;
    y ^= (y << 37n) & 0xfff7eee000000000n;
    return (y ^ (y >> 43n)) & mask;
  };
}

function manyPairs() {
  const random = mt19937_64(20261207);
  const part = () => 20 * (Number(random() >> 11n) * 2 ** -53) - 10;
  const pairs = [];
  for (let i = 0; i < 3000; ++i) {
    const [a, b, c, d] = [part(), part(), part(), part()];
    pairs.push([[a, b], [c, d]]);
  }
  const special = [0, -0, 0.7071067811865476, 1e-300, -1e200, Infinity, -Infinity, NaN];
  for (const s of special) {
    for (const t of special) {
      pairs.push([[s, t], [t, s]]);
    }
  }
  return pairs;
}

function reports() {
  const pairs = manyPairs();
  const json = pairs.map(([x0, x1]) => muller.report(x0, x1));
  const text = json.map((j, n) => `# pair ${n + 1}\n${JSON.parse(j).report}`).join('');
  assert.ok(text === run('many_reports', '').toString(), 'the reports differ from many_reports');

  const polynomials = ['', 'c=1;0;0;0;1', 'c=1;0;0;-1', 'r=1;-1;0,1;0,-1;2,2', 'r=0.5;0.5;-0.5,1',
    `c=1${';0'.repeat(19)};-1`, 'c=1,1;0;-2;0.5,-0.25;0;0;1'];
  const requests = pairs.map(([x0, x1]) => `report ${[...x0, ...x1].map(number).join(' ')} -`);
  const answers = [...json];
  for (const p of polynomials) {
    requests.push(`report 0 0 ${number(0.3)} ${number(-1.7)} ${p || '-'}`, `roots ${p || '-'}`);
    answers.push(muller.report([0, 0], [0.3, -1.7], p), muller.roots(p));
  }
  const expected = run('page_answers', requests.join('\n') + '\n').toString().split(/(?<=\n)/);
  assert.equal(expected.length, answers.length);
  answers.forEach((a, k) => assert.ok(a === expected[k], `${requests[k]}: ${a} is not ${expected[k]}`));

  // The method named goes with the report, and only with it: Newton's first point from x1 = 1 + i on
  // z^4 + 1 is x1 - (x1^4 + 1) / (4 x1^3) = (1 + i) - (-3) / (-8 + 8i) = 0.8125 + 0.8125i exactly, and the
  // next report without a method is Muller's again, as the server answers it without m=.
  const newton = JSON.parse(muller.report([0, 0], [1, 1], '', 'newton'));
  assert.deepEqual([newton.method, newton.points[0].x], ['newton', [0.8125, 0.8125]]);
  assert.ok(muller.report(...pairs[0]) === json[0]);
  assert.throws(() => muller.report([0, 0], [1, 1], '', 'newtn'),
                new Refusal("m debe ser secant, muller, newton o halley, no 'newtn'"));

  // Refused as the server refuses it, and the polynomial in place stays.
  assert.throws(() => muller.roots('c=1;0;0;-1.0'),
                new Refusal("c debe escribirse c=1;0;0;-1, no '1;0;0;-1.0'"));
  assert.equal(JSON.parse(muller.roots('')).degree, 4);
}

function tiles() {
  const h = 2 ** 44;  // the centre of level 45
  const table = [
    [0, 0, 0, [0, 0], ''], [1, 1, 0, [0, 0], ''], [3, 3, 4, [0, 0], ''], [7, 63, 64, [0, 0], ''],
    [12, 2047, 2048, [0, 0], ''], [20, 2 ** 19 - 1, 2 ** 19, [0, 0], ''], [30, 2 ** 29, 2 ** 29 - 1, [0, 0], ''],
    [45, h - 1, h, [0, 0], ''], [45, h + 12345, h - 777, [0, 0], ''], [2, 1, 2, [0.5, 0.25], ''],
    [5, 20, 9, [-1e-3, 2], ''], [9, 300, 301, [-0, 1e-9], ''], [3, 2, 5, [0, 0], 'c=1;0;0;0;1'],
    [0, 0, 0, [0, 0], 'c=1;0;0;-1'], [1, 0, 0, [0, 0], 'r=1;-1;0,1;0,-1;2,2'],
    [4, 7, 8, [0.1, 0], 'r=0.5;0.5;-0.5,1'], [0, 0, 0, [0, 0], `c=1${';0'.repeat(19)};-1`],
    [6, 40, 22, [0.25, -0.5], 'c=1,1;0;-2;0.5,-0.25;0;0;1'],
  ];
  const requests = table.map(([l, c, r, x0, p]) => `tile ${l} ${c} ${r} ${x0.map(number).join(' ')} ${p || '-'}`);
  const rgb = run('page_answers', requests.join('\n') + '\n');
  const pixels = 256 * 256;
  assert.equal(rgb.length, table.length * pixels * 3);
  table.forEach(([l, c, r, x0, p], t) => {
    const { width, height, data } = muller.drawTile(l, c, r, x0, p);
    assert.equal(width * height, pixels);
    for (let i = 0; i < pixels; ++i) {
      const expected = rgb.subarray((t * pixels + i) * 3, (t * pixels + i + 1) * 3);
      const got = data.subarray(i * 4, i * 4 + 4);
      if (got[0] !== expected[0] || got[1] !== expected[1] || got[2] !== expected[2] || got[3] !== 255) {
        assert.fail(`${requests[t]}: pixel ${i % 256},${Math.floor(i / 256)} is ${[...got]}, not ${[...expected]},255`);
      }
    }
  });

  assert.throws(() => muller.drawTile(46, 0, 0, [0, 0]), new Refusal(
      'no hay nivel 46: el mas profundo es el 45, donde la doble precision aun separa los pixeles'));
  assert.throws(() => muller.drawTile(2, 4, 0, [0, 0]), new Refusal('el nivel 2 tiene columnas y filas de 0 a 3'));
}

({ reports, tiles })[what]();
console.log(`${kind}: the native ${what}, byte for byte`);
