// The page's tiles, reports and roots computed in this browser, with no server: the pool of Web Workers
// of the static site (muller-pool.js beside the page, one WebAssembly instance a worker, one worker a
// core), whose answers are byte for byte muller-explorer's. The backend api.js describes.
import { DrawnLayer, DrawnTiles } from './drawn.js';
import { canonical } from './numbers.js';

// The polynomial as the server's queries name it, in the canonical text: '' for z^4 + 1.
export const polynomialText = (poly) => (poly === null ? '' : poly.form + '=' + canonical(poly.list));

// A tile's query as the pool takes it: Muller's method unnamed, as the server's tiles have no m= for it.
const tileQuery = (x0, poly, method) => ({ x0, polynomial: polynomialText(poly), method: method === 'muller' ? '' : method });

const superseded = () => new DOMException('superada por otra petición', 'AbortError');

// One kind of request, as api.js has them: a call supersedes the one before, whose answer is then
// dropped as an aborted fetch is; the JSON, or the server's one line as the error.
function latest(ask) {
  let newest = 0;
  return (...args) => {
    const mine = ++newest;
    return ask(...args).then((text) => {
      if (mine !== newest) {
        throw superseded();
      }
      return JSON.parse(text);
    }, (e) => {
      throw mine !== newest ? superseded() : e;
    });
  };
}

export async function wasmBackend() {
  const { MullerPool } = await import('./muller-pool.js');
  const pool = new MullerPool();
  const cores = pool.workers.length;
  const drawn = new DrawnTiles();
  return {
    line: pool.info().then(
      (info) => 'Teselas, informes y raíces: calculados en este navegador, en WebAssembly' +
        (info.module === 'simd' ? ' con SIMD' : '') + ' (' + cores + (cores === 1 ? ' hilo).' : ' hilos).'),
      (e) => 'No se pudo cargar el módulo WebAssembly: ' + e.message),
    roots: latest((poly) => pool.roots(polynomialText(poly))),
    reporter: () => latest((x0, x1, poly, method) => pool.report(x0, x1, polynomialText(poly), method)),
    tileQuery,
    // The maps share the tiles drawn: a method shown on one map and then on the other is not drawn twice.
    tileLayer: (x0, poly, method, options) => new DrawnLayer(pool, tileQuery(x0, poly, method), options, drawn),
  };
}
