// The page's own tiles, reports and roots, with no server: a pool of Web Workers (muller-worker.js),
// each with its own instance of the WebAssembly module, byte for byte what muller-explorer answers.
// No SharedArrayBuffer: a static host needs no special headers. The page's GridLayer can draw its
// tiles from here when no server answers /tile.
//
//   import { MullerPool, Refusal } from './muller-pool.js';
//   const pool = new MullerPool();  // { size: workers (navigator.hardwareConcurrency),
//                                   //   module: 'simd' | 'scalar' (chosen by the browser's SIMD) }
//   const tile = await pool.drawTile(level, column, row, x0, polynomial, method, { signal });
//       // { width: 256, height: 256, data: Uint8ClampedArray }, RGBA as an ImageData holds it:
//       // context.putImageData(new ImageData(tile.data, tile.width, tile.height), 0, 0)
//   const json = await pool.report(x0, x1, polynomial, method);  // the text of /report's answer
//   const roots = await pool.roots(polynomial);          // the text of /roots' answer
//   await pool.info();  // { module: 'simd' | 'scalar', vectorInstructions: 'WASM' | '' }
//   pool.terminate();
//
// x0 and x1 are [re, im]; polynomial is '' for z^4 + 1, or 'c=...' or 'r=...' as in the server's
// queries (canonical text); method is '' for none (Muller's; no "method" and "order" in a report), or
// 'secant', 'muller', 'newton' or 'halley' as m= names them; level, column and row as in
// /tile/{level}/{column}/{row}.png. polynomial and method may be left out. What the
// server refuses with 400 rejects with a Refusal carrying its message. A tile whose signal aborts
// before a worker takes it is never drawn (a tile that left the view); once taken it is drawn, and its
// result dropped. Reports and roots go ahead of the tiles waiting: a click is answered at once.
import { Refusal } from './muller-module.js';

export { Refusal };

export class MullerPool {
  constructor({ size = globalThis.navigator?.hardwareConcurrency || 2, module } = {}) {
    const url = new URL('muller-worker.js', import.meta.url);
    if (module) {
      url.searchParams.set('module', module);
    }
    this.waiting = [];  // jobs no worker has taken yet, the next first
    this.idle = [];
    this.workers = [];
    this.nextId = 0;
    for (let i = 0; i < Math.max(1, size); ++i) {
      const worker = new Worker(url, { type: 'module' });
      worker.onmessage = ({ data }) => this.finished(worker, data);
      worker.onerror = (event) => {
        event.preventDefault();
        this.lost(worker, event.message || 'un trabajador no pudo arrancar');
      };
      this.workers.push(worker);
      this.idle.push(worker);
    }
  }

  drawTile(level, column, row, x0, polynomial = '', method = '', { signal } = {}) {
    return this.submit('drawTile', [level, column, row, x0, polynomial, method], signal, false);
  }

  report(x0, x1, polynomial = '', method = '') {
    return this.submit('report', [x0, x1, polynomial, method], undefined, true);
  }

  roots(polynomial = '') {
    return this.submit('roots', [polynomial], undefined, true);
  }

  info() {
    return this.submit('info', [], undefined, true);
  }

  terminate() {
    for (const worker of this.workers) {
      worker.terminate();
    }
    for (const job of this.waiting.splice(0)) {
      job.reject(new Error('se detuvieron los trabajadores'));
    }
    this.workers = [];
    this.idle = [];
  }

  submit(op, args, signal, first) {
    return new Promise((resolve, reject) => {
      if (signal?.aborted) {
        reject(signal.reason);
        return;
      }
      const job = { id: this.nextId++, op, args, resolve, reject, signal, worker: null };
      if (signal) {
        job.abort = () => {
          const queued = this.waiting.indexOf(job);
          if (queued >= 0) {
            this.waiting.splice(queued, 1);
          }
          job.settled = true;
          reject(signal.reason);
        };
        signal.addEventListener('abort', job.abort, { once: true });
      }
      if (first) {
        this.waiting.unshift(job);
      } else {
        this.waiting.push(job);
      }
      this.dispatch();
    });
  }

  dispatch() {
    while (this.idle.length > 0 && this.waiting.length > 0) {
      const worker = this.idle.pop();
      const job = this.waiting.shift();
      job.worker = worker;
      worker.job = job;
      worker.postMessage({ id: job.id, op: job.op, args: job.args });
    }
  }

  // A worker that failed (its script or module did not load): its job fails, and the others take the
  // rest; with none left, everything waiting fails.
  lost(worker, message) {
    worker.terminate();
    this.workers = this.workers.filter((w) => w !== worker);
    this.idle = this.idle.filter((w) => w !== worker);
    if (worker.job) {
      this.finished(worker, { error: message });
    }
    if (this.workers.length === 0) {
      for (const job of this.waiting.splice(0)) {
        job.reject(new Error(message));
      }
    }
  }

  finished(worker, { result, refusal, error }) {
    const job = worker.job;
    worker.job = null;
    if (this.workers.includes(worker)) {
      this.idle.push(worker);
    }
    if (job) {
      job.signal?.removeEventListener('abort', job.abort);
      if (!job.settled) {
        if (refusal !== undefined) {
          job.reject(new Refusal(refusal));
        } else if (error !== undefined) {
          job.reject(new Error(error));
        } else {
          job.resolve(result);
        }
      }
    }
    this.dispatch();
  }
}
