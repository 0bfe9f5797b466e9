// Where the page's tiles, reports and roots come from, chosen once at start by how the page is deployed
// (deployment.js): muller-explorer's endpoints when it serves the page, else this browser (wasm.js).
// Either way a backend gives the same answers:
//
//   backend.line                      -> what the panel says of it, a promise of the text
//   backend.roots(poly)               -> the JSON of /roots, the classes of the polynomial's roots
//   backend.report(x0, x1, poly)      -> the JSON of /report, the search from x0 and x1
//   backend.tileLayer(x0, poly, options), and layer.setQuery(backend.tileQuery(x0, poly)) on a change
//
// A request made anew aborts the one of its kind still on its way, so that an answer for a point or a
// polynomial no longer shown never arrives.
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

// What a tile depends on besides its place: x0 and the polynomial.
export const tileQuery = (x0, poly) => '&x0=' + queryValue(x0) + polyQuery(poly);

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
  const report = latest();
  return {
    line: Promise.resolve('Teselas, informes y raíces: del servidor (muller-explorer).'),
    roots: (poly) => roots('roots?v=' + version + polyQuery(poly)),
    report: (x0, x1, poly) => report('report?v=' + version + tileQuery(x0, poly) + '&x1=' + queryValue(x1)),
    tileQuery,
    tileLayer: (x0, poly, options) => new BasinsLayer(version, tileQuery(x0, poly), options),
  };
}

export async function chooseBackend(version) {
  if (deployment === 'static') {
    const { wasmBackend } = await import('./wasm.js');
    return wasmBackend();
  }
  return serverBackend(version);
}
