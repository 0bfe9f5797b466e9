// The page's state (web/store.js): a value set again, equal but a new copy, changes nothing, not even
// the object kept. The page drops an answer when the state no longer holds, by identity, what it asked
// with; a copy of x1 set by Back or Forward (the whole address is set again) would drop the report on its
// way and leave "Calculando…" for good.
//
//     node store_js_test.mjs web/store.js
//
// Imported from a copy beside a package.json that says it is an ES module (a Node before 20.19 would
// take a .js file for CommonJS).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const copy = fs.mkdtempSync(path.join(os.tmpdir(), 'muller-store-'));
fs.copyFileSync(process.argv[2], path.join(copy, 'store.js'));
fs.writeFileSync(path.join(copy, 'package.json'), '{"type": "module"}\n');
const { createStore } = await import(pathToFileURL(path.join(copy, 'store.js')).href);
fs.rmSync(copy, { recursive: true, force: true });

const store = createStore({ x1: [1, 1], method: 'muller', second: null });
const asked = store.get().x1;
const heard = [];
store.on(['x1', 'second'], (state, how, changed) => heard.push(changed));
store.set({ x1: [1, 1], second: 'newton' }, { from: 'address' });
assert.equal(store.get().x1, asked);
assert.deepEqual(heard, [['second']]);
// -0 is not 0, which the search tells apart.
store.set({ x1: [1, -0] });
assert.deepEqual([heard.length, Object.is(store.get().x1[1], -0)], [2, true]);
console.log('store: equal values kept as they were');
