// One instance of the page's WebAssembly module (src/wasm/api.cpp): tiles, reports and roots computed
// here, byte for byte what muller-explorer serves. Runs wherever WebAssembly does: in a Web Worker
// (muller-worker.js, one instance per worker), and in Node for the tests.
//
//   import { load, simdSupported, Refusal } from './muller-module.js';
//   const muller = await load(new URL(simdSupported() ? 'muller-simd.wasm' : 'muller-scalar.wasm',
//                                     import.meta.url));  // or the module's bytes
//   muller.drawTile(level, column, row, x0, polynomial, method)
//       -> { width: 256, height: 256, data: Uint8ClampedArray }  (RGBA, opaque: an ImageData's fields)
//   muller.report(x0, x1, polynomial, method) -> the JSON text of /report?x0=...&x1=...&m=...
//   muller.roots(polynomial)          -> the JSON text of /roots
//   muller.vectorInstructions         -> 'WASM' when the map is drawn on SIMD, '' on the scalar search
//
// x0 and x1 are [re, im], two numbers. polynomial names the polynomial as the server's queries do:
// '' for z^4 + 1, 'c=' and its coefficients or 'r=' and its roots in the canonical text (the page's
// polynomial.js writes it). method names the method as m= does: '' for none (Muller's, and a report
// as the server answers one without m=, with no "method" and "order"), or 'secant', 'muller', 'newton'
// or 'halley'; both may be left out. level, column and row are those of /tile/{level}/{column}/{row}.png. What
// the server would refuse with 400 throws a Refusal whose message is the server's (in Spanish); any
// other error (a trap: memory ran out) leaves the instance unusable, and a new one must be loaded.

// The smallest module with a SIMD instruction (i8x16.splat of a constant): valid where the browser
// has WebAssembly's SIMD.
const simdProbe = new Uint8Array([
  0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00,  // "\0asm", version 1
  0x01, 0x05, 0x01, 0x60, 0x00, 0x01, 0x7b,        // one type: () -> v128
  0x03, 0x02, 0x01, 0x00,                          // one function of that type
  0x0a, 0x08, 0x01, 0x06, 0x00, 0x41, 0x00, 0xfd, 0x0f, 0x0b,  // i32.const 0, i8x16.splat, end
]);

export function simdSupported() {
  return WebAssembly.validate(simdProbe);
}

export class Refusal extends Error {
  constructor(message) {
    super(message);
    this.name = 'Refusal';
  }
}

const tileSize = 256;
// The methods in the order muller_method numbers them.
const methods = ['secant', 'muller', 'newton', 'halley'];

// What the module asks of WASI: an empty environment, and standard output and error for libc++'s
// streams, which it never writes to (the reports go into strings); were it to, the text goes to the
// console. Nothing else: it opens no file and reads no clock.
function wasiImports(memory) {
  const decoder = new TextDecoder();
  const badf = 8;
  return {
    environ_sizes_get(count, size) {
      const view = new DataView(memory().buffer);
      view.setUint32(count, 0, true);
      view.setUint32(size, 0, true);
      return 0;
    },
    environ_get() {
      return 0;
    },
    fd_write(fd, iovs, iovsLength, written) {
      if (fd !== 1 && fd !== 2) {
        return badf;
      }
      const view = new DataView(memory().buffer);
      let total = 0;
      let text = '';
      for (let i = 0; i < iovsLength; ++i) {
        const base = view.getUint32(iovs + 8 * i, true);
        const length = view.getUint32(iovs + 8 * i + 4, true);
        text += decoder.decode(new Uint8Array(memory().buffer, base, length));
        total += length;
      }
      (fd === 1 ? console.log : console.error)(text);
      view.setUint32(written, total, true);
      return 0;
    },
    fd_seek() {
      return badf;
    },
    fd_close() {
      return 0;
    },
    proc_exit(code) {
      throw new Error(`el módulo terminó (${code})`);
    },
  };
}

class Muller {
  constructor(instance) {
    this.exports = instance.exports;
    this.encoder = new TextEncoder();
    this.decoder = new TextDecoder();
    this.polynomial = null;  // the one in place in the instance
    this.exports._initialize();
    const name = this.exports.muller_vector_instructions();
    this.vectorInstructions = this.decoder.decode(this.bytes(name, this.bytesUntilZero(name)));
  }

  bytes(pointer, length) {
    return new Uint8Array(this.exports.memory.buffer, pointer, length);
  }

  bytesUntilZero(pointer) {
    const memory = new Uint8Array(this.exports.memory.buffer);
    let end = pointer;
    while (memory[end] !== 0) {
      ++end;
    }
    return end - pointer;
  }

  result() {
    const e = this.exports;
    return this.decoder.decode(this.bytes(e.muller_result(), e.muller_result_length()));
  }

  // Calls what answers, and throws the refusal it gave.
  check(status) {
    if (status !== 0) {
      throw new Refusal(this.result());
    }
  }

  usePolynomial(polynomial) {
    if (polynomial === this.polynomial) {
      return;
    }
    const text = this.encoder.encode(polynomial);
    this.bytes(this.exports.muller_text(text.length), text.length).set(text);
    this.check(this.exports.muller_polynomial());
    this.polynomial = polynomial;
  }

  useMethod(method) {
    const m = method === '' ? -1 : methods.indexOf(method);
    if (m === -1 && method !== '') {
      throw new Refusal(`m debe ser secant, muller, newton o halley, no '${method}'`);
    }
    this.check(this.exports.muller_method(m));
  }

  drawTile(level, column, row, x0, polynomial = '', method = '') {
    this.usePolynomial(polynomial);
    this.useMethod(method);
    this.check(this.exports.muller_tile(level, column, row, x0[0], x0[1]));
    const size = tileSize * tileSize * 4;
    const data = new Uint8ClampedArray(size);
    data.set(this.bytes(this.exports.muller_pixels(), size));
    return { width: tileSize, height: tileSize, data };
  }

  report(x0, x1, polynomial = '', method = '') {
    this.usePolynomial(polynomial);
    this.useMethod(method);
    this.check(this.exports.muller_report(x0[0], x0[1], x1[0], x1[1]));
    return this.result();
  }

  roots(polynomial = '') {
    this.usePolynomial(polynomial);
    this.check(this.exports.muller_roots());
    return this.result();
  }
}

// source: the module's URL (fetched, and compiled as it arrives), or its bytes.
export async function load(source) {
  let memory = null;
  const imports = { wasi_snapshot_preview1: wasiImports(() => memory) };
  const { instance } =
      source instanceof URL || typeof source === 'string'
        ? await WebAssembly.instantiateStreaming(fetch(source), imports)
        : await WebAssembly.instantiate(source, imports);
  memory = instance.exports.memory;
  return new Muller(instance);
}
