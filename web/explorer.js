// The explorer's page: the map of where Muller's method on z^4 + 1, or on the polynomial the user gives,
// leads from every second start point x1, zoomable to the limit of double precision; a click shows that
// point's search, drawn over the map, and its report as the terminal shows it. The polynomial's roots are
// numbered markers that can be dragged. The view, the polynomial, x0 and the selected point live in the
// URL's hash and in the browser's history.
'use strict';

(function () {
  const version = document.body.dataset.version;
  const deepestLevel = Number(document.body.dataset.deepestLevel);
  const mapElement = document.getElementById('map');
  const byId = (id) => document.getElementById(id);
  const pointerText = byId('pointer');
  const x0Form = byId('x0-form');
  const x0Input = byId('x0');
  const x0Problem = byId('x0-problem');
  const reportText = byId('report');
  const notice = byId('notice');
  const searchLine = byId('search-line');
  const endLine = byId('end-line');
  const copyButton = byId('copy');
  const loading = byId('loading');
  const polyForm = byId('poly-form');
  const polyKind = byId('poly-kind');
  const polyInput = byId('poly');
  const polyProblem = byId('poly-problem');
  const P = window.MullerPolynomial;
  const prompt = 'Haga clic en el mapa para ver la búsqueda desde ese x1 y su informe.';

  // Latitude is Im x1 and longitude Re x1. At level 0 the square |Re x1| <= 2, |Im x1| <= 2 is the one tile,
  // 256 pixels over 4 units with Im growing upwards, as the server draws it.
  const crs = L.extend({}, L.CRS.Simple, { transformation: new L.Transformation(64, 128, -64, 128) });

  // poly: null for z^4 + 1, else { form: 'c' or 'r', list: [[re, im], ...] } (coefficients or roots);
  // roots: the server's classes of its roots, for the legend and the markers.
  const state = { x0: [0, 0], x1: null, report: null, poly: null, roots: null };

  // Numbers are written in the shortest form that reads back as the same double; -0 keeps its sign,
  // which the search (and its report) tells from 0.
  function number(v) {
    return Object.is(v, -0) ? '-0' : String(v);
  }
  function pair(z) {
    return number(z[0]) + ',' + number(z[1]);
  }
  // A query value as the server reads it back: percent-decoded, with '+' taken for a space, so an
  // exponent's '+' must travel escaped.
  function query(z) {
    return encodeURIComponent(pair(z));
  }
  // The polynomial's parameter, '&c=...' or '&r=...' in the canonical text the server asks for ('+'
  // escaped, ';' and ',' left readable); nothing for z^4 + 1, whose URLs stay as they were.
  function polyText(poly) {
    return poly.form + '=' + P.canonical(poly.list);
  }
  function polyQuery() {
    if (state.poly === null) {
      return '';
    }
    return '&' + state.poly.form + '=' + encodeURIComponent(P.canonical(state.poly.list)).replace(/%3B/g, ';').replace(/%2C/g, ',');
  }
  // z^4 + 1 given by its coefficients is the default, with the default's URLs.
  const defaultText = 'c=1;0;0;0;1';
  const normal = (poly) => (poly === null || polyText(poly) === defaultText ? null : poly);
  const samePoly = (a, b) => (a === null ? b === null : b !== null && polyText(a) === polyText(b));

  // The rule the server applies: decimal numbers only, no spaces, no hexadecimal, no inf or nan, and
  // nothing too large or too small for a double. Returns the pair, or why the text is not one, worded to
  // follow the point's name ("x0 ...").
  const echo = (text) => '«' + (text.length > 40 ? text.slice(0, 40) + '…' : text) + '»';
  const decimal = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;
  function readPart(text, name) {
    const wrong = 'tiene mal la parte ' + name + ': ';
    if (!decimal.test(text)) {
      return { problem: wrong + echo(text) + ' no es un número decimal (valen 2, -0.5, 1e-3)' };
    }
    const v = Number(text);
    if (!Number.isFinite(v)) {
      return { problem: wrong + echo(text) + ' es demasiado grande para representarlo' };
    }
    const mantissa = text.replace(/[eE].*$/, '');
    if (v === 0 && /[1-9]/.test(mantissa)) {
      return { problem: wrong + echo(text) + ' es demasiado pequeño para representarlo' };
    }
    return { value: v };
  }
  function readPair(text) {
    text = String(text);
    if (/\s/.test(text)) {
      return { problem: 'no admite espacios: escriba RE,IM, por ejemplo 0.5,0.25' };
    }
    if (/[ij]$/i.test(text) || /\d[+-][\d.]/.test(text.replace(/[eE][+-]/g, 'e'))) {
      return { problem: 'se escribe RE,IM (0.5,0.25), no en forma compleja como ' + echo(text) };
    }
    const parts = text.split(',');
    if (parts.length !== 2) {
      return { problem: 'son dos números separados por una coma, RE,IM (por ejemplo 0.5,0.25)' };
    }
    const re = readPart(parts[0], 'real');
    const im = readPart(parts[1], 'imaginaria');
    if (re.problem || im.problem) {
      return { problem: re.problem || im.problem };
    }
    return { value: [re.value, im.value] };
  }

  // The pixel size at a level, and the centre of the pixel under a point, computed as the server
  // computes its pixel centres, so that a click asks for exactly the search that coloured the pixel.
  function pixelSize(level) {
    return Math.pow(2, -(6 + level));
  }
  function pixelCentre(latlng, level) {
    const pixel = pixelSize(level);
    const column = Math.floor((latlng.lng + 2) / pixel);
    const row = Math.floor((2 - latlng.lat) / pixel);
    return [-2 + column * pixel + pixel / 2, 2 - row * pixel - pixel / 2];
  }

  const map = L.map(mapElement, {
    crs: crs,
    minZoom: 0,
    maxZoom: deepestLevel,
    zoomSnap: 1,
    attributionControl: false,
    zoomControl: false,
    doubleClickZoom: true,
    maxBounds: [[-4, -4], [4, 4]], // the square and a margin: the map cannot be lost by dragging
  });
  L.control.zoom({ zoomInTitle: 'Acercar', zoomOutTitle: 'Alejar' }).addTo(map);

  // Tiles outside the square are not asked for (the server would refuse them): they are a transparent
  // pixel. Not Leaflet's own empty image, which it takes for a tile still loading.
  const outside = 'data:image/gif;base64,R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7';
  const BasinsLayer = L.TileLayer.extend({
    getTileUrl: function (coords) {
      const side = Math.pow(2, coords.z);
      if (coords.x < 0 || coords.y < 0 || coords.x >= side || coords.y >= side) {
        return outside;
      }
      return 'tile/' + coords.z + '/' + coords.x + '/' + coords.y + '.png?v=' + version + '&x0=' + query(state.x0) +
        polyQuery();
    },
  });
  const tiles = new BasinsLayer('', {
    tileSize: 256,
    minZoom: 0,
    maxZoom: deepestLevel,
    maxNativeZoom: deepestLevel,
    keepBuffer: 1,
  }).addTo(map);

  // How the tiles are doing, on the map's element, where a test (or a curious user) can read it, and
  // as a line over the map while any are on their way. A tile that Leaflet drops while it loads (on a
  // zoom, or a redraw for another x0) leaves the document without an event, so the count is of the
  // tiles still in it (or in the fragment that Leaflet builds before it adds them).
  const pending = new Set();
  const counts = { loaded: 0, failed: 0 };
  function recount() {
    for (const tile of pending) {
      if (tile.parentNode === null) {
        pending.delete(tile);
      }
    }
    mapElement.dataset.tilesLoading = String(pending.size);
    mapElement.dataset.tilesLoaded = String(counts.loaded);
    mapElement.dataset.tilesFailed = String(counts.failed);
    loading.hidden = pending.size === 0;
  }
  const settle = (key) => (e) => {
    if (pending.delete(e.tile) && key) {
      counts[key] += 1;
    }
    recount();
  };
  tiles.on('tileloadstart', (e) => {
    pending.add(e.tile);
    recount();
  });
  tiles.on('tileload', settle('loaded'));
  tiles.on('tileerror', settle('failed'));
  tiles.on('tileunload tileabort', settle(null));
  map.on('zoomend moveend', recount);

  // The level, its pixel size and a scale of a round length.
  const Scale = L.Control.extend({
    options: { position: 'bottomleft' },
    onAdd: function () {
      this._div = L.DomUtil.create('div', 'scale');
      return this._div;
    },
    update: function (pixel) {
      // The longest of 1, 2 or 5 times a power of ten that fits in 120 pixels.
      const power = Math.pow(10, Math.floor(Math.log10(120 * pixel)));
      const length = [5, 2, 1].map((m) => m * power).find((l) => l / pixel <= 120);
      this._div.innerHTML = '';
      const bar = L.DomUtil.create('div', '', this._div);
      bar.style.width = Math.round(length / pixel) + 'px';
      this._div.appendChild(document.createTextNode(number(length)));
    },
  });
  const scale = new Scale().addTo(map);
  function showLevel() {
    const level = map.getZoom();
    byId('level').textContent = String(level);
    byId('pixel').textContent = '2^-' + (6 + level) + ' = ' + number(pixelSize(level));
    scale.update(pixelSize(level));
  }
  map.on('zoomend', showLevel);

  // The pointer's x1, with as many decimals as the level's pixels need.
  function decimals() {
    return Math.min(17, Math.ceil((6 + map.getZoom()) * Math.LOG10E * Math.LN2) + 1);
  }
  map.on('mousemove', (e) => {
    const d = decimals();
    pointerText.textContent = '(' + e.latlng.lng.toFixed(d) + ', ' + e.latlng.lat.toFixed(d) + ')';
  });
  map.on('mouseout', () => {
    pointerText.textContent = '-';
  });

  // The search's path: the start points marked, each point numbered, the zero reached ringed. A point
  // outside the view is marked at the map's edge in its direction, with its number.
  const path = L.layerGroup().addTo(map);
  const far = 1e6; // beyond this a line's end is off any view and Leaflet's projection loses it
  const finite = (z) => z !== null && z[0] !== null && z[1] !== null;
  const latlng = (z) => L.latLng(z[1], z[0]);
  function edgePoint(z) {
    // Where the ray from the view's centre towards z (a finite point; the centre is within 4 of 0, so
    // the differences do not overflow) meets the map's edge, moved in to leave room for its label.
    const c = map.getCenter();
    const dx = z[0] - c.lng;
    const dy = c.lat - z[1];
    const size = map.getSize();
    const hx = size.x / 2 - 28;
    const hy = size.y / 2 - 16;
    const t = Math.min(dx !== 0 ? hx / Math.abs(dx) : Infinity, dy !== 0 ? hy / Math.abs(dy) : Infinity);
    return L.point(size.x / 2 + dx * t, size.y / 2 + dy * t);
  }
  function drawPath() {
    path.clearLayers();
    const data = state.report;
    if (!data) {
      return;
    }
    const bounds = map.getBounds();
    const near = (z) => finite(z) && Math.abs(z[0]) < far && Math.abs(z[1]) < far;
    const visible = (z) => near(z) && bounds.contains(latlng(z));
    const labelled = [];
    const edges = new Map(); // labels at the edge, by position, so that points in one direction share one
    const label = (marker, text, z) => {
      // A label that would cover one already placed is left out: points that fall on one another at
      // this level show the first one's.
      const at = map.latLngToContainerPoint(latlng(z));
      if (labelled.every((other) => Math.abs(at.x - other.x) > 24 || Math.abs(at.y - other.y) > 14)) {
        marker.bindTooltip(text, { permanent: true, direction: 'right', offset: [5, 0], className: 'point-label' });
        labelled.push(at);
      }
    };
    const place = (z, text) => {
      if (visible(z)) {
        return false;
      }
      if (finite(z)) {
        const at = edgePoint(z);
        const key = Math.round(at.x / 20) + ',' + Math.round(at.y / 20);
        const entry = edges.get(key) || { at: at, texts: [] };
        entry.texts.push(text);
        edges.set(key, entry);
      }
      return true;
    };
    const points = [['x0', data.x0], ['x1', data.x1]].concat(data.points.map((p) => [String(p.k), p.x]));
    // The line from x1 through every point, broken where a point lies beyond any view.
    let segment = [];
    const segments = [segment];
    points.slice(1).forEach(([, z]) => {
      if (near(z)) {
        segment.push(latlng(z));
      } else {
        segment = [];
        segments.push(segment);
      }
    });
    for (const s of segments) {
      // Unsimplified: every step of the search is on the line, however short.
      L.polyline(s, { color: '#fff', weight: 2, opacity: 0.9, smoothFactor: 0 }).addTo(path);
    }
    points.forEach(([name, z], k) => {
      if (place(z, name)) {
        return;
      }
      const start = k < 2;
      const marker = L.circleMarker(latlng(z), start
        ? { radius: 6, color: '#fff', weight: 2, fillColor: '#000', fillOpacity: 1 }
        : { radius: 3, color: '#fff', weight: 1, fillColor: '#fff', fillOpacity: 1 });
      label(marker, name, z);
      marker.addTo(path);
    });
    for (const { at, texts } of edges.values()) {
      const c = map.getSize();
      const arrow = Math.atan2(at.y - c.y / 2, at.x - c.x / 2);
      const arrows = ['→', '↘', '↓', '↙', '←', '↖', '↑', '↗'];
      const glyph = arrows[(Math.round(arrow / (Math.PI / 4)) + 8) % 8];
      L.marker(map.containerPointToLatLng(at), {
        icon: L.divIcon({ className: 'edge-label', html: glyph + ' ' + texts.join(', '), iconSize: null }),
        keyboard: false,
        interactive: false,
      }).addTo(path);
    }
    const last = data.points[data.points.length - 1];
    if (data.status === 0 && last && visible(last.x)) {
      L.circleMarker(latlng(last.x), { radius: 11, color: '#ff0', weight: 3, fill: false })
        .bindTooltip('raíz', { permanent: true, direction: 'left', offset: [-10, 0], className: 'point-label' })
        .addTo(path);
    }
  }
  map.on('moveend', drawPath);

  // The path's points inside the square (and x0 there), in view: panned to, zoomed out if need be.
  function showPath() {
    const data = state.report;
    const inside = [data.x0, data.x1].concat(data.points.map((p) => p.x))
      .filter((z) => finite(z) && Math.abs(z[0]) <= 2 && Math.abs(z[1]) <= 2)
      .map(latlng);
    if (inside.length === 0) {
      return;
    }
    const wanted = L.latLngBounds(inside);
    const view = map.getBounds().pad(-0.05);
    if (!view.contains(wanted)) {
      const level = Math.min(map.getZoom(), map.getBoundsZoom(wanted, false, L.point(60, 40)));
      map.setView(wanted.getCenter(), level, { animate: false });
    }
  }

  // What was searched, and a plain line when the search found no zero.
  function describe(data) {
    searchLine.textContent = data ? 'Búsqueda desde x0 = ' + pair(data.x0) + ' y x1 = ' + pair(data.x1) : '';
    endLine.textContent = '';
    copyButton.disabled = !data;
    if (!data || data.status === 0) {
      return;
    }
    const nonFinite = data.points.some((p) => !finite(p.x) || !finite(p.f));
    endLine.textContent = nonFinite
      ? 'Sin raíz: la búsqueda llegó a un valor no finito (una división por cero o un desbordamiento).'
      : 'Sin raíz: ' + data.points.length + ' filas sin converger.';
  }

  // The report in one size of type that fits its widest line: never wrapped, so it stays character for
  // character what the terminal shows.
  function fitReport() {
    reportText.style.fontSize = '12px';
    const room = reportText.clientWidth - 12;
    const needed = reportText.scrollWidth - 12;
    if (needed > room && room > 0) {
      // Below 8 pixels the digits blur; a narrower screen scrolls the report sideways instead.
      reportText.style.fontSize = Math.max(8, Math.floor(((12 * room) / needed) * 10) / 10) + 'px';
    }
  }
  window.addEventListener('resize', fitReport);

  let reportRequest = 0;
  function loadReport(reveal) {
    const x1 = state.x1;
    if (x1 === null) {
      state.report = null;
      reportText.textContent = prompt;
      describe(null);
      fitReport();
      drawPath();
      return;
    }
    const request = ++reportRequest;
    reportText.textContent = 'Calculando…';
    fetch('report?v=' + version + '&x0=' + query(state.x0) + '&x1=' + query(x1) + polyQuery())
      .then((r) => (r.ok ? r.json() : r.text().then((t) => Promise.reject(new Error(t.trim())))))
      .then((data) => {
        if (request !== reportRequest) {
          return; // an answer to a point no longer selected
        }
        state.report = data;
        reportText.textContent = data.report;
        describe(data);
        fitReport();
        if (reveal) {
          showPath();
        }
        drawPath();
      })
      .catch((e) => {
        if (request === reportRequest) {
          state.report = null;
          reportText.textContent = 'No se pudo obtener el informe: ' + e.message;
          describe(null);
          fitReport();
          drawPath();
        }
      });
  }

  // The hash: #z=LEVEL&c=RE,IM&x0=RE,IM&x1=RE,IM&coef=LIST or &roots=LIST (x1 only when a point is
  // selected, the polynomial only when it is not z^4 + 1). A click, a new x0 or a new polynomial is a new
  // entry of the history; a pan or a zoom replaces the current one. Numbers need no escape in a
  // fragment: digits, '.', 'e', signs, the comma and the semicolon.
  function hashOf() {
    const c = map.getCenter();
    let hash = '#z=' + map.getZoom() + '&c=' + number(c.lng) + ',' + number(c.lat) + '&x0=' + pair(state.x0);
    if (state.x1 !== null) {
      hash += '&x1=' + pair(state.x1);
    }
    if (state.poly !== null) {
      hash += (state.poly.form === 'c' ? '&coef=' : '&roots=') + P.canonical(state.poly.list);
    }
    return hash;
  }
  function writeHash(newEntry) {
    const hash = hashOf();
    if (newEntry) {
      history.pushState(null, '', hash);
    } else if (hash !== location.hash) {
      history.replaceState(null, '', hash);
    }
  }

  // Any fragment is read defensively: what cannot be read is left at its default, and one line says so.
  function readHash() {
    const fields = {};
    const problems = [];
    for (const part of location.hash.replace(/^#/, '').split('&')) {
      if (part === '') {
        continue;
      }
      const eq = part.indexOf('=');
      const key = eq > 0 ? part.slice(0, eq) : part;
      let value = eq > 0 ? part.slice(eq + 1) : '';
      try {
        value = decodeURIComponent(value);
      } catch (e) {
        problems.push(key + ' tiene un escape % no válido');
        continue;
      }
      if (['z', 'c', 'x0', 'x1', 'coef', 'roots'].includes(key)) {
        fields[key] = value;
      } else {
        problems.push('se ignora ' + echo(key));
      }
    }
    return { fields, problems };
  }
  function initialView() {
    // The whole square, or its middle when only a 256-pixel square would fit.
    const size = map.getSize();
    return { centre: L.latLng(0, 0), level: Math.max(0, Math.round(Math.log2(Math.min(size.x, size.y) / 256))) };
  }
  let started = false;
  function applyHash() {
    const { fields, problems } = readHash();
    const point = (key, name) => {
      if (fields[key] === undefined) {
        return null;
      }
      const z = readPair(fields[key]);
      if (z.problem) {
        problems.push(name + ' ' + z.problem);
        return null;
      }
      return z.value;
    };
    const x0 = point('x0', 'x0') || [0, 0];
    let poly = null;
    if (fields.coef !== undefined && fields.roots !== undefined) {
      problems.push('el polinomio se da por coef o por roots, no por los dos: queda z⁴ + 1');
    } else if (fields.coef !== undefined || fields.roots !== undefined) {
      const coef = fields.coef !== undefined;
      const read = coef ? P.parseCoefficients(fields.coef) : P.parseRoots(fields.roots);
      if (read.problem) {
        problems.push('el polinomio ' + read.problem + ': queda z⁴ + 1');
      } else {
        poly = normal({ form: coef ? 'c' : 'r', list: read.value });
      }
    }
    const x1 = point('x1', 'x1');
    let centre = point('c', 'el centro');
    if (centre && centre.some((v) => Math.abs(v) > 4)) {
      // Far from the square there is nothing to see (the view stays within 4 of 0), and Leaflet's pixel
      // arithmetic would overflow.
      problems.push('el centro ' + pair(centre) + ' queda fuera del cuadrado y se lleva a su borde');
      centre = centre.map((v) => Math.min(2, Math.max(-2, v)));
    }
    let level = NaN;
    if (fields.z !== undefined) {
      level = Number(fields.z);
      if (fields.z.trim() === '' || !Number.isFinite(level)) {
        problems.push('el nivel ' + echo(fields.z) + ' no es un número');
        level = NaN;
      } else {
        const clamped = Math.min(deepestLevel, Math.max(0, Math.round(level)));
        if (clamped !== level) {
          problems.push('el nivel ' + echo(fields.z) + ' se lleva a ' + clamped + ' (de 0 a ' + deepestLevel + ')');
        }
        level = clamped;
      }
    }
    const polyChanged = !samePoly(poly, state.poly);
    state.poly = poly;
    const x0Changed = pair(x0) !== pair(state.x0) || polyChanged;
    const x1Changed = (x1 === null) !== (state.x1 === null) || (x1 !== null && pair(x1) !== pair(state.x1));
    state.x0 = x0;
    state.x1 = x1;
    if (x0Changed || x1Changed) {
      state.report = null;
    }
    x0Input.value = pair(x0);
    showPolyField();
    if (polyChanged || !started) {
      loadRoots();
    }
    x0Input.setAttribute('aria-invalid', 'false');
    x0Problem.textContent = '';
    notice.textContent = problems.length ? 'El enlace no se pudo leer entero: ' + problems.join('; ') + '.' : '';

    const view = initialView();
    map.setView(centre ? L.latLng(centre[1], centre[0]) : view.centre, Number.isNaN(level) ? view.level : level,
      { animate: false });
    pointerText.textContent = '-';
    if (x0Changed && started) {
      tiles.redraw(); // the first view asks for its tiles with this x0 already
    }
    started = true;
    if (x1Changed || x0Changed) {
      loadReport(centre === null); // a link that names no view shows the whole path
    } else {
      drawPath();
    }
    writeHash(false);
  }

  // The polynomial's field as the state has it: an expression for coefficients, the list for roots.
  function showPolyField() {
    const poly = state.poly;
    polyKind.value = poly !== null && poly.form === 'r' ? 'roots' : 'poly';
    polyInput.value = poly === null ? 'z^4 + 1' : poly.form === 'c' ? P.expression(poly.list) : P.canonical(poly.list);
    polyInput.setAttribute('aria-invalid', 'false');
    polyProblem.textContent = '';
    // The heading and the title name the polynomial searched.
    const name = poly === null ? 'z⁴ + 1' : poly.form === 'c' ? P.expression(poly.list) : 'el polinomio de raíces dadas';
    document.querySelector('#panel-head h1').textContent = 'Método de Muller sobre ' + name;
    document.title = 'Método de Muller sobre ' + name + ': cuencas de las raíces';
  }

  // A new polynomial: its tiles, its roots and, for the selected point, its report.
  function usePoly(poly) {
    state.poly = normal(poly);
    state.report = null;
    showPolyField();
    tiles.redraw();
    writeHash(true);
    loadRoots();
    loadReport(false);
    showPoster();
  }

  // The roots as markers, numbered as the server numbers them, on their class's colour; dragging one
  // gives the polynomial by its roots, that one moved to the centre of the pixel where it is dropped.
  const rootLayer = L.layerGroup().addTo(map);
  function drawRoots() {
    rootLayer.clearLayers();
    const data = state.roots;
    if (!data) {
      return;
    }
    const all = [];
    for (const c of data.classes) {
      for (const r of c.roots) {
        all[r.n - 1] = r.z;
      }
    }
    for (const c of data.classes) {
      for (const r of c.roots) {
        if (!finite(r.z) || Math.abs(r.z[0]) > far || Math.abs(r.z[1]) > far) {
          continue;
        }
        const marker = L.marker(latlng(r.z), {
          draggable: true,
          title: 'raíz ' + r.n + ': ' + pair(r.z) + ' (arrastrar para moverla)',
          icon: L.divIcon({
            className: 'root-marker',
            html: String(r.n),
            iconSize: [20, 20],
            iconAnchor: [10, 10],
          }),
        });
        marker.on('add', () => (marker.getElement().style.background = c.colour));
        marker.on('dragend', () => {
          if (!all.every(finite)) {
            notice.textContent = 'Hay raíces no finitas: el polinomio no se puede dar por sus raíces.';
            drawRoots();
            return;
          }
          const moved = pixelCentre(marker.getLatLng(), map.getZoom());
          usePoly({ form: 'r', list: all.map((z, k) => (k === r.n - 1 ? moved : z)) });
        });
        marker.addTo(rootLayer);
      }
    }
  }

  // The legend: each class's colour with its roots, numbered as the markers are, to 10 digits as the
  // report writes them.
  function drawLegend() {
    const legend = byId('legend');
    const none = byId('legend-none');
    const data = state.roots;
    if (!data) {
      return;
    }
    for (const item of Array.from(legend.children)) {
      if (item !== none) {
        item.remove();
      }
    }
    const ten = (v) => String(Number(v.toPrecision(10)));
    for (const c of data.classes) {
      const item = document.createElement('li');
      item.className = 'legend-class';
      const swatch = document.createElement('span');
      swatch.className = 'swatch';
      swatch.style.background = c.colour;
      const text = document.createElement('span');
      text.className = 'legend-roots';
      text.textContent = (c.roots.length > 1 ? 'raíces ' : 'raíz ') +
        c.roots.map((r) => r.n + ' (' + (finite(r.z) ? ten(r.z[0]) + ',' + ten(r.z[1]) : '?') + ')').join(', ');
      item.append(swatch, text);
      legend.insertBefore(item, none);
    }
  }

  let rootsRequest = 0;
  function loadRoots() {
    const request = ++rootsRequest;
    fetch('roots?v=' + version + polyQuery())
      .then((r) => (r.ok ? r.json() : r.text().then((t) => Promise.reject(new Error(t.trim())))))
      .then((data) => {
        if (request === rootsRequest) {
          state.roots = data;
          drawLegend();
          drawRoots();
        }
      })
      .catch((e) => {
        if (request === rootsRequest) {
          state.roots = null;
          rootLayer.clearLayers();
          notice.textContent = 'No se pudieron obtener las raíces: ' + e.message;
        }
      });
  }

  polyForm.addEventListener('submit', (e) => {
    e.preventDefault();
    const text = polyInput.value; // as typed: the reader takes spaces where the programs do, and nothing else
    const roots = polyKind.value === 'roots';
    const read = roots ? P.parseRoots(text) : P.parsePolynomial(text);
    polyInput.setAttribute('aria-invalid', read.problem ? 'true' : 'false');
    if (read.problem) {
      polyProblem.textContent = (roots ? 'la lista de raíces ' : 'el polinomio ') + read.problem;
      return;
    }
    usePoly({ form: roots ? 'r' : 'c', list: read.value });
  });

  function select(x1) {
    state.x1 = x1;
    notice.textContent = '';
    writeHash(true);
    loadReport(true);
  }
  // A click selects after a moment in which no second click came: a double click only zooms.
  let pendingClick = null;
  map.on('click', (e) => {
    clearTimeout(pendingClick);
    const x1 = pixelCentre(e.latlng, map.getZoom());
    pendingClick = setTimeout(() => select(x1), 300);
  });
  map.on('dblclick', () => clearTimeout(pendingClick));
  // The map's focus ring and crosshair show while the keyboard is in use, not after a click: Leaflet
  // focuses the map on every press of the mouse.
  document.addEventListener('keydown', () => document.body.classList.add('keys'), true);
  document.addEventListener('pointerdown', () => document.body.classList.remove('keys'), true);
  // With the map focused, Enter or Space selects the pixel under the crosshair at its centre.
  mapElement.addEventListener('keydown', (e) => {
    if (e.target === mapElement && (e.key === 'Enter' || e.key === ' ')) {
      e.preventDefault();
      select(pixelCentre(map.getCenter(), map.getZoom()));
    }
  });
  map.on('moveend', () => writeHash(false));
  map.on('moveend', showPoster);
  window.addEventListener('popstate', applyHash);
  window.addEventListener('hashchange', applyHash);

  x0Form.addEventListener('submit', (e) => {
    e.preventDefault();
    const x0 = readPair(x0Input.value.trim());
    x0Input.setAttribute('aria-invalid', x0.problem ? 'true' : 'false');
    if (x0.problem) {
      x0Problem.textContent = 'x0 ' + x0.problem;
      return;
    }
    x0Problem.textContent = '';
    state.x0 = x0.value;
    x0Input.value = pair(x0.value);
    tiles.redraw();
    writeHash(true);
    loadReport(false);
    showPoster();
  });

  byId('reset').addEventListener('click', () => {
    const view = initialView();
    map.setView(view.centre, view.level);
    pointerText.textContent = '-';
  });
  byId('collapse').addEventListener('click', (e) => {
    const collapsed = document.body.classList.toggle('collapsed');
    e.target.textContent = collapsed ? 'Desplegar' : 'Plegar';
    e.target.title = collapsed ? 'Desplegar el panel' : 'Plegar el panel';
    e.target.setAttribute('aria-expanded', String(!collapsed));
    map.invalidateSize();
    fitReport();
  });

  function copy(text, button) {
    const done = () => {
      button.dataset.label = button.dataset.label || button.textContent;
      button.textContent = 'Copiado';
      setTimeout(() => (button.textContent = button.dataset.label), 1500);
    };
    // Without the clipboard API (a page served over plain HTTP from another machine), or refused it,
    // the old way: a selected text area and the copy command.
    const fallback = () => {
      const area = document.createElement('textarea');
      area.value = text;
      document.body.appendChild(area);
      area.select();
      if (document.execCommand('copy')) {
        done();
      }
      area.remove();
    };
    if (navigator.clipboard) {
      navigator.clipboard.writeText(text).then(done, fallback);
    } else {
      fallback();
    }
  }
  copyButton.addEventListener('click', () => copy(reportText.textContent, copyButton));

  // The view as a poster: the same centre and window, as many points a side as asked for.
  function posterWindow() {
    const size = map.getSize();
    const c = map.getCenter();
    return {
      n: Math.min(16384, Math.max(2, Math.round(Number(byId('poster-size').value)) || 4096)),
      radius: (Math.max(size.x, size.y) * pixelSize(map.getZoom())) / 2,
      centre: [c.lng, c.lat],
    };
  }
  function posterCommand() {
    const w = posterWindow();
    let poly = '';
    if (state.poly !== null) {
      poly = state.poly.form === 'c'
        ? " --poly '" + P.expression(state.poly.list) + "'"
        : ' --roots ' + P.canonical(state.poly.list);
    }
    return 'muller-basins -n ' + w.n + ' -r ' + number(w.radius) + ' --center=' + pair(w.centre) + ' --x0=' +
      pair(state.x0) + poly + ' -o muller-z' + map.getZoom() + '.png';
  }
  function showPoster() {
    byId('poster-command').textContent = posterCommand();
    // Points closer than a double's spacing at the window's edge would repeat one another.
    const w = posterWindow();
    const edge = Math.max(Math.abs(w.centre[0]), Math.abs(w.centre[1])) + w.radius;
    const spacing = Math.pow(2, Math.floor(Math.log2(edge)) - 52);
    const most = Math.floor((2 * w.radius) / spacing) + 1;
    byId('poster-limit').textContent = w.n > most
      ? 'A este nivel, más de ' + most + ' puntos por lado repiten puntos: es el límite de la precisión doble.'
      : '';
  }
  byId('poster-size').addEventListener('input', showPoster);
  byId('poster-copy').addEventListener('click', () => copy(posterCommand(), byId('poster-copy')));

  // The key for the shading: colour() in the program keeps full brightness up to 5 rows and darkens by
  // 12/256 a row down to a quarter from 21 rows on.
  (function drawShades() {
    const hue = getComputedStyle(document.querySelector('#legend .swatch')).backgroundColor.match(/\d+/g).map(Number);
    for (const rows of [5, 9, 13, 17, 21]) {
      const shade = rows <= 5 ? 256 : rows >= 21 ? 64 : 256 - (rows - 5) * 12;
      const figure = document.createElement('figure');
      const swatch = document.createElement('span');
      swatch.style.background = 'rgb(' + hue.map((v) => Math.floor((v * shade) / 256)).join(',') + ')';
      figure.append(swatch, document.createElement('br'), (rows === 5 ? '≤5' : rows === 21 ? '≥21' : rows) + '');
      byId('shades').appendChild(figure);
    }
    const caption = document.createElement('figure');
    caption.textContent = 'filas';
    byId('shades').appendChild(caption);
  })();

  // The view as it is, tiles and overlays (line, markers, numbers, ring), in a PNG file. The tiles come
  // from this server, so the canvas may be read back.
  function saveView() {
    const size = map.getSize();
    const canvas = document.createElement('canvas');
    canvas.width = size.x;
    canvas.height = size.y;
    const context = canvas.getContext('2d');
    context.fillStyle = '#333';
    context.fillRect(0, 0, size.x, size.y);
    const origin = mapElement.getBoundingClientRect();
    const offset = (element) => {
      const r = element.getBoundingClientRect();
      return { x: r.left - origin.left, y: r.top - origin.top, w: r.width, h: r.height };
    };
    for (const img of mapElement.querySelectorAll('img.leaflet-tile-loaded')) {
      const r = offset(img);
      context.drawImage(img, r.x, r.y, r.w, r.h);
    }
    const labels = () => {
      context.font = '11px monospace';
      context.textBaseline = 'middle';
      for (const element of mapElement.querySelectorAll('.point-label, .edge-label')) {
        const r = offset(element);
        context.fillStyle = 'rgba(0, 0, 0, 0.75)';
        context.fillRect(r.x, r.y, r.w, r.h);
        context.fillStyle = '#fff';
        context.fillText(element.textContent, r.x + 3, r.y + r.h / 2);
      }
    };
    const finish = () => {
      labels();
      canvas.toBlob((blob) => {
        const link = document.createElement('a');
        link.href = URL.createObjectURL(blob);
        link.download = 'muller-z' + map.getZoom() + '.png';
        link.click();
        setTimeout(() => URL.revokeObjectURL(link.href), 10000);
      }, 'image/png');
    };
    const svg = mapElement.querySelector('.leaflet-overlay-pane svg');
    if (!svg) {
      finish();
      return;
    }
    // Leaflet's own drawing of the path, already clipped to the view, as an image.
    const r = offset(svg);
    const image = new Image();
    image.onload = () => {
      context.drawImage(image, r.x, r.y, r.w, r.h);
      finish();
    };
    image.onerror = finish;
    const copy = svg.cloneNode(true);
    copy.setAttribute('width', String(r.w));
    copy.setAttribute('height', String(r.h));
    image.src = 'data:image/svg+xml;charset=utf-8,' + encodeURIComponent(new XMLSerializer().serializeToString(copy));
  }
  byId('save').addEventListener('click', saveView);

  applyHash();
  showLevel();
  showPoster();
  fitReport();
})();
