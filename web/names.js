// A file's name after the view it holds: the method when it is not Muller's, the polynomial, the level
// and the centre, to the digits the level's pixels need, such as muller-z4+1-nivel2-0.625,0 or
// muller-newton-z3-1-nivel0-0,0. No character in it needs quoting in a shell.
import { rounded } from './numbers.js';
import { expression } from './polynomial.js';

export function viewName(map, poly, method = 'muller') {
  const level = map.getZoom();
  const c = map.getCenter();
  // The expression without spaces, stars or carets when it is short (z^3 - 1 is z3-1), else its degree;
  // a polynomial by its roots by how many.
  const list = poly === null ? [[1, 0], [0, 0], [0, 0], [0, 0], [1, 0]] : poly.list;
  const compact = expression(list).replace(/[ *^]/g, '');
  const tag = poly !== null && poly.form === 'r' ? 'raices' + list.length
    : /^[0-9a-z.+-]{1,24}$/.test(compact) ? compact : 'grado' + (list.length - 1);
  return 'muller-' + (method === 'muller' ? '' : method + '-') + tag + '-nivel' + level + '-' + rounded(c.lng, level) + ',' + rounded(c.lat, level);
}
