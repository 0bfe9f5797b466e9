// The address's fragment: #z=LEVEL&c=RE,IM&x0=RE,IM&x1=RE,IM&coef=LIST or &roots=LIST&m=METHOD&m2=METHOD
// (x1 only when a point is selected, the polynomial only when it is not z^4 + 1, m only when the method
// is not Muller's, m2 only when a second method is compared). A selection, a new x0, polynomial or
// method is a new entry of the history; a pan or a zoom replaces the current one. Numbers need no
// escape in a fragment: digits, '.', 'e', signs, the comma and the semicolon. Points are RE,IM exactly as
// the server reads them, so that a link keeps its meaning.
import { canonical, echo, number, pair, readPair } from './numbers.js';
import { parseCoefficients, parseRoots } from './polynomial.js';
import { initialView } from './geometry.js';
import { methodNames } from './methods.js';

// z^4 + 1 given by its coefficients is the default, with the default's addresses.
export const normalPoly = (poly) =>
  poly === null || (poly.form === 'c' && canonical(poly.list) === '1;0;0;0;1') ? null : poly;

// The fields of a fragment, each percent-decoded; what cannot be read is named in problems.
function fieldsOf(hash, problems) {
  const fields = {};
  for (const part of hash.replace(/^#/, '').split('&')) {
    if (part === '') {
      continue;
    }
    const eq = part.indexOf('=');
    const key = eq > 0 ? part.slice(0, eq) : part;
    try {
      const value = decodeURIComponent(eq > 0 ? part.slice(eq + 1) : '');
      if (['z', 'c', 'x0', 'x1', 'coef', 'roots', 'm', 'm2'].includes(key)) {
        fields[key] = value;
      } else {
        problems.push('se ignora ' + echo(key));
      }
    } catch (e) {
      problems.push(key + ' tiene un escape % no válido');
    }
  }
  return fields;
}

// A fragment read defensively: what cannot be read is left at its default, and the notice says so.
// Gives the state's part ({x0, x1, poly, method, second, notice}) and the view ({centre, level}, either null when
// the fragment has none).
export function readAddress(hash, deepest) {
  const problems = [];
  const fields = fieldsOf(hash, problems);
  const point = (key, name) => {
    const z = fields[key] === undefined ? { value: null } : readPair(fields[key]);
    if (z.problem) {
      problems.push(name + ' ' + z.problem);
    }
    return z.problem ? null : z.value;
  };
  const x0 = point('x0', 'x0') || [0, 0];
  const x1 = point('x1', 'x1');
  let poly = null;
  if (fields.coef !== undefined && fields.roots !== undefined) {
    problems.push('el polinomio se da por coef o por roots, no por los dos: queda z⁴ + 1');
  } else if (fields.coef !== undefined || fields.roots !== undefined) {
    const coef = fields.coef !== undefined;
    const read = coef ? parseCoefficients(fields.coef) : parseRoots(fields.roots);
    if (read.problem) {
      problems.push('el polinomio ' + read.problem + ': queda z⁴ + 1');
    } else {
      poly = normalPoly({ form: coef ? 'c' : 'r', list: read.value });
    }
  }
  const methodOf = (key, name) => {
    if (fields[key] !== undefined && !methodNames.includes(fields[key])) {
      problems.push(name + ' ' + echo(fields[key]) + ' no es secant, muller, newton ni halley');
    }
    return methodNames.includes(fields[key]) ? fields[key] : null;
  };
  const method = methodOf('m', 'el método') || 'muller';
  let second = methodOf('m2', 'el segundo método');
  if (second === method) {
    problems.push('el segundo método es el primero: no se compara');
    second = null;
  }
  let centre = point('c', 'el centro');
  if (centre && centre.some((v) => Math.abs(v) > 4)) {
    // Far from the square there is nothing to see (the view stays within 4 of 0), and Leaflet's pixel
    // arithmetic would overflow.
    problems.push('el centro ' + pair(centre) + ' queda fuera del cuadrado y se lleva a su borde');
    centre = centre.map((v) => Math.min(2, Math.max(-2, v)));
  }
  let level = null;
  if (fields.z !== undefined) {
    const asked = Number(fields.z);
    if (fields.z.trim() === '' || !Number.isFinite(asked)) {
      problems.push('el nivel ' + echo(fields.z) + ' no es un número');
    } else {
      level = Math.min(deepest, Math.max(0, Math.round(asked)));
      if (level !== asked) {
        problems.push('el nivel ' + echo(fields.z) + ' se lleva a ' + level + ' (de 0 a ' + deepest + ')');
      }
    }
  }
  const notice = problems.length ? 'El enlace no se pudo leer entero: ' + problems.join('; ') + '.' : '';
  return { state: { x0, x1, poly, method, second, notice }, view: { centre: centre && L.latLng(centre[1], centre[0]), level } };
}

export function hashOf(map, state) {
  const c = map.getCenter();
  // The centre's sign of zero means nothing (the pixels' rounding leaves -0 after a resize): + 0 drops it.
  let hash = '#z=' + map.getZoom() + '&c=' + number(c.lng + 0) + ',' + number(c.lat + 0) + '&x0=' + pair(state.x0);
  if (state.x1 !== null) {
    hash += '&x1=' + pair(state.x1);
  }
  if (state.poly !== null) {
    hash += (state.poly.form === 'c' ? '&coef=' : '&roots=') + canonical(state.poly.list);
  }
  if (state.method !== 'muller') {
    hash += '&m=' + state.method;
  }
  if (state.second !== null) {
    hash += '&m2=' + state.second;
  }
  return hash;
}

// The view a fragment names, the first view for what it leaves out.
export function showView(map, view) {
  const first = initialView(map.getSize());
  map.setView(view.centre || first.centre, view.level === null ? first.level : view.level, { animate: false });
}

// The address follows the state and the view, and Back and Forward bring them back.
export function followHistory(map, store, deepest) {
  const write = (newEntry) => {
    const hash = hashOf(map, store.get());
    if (newEntry) {
      history.pushState(null, '', hash);
    } else if (hash !== location.hash) {
      history.replaceState(null, '', hash);
    }
  };
  store.on(['x0', 'x1', 'poly', 'method', 'second'], (state, how) => write(how.from !== 'address'));
  map.on('moveend', () => write(false));
  const apply = () => {
    const { state, view } = readAddress(location.hash, deepest);
    store.set(state, { from: 'address' });
    showView(map, view);
    write(false);
  };
  window.addEventListener('popstate', apply);
  window.addEventListener('hashchange', apply);
  write(false);
}
