// Where the page's tiles, reports and roots come from, chosen once at start by how the page is deployed
// (deployment.js): muller-explorer's endpoints when it serves the page, else this browser (wasm.js).
// Either way a backend gives the same answers:
//
//   backend.line                      -> what the panel says of it, a promise of the text
//   backend.roots(poly)               -> the JSON of /roots, the classes of the polynomial's roots
//   const report = backend.reporter()   (one for each report the page shows)
//   report(x0, x1, poly, method)      -> the JSON of /report?m=method, the search from x0 and x1 with
//                                        its method and its order of convergence
//   backend.tileLayer(x0, poly, method, options), and on a change
//   layer.setQuery(backend.tileQuery(x0, poly, method))
//
// method is one of methods.js' names. A request made anew aborts the one of its kind (the same
// reporter's) still on its way, so that an answer for a point or a polynomial no longer shown never
// arrives.
import { canonical, pair } from './numbers.js';
import { deployment } from './deployment.js';
import { BasinsLayer } from './tiles.js';

// A query value as the server reads it back: percent-decoded, with '+' taken for a space, so an
// exponent's '+' must travel escaped.
export const queryValue = (z) => encodeURIComponent(pair(z));

// The polynomial's parameter, '&c=...' or '&r=...' in the canonical text the server asks for ('+'
// escaped, ';' and ',' left readable); nothing for z^4 + 1, whose URLs stay as they were.
export function polyQuery(poly) {
  if (poly === null) {
    return '';
  }
  return '&' + poly.form + '=' + encodeURIComponent(canonical(poly.list)).replace(/%3B/g, ';').replace(/%2C/g, ',');
}

// The start and the polynomial of a tile or a report.
const searchQuery = (x0, poly) => '&x0=' + queryValue(x0) + polyQuery(poly);

// What a tile depends on besides its place: x0, the polynomial and the method, with no m= for Muller's,
// whose tiles keep their addresses.
export const tileQuery = (x0, poly, method) => searchQuery(x0, poly) + (method === 'muller' ? '' : '&m=' + method);

// Whether a failure is only an abort by a newer request.
export const aborted = (e) => e.name === 'AbortError';

// One kind of request: each call aborts the one before, and gives the JSON or rejects with the server's
// one line.
function latest() {
  let controller = null;
  return (url) => {
    if (controller !== null) {
      controller.abort();
    }
    controller = new AbortController();
    return fetch(url, { signal: controller.signal }).then((r) =>
      r.ok ? r.json() : r.text().then((t) => Promise.reject(new Error(t.trim()))));
  };
}

// The server's endpoints, with its PNG tiles, which it caches and shares between visitors.
function serverBackend(version) {
  const roots = latest();
  return {
    line: Promise.resolve('Teselas, informes y raíces: del servidor (muller-explorer).'),
    roots: (poly) => roots('roots?v=' + version + polyQuery(poly)),
    // m= always, Muller's too: the answer then carries the order of convergence.
    reporter() {
      const report = latest();
      return (x0, x1, poly, method) =>
        report('report?v=' + version + searchQuery(x0, poly) + '&x1=' + queryValue(x1) + '&m=' + method);
    },
    tileQuery,
    tileLayer: (x0, poly, method, options) => new BasinsLayer(version, tileQuery(x0, poly, method), options),
  };
}

export async function chooseBackend(version) {
  if (deployment === 'static') {
    const { wasmBackend } = await import('./wasm.js');
    return wasmBackend();
  }
  return serverBackend(version);
}
