// A Web Worker with one instance of the page's module (muller-module.js), started by muller-pool.js as
// a module worker: new Worker(new URL('muller-worker.js', import.meta.url), { type: 'module' }).
// It loads the SIMD module where the browser validates SIMD, else the scalar one; '?module=scalar' or
// '?module=simd' in the worker's URL chooses instead (for tests and measurements).
//
// Messages in:  { id, op: 'drawTile' | 'report' | 'roots' | 'info', args: [...] } (the arguments of
//               muller-module.js' functions of that name, the method's included)
// Messages out: { id, result } with drawTile's data buffer transferred, not copied;
//               { id, refusal } with the server's message for what it would refuse with 400;
//               { id, error } for anything else (the instance is dropped, and the next request loads
//               a new one).
import { load, Refusal, simdSupported } from './muller-module.js';

const asked = new URL(self.location.href).searchParams.get('module');
const kind = asked === 'scalar' || asked === 'simd' ? asked : simdSupported() ? 'simd' : 'scalar';
let instance = null;  // a promise of the module's instance

self.onmessage = async ({ data: { id, op, args } }) => {
  try {
    instance ??= load(new URL(`muller-${kind}.wasm`, import.meta.url));
    const muller = await instance;
    if (op === 'info') {
      self.postMessage({ id, result: { module: kind, vectorInstructions: muller.vectorInstructions } });
    } else if (op === 'drawTile') {
      const result = muller.drawTile(...args);
      self.postMessage({ id, result }, [result.data.buffer]);
    } else if (op === 'report' || op === 'roots') {
      self.postMessage({ id, result: muller[op](...args) });
    } else {
      throw new Error(`no existe la operación ${op}`);
    }
  } catch (e) {
    if (e instanceof Refusal) {
      self.postMessage({ id, refusal: e.message });
    } else {
      instance = null;
      self.postMessage({ id, error: String(e) });
    }
  }
};
