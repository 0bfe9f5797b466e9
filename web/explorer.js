// The explorer's page: the map of where Muller's method on z^4 + 1 leads from every second start point
// x1, zoomable to the limit of double precision; a click shows that point's search, drawn over the map,
// and its report as the terminal shows it. The view, x0 and the selected point live in the URL's hash.
'use strict';

(function () {
  const version = document.body.dataset.version;
  const deepestLevel = Number(document.body.dataset.deepestLevel);
  const mapElement = document.getElementById('map');
  const pointerText = document.getElementById('pointer');
  const x0Form = document.getElementById('x0-form');
  const x0Input = document.getElementById('x0');
  const x0Problem = document.getElementById('x0-problem');
  const reportText = document.getElementById('report');

  // Latitude is Im x1 and longitude Re x1. At level 0 the square |Re x1| <= 2, |Im x1| <= 2 is the one tile,
  // 256 pixels over 4 units with Im growing upwards, as the server draws it.
  const crs = L.extend({}, L.CRS.Simple, { transformation: new L.Transformation(64, 128, -64, 128) });

  const state = { x0: [0, 0], x1: null, report: null };

  // Numbers go to URLs in the shortest form that reads back as the same double; -0 keeps its sign, which
  // the search (and its report) tells from 0.
  function number(v) {
    return Object.is(v, -0) ? '-0' : String(v);
  }
  function pair(z) {
    return number(z[0]) + ',' + number(z[1]);
  }
  // The rule the server applies: decimal numbers only, no spaces, no hexadecimal, no inf or nan.
  const decimal = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/;
  function parsePair(text) {
    const parts = String(text).split(',');
    if (parts.length !== 2 || !parts.every((p) => decimal.test(p))) {
      return null;
    }
    const z = parts.map(Number);
    return z.every(Number.isFinite) ? z : null;
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
  });

  // Tiles outside the square are not asked for (the server would refuse them): they are a transparent
  // pixel. Not Leaflet's own empty image, which it takes for a tile still loading.
  const outside = 'data:image/gif;base64,R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7';
  const BasinsLayer = L.TileLayer.extend({
    getTileUrl: function (coords) {
      const side = Math.pow(2, coords.z);
      if (coords.x < 0 || coords.y < 0 || coords.x >= side || coords.y >= side) {
        return outside;
      }
      return 'tile/' + coords.z + '/' + coords.x + '/' + coords.y + '.png?v=' + version + '&x0=' + pair(state.x0);
    },
  });
  const tiles = new BasinsLayer('', {
    tileSize: 256,
    minZoom: 0,
    maxZoom: deepestLevel,
    maxNativeZoom: deepestLevel,
    keepBuffer: 1,
  }).addTo(map);

  // How the tiles are doing, on the map's element, where a test (or a curious user) can read it.
  const counts = { loading: 0, loaded: 0, failed: 0 };
  function count(key, change) {
    counts[key] += change;
    mapElement.dataset.tilesLoading = String(counts.loading);
    mapElement.dataset.tilesLoaded = String(counts.loaded);
    mapElement.dataset.tilesFailed = String(counts.failed);
  }
  tiles.on('tileloadstart', () => count('loading', 1));
  tiles.on('tileload', () => {
    count('loading', -1);
    count('loaded', 1);
  });
  tiles.on('tileerror', () => {
    count('loading', -1);
    count('failed', 1);
  });
  tiles.on('tileabort', () => count('loading', -1));

  // The pointer's x1, with as many decimals as the level's pixels need.
  function decimals() {
    return Math.min(17, Math.ceil((6 + map.getZoom()) * Math.LOG10E * Math.LN2) + 1);
  }
  map.on('mousemove', (e) => {
    const d = decimals();
    pointerText.textContent = '(' + e.latlng.lng.toFixed(d) + ', ' + e.latlng.lat.toFixed(d) + ')';
  });

  // The search's path: the start points marked, each point numbered, the zero reached ringed.
  const path = L.layerGroup().addTo(map);
  const far = 1e6; // points beyond this are off any view; a line to them would only mislead
  function drawPath() {
    path.clearLayers();
    const data = state.report;
    if (!data) {
      return;
    }
    const near = (z) => z !== null && z[0] !== null && z[1] !== null && Math.abs(z[0]) < far && Math.abs(z[1]) < far;
    const latlng = (z) => L.latLng(z[1], z[0]);
    const line = [];
    const labelled = [];
    const label = (marker, text, z) => {
      // A label that would cover one already placed is left out: points that fall on one another at
      // this level show the first one's.
      const at = map.latLngToContainerPoint(latlng(z));
      if (labelled.every((other) => Math.abs(at.x - other.x) > 24 || Math.abs(at.y - other.y) > 14)) {
        marker.bindTooltip(text, { permanent: true, direction: 'right', offset: [5, 0], className: 'point-label' });
        labelled.push(at);
      }
    };
    for (const [name, z] of [['x0', data.x0], ['x1', data.x1]]) {
      if (near(z)) {
        const marker = L.circleMarker(latlng(z), { radius: 6, color: '#fff', weight: 2, fillColor: '#000', fillOpacity: 1 });
        label(marker, name, z);
        marker.addTo(path);
      }
    }
    if (near(data.x1)) {
      line.push(latlng(data.x1));
    }
    data.points.forEach((p) => {
      if (!near(p.x)) {
        return;
      }
      line.push(latlng(p.x));
      const marker = L.circleMarker(latlng(p.x), { radius: 3, color: '#fff', weight: 1, fillColor: '#fff', fillOpacity: 1 });
      label(marker, String(p.k), p.x);
      marker.addTo(path);
    });
    // Unsimplified: every step of the search is on the line, however short.
    L.polyline(line, { color: '#fff', weight: 2, opacity: 0.9, smoothFactor: 0 }).addTo(path);
    const last = data.points[data.points.length - 1];
    if (data.status === 0 && last && near(last.x)) {
      L.circleMarker(latlng(last.x), { radius: 11, color: '#ff0', weight: 3, fill: false })
        .bindTooltip('raiz', { permanent: true, direction: 'left', offset: [-10, 0], className: 'point-label' })
        .addTo(path);
    }
  }
  map.on('zoomend', drawPath);

  let reportRequest = 0;
  function loadReport() {
    const x1 = state.x1;
    if (x1 === null) {
      state.report = null;
      reportText.textContent = 'Haga clic en el mapa para ver la busqueda desde ese x1 y su informe.';
      drawPath();
      return;
    }
    const request = ++reportRequest;
    reportText.textContent = 'Calculando...';
    fetch('report?v=' + version + '&x0=' + pair(state.x0) + '&x1=' + pair(x1))
      .then((r) => (r.ok ? r.json() : r.text().then((t) => Promise.reject(new Error(t.trim())))))
      .then((data) => {
        if (request !== reportRequest) {
          return; // an answer to a point no longer selected
        }
        state.report = data;
        reportText.textContent = data.report;
        drawPath();
      })
      .catch((e) => {
        if (request === reportRequest) {
          state.report = null;
          reportText.textContent = 'No se pudo obtener el informe: ' + e.message;
          drawPath();
        }
      });
  }

  // The hash: #z=LEVEL&c=RE,IM&x0=RE,IM&x1=RE,IM (x1 only when a point is selected).
  function writeHash() {
    const c = map.getCenter();
    let hash = '#z=' + map.getZoom() + '&c=' + number(c.lng) + ',' + number(c.lat) + '&x0=' + pair(state.x0);
    if (state.x1 !== null) {
      hash += '&x1=' + pair(state.x1);
    }
    if (hash !== location.hash) {
      history.replaceState(null, '', hash);
    }
  }
  function readHash() {
    const fields = {};
    for (const part of location.hash.replace(/^#/, '').split('&')) {
      const eq = part.indexOf('=');
      if (eq > 0) {
        fields[part.slice(0, eq)] = decodeURIComponent(part.slice(eq + 1));
      }
    }
    return fields;
  }
  function applyHash() {
    const fields = readHash();
    const x0 = parsePair(fields.x0);
    const x0Changed = x0 !== null && pair(x0) !== pair(state.x0);
    if (x0 !== null) {
      state.x0 = x0;
    }
    x0Input.value = pair(state.x0);
    const centre = parsePair(fields.c);
    const level = Number(fields.z);
    if (centre !== null && Number.isInteger(level) && level >= 0 && level <= deepestLevel) {
      map.setView(L.latLng(centre[1], centre[0]), level, { animate: false });
    } else {
      // The whole square, as large as the window allows.
      const size = map.getSize();
      const fit = Math.max(0, Math.floor(Math.log2(Math.min(size.x, size.y) / 256)));
      map.setView(L.latLng(0, 0), fit, { animate: false });
    }
    if (x0Changed) {
      tiles.redraw();
    }
    const x1 = parsePair(fields.x1);
    const x1Changed = (x1 === null) !== (state.x1 === null) || (x1 !== null && pair(x1) !== pair(state.x1));
    state.x1 = x1;
    if (x1Changed || x0Changed) {
      loadReport();
    }
  }

  map.on('click', (e) => {
    state.x1 = pixelCentre(e.latlng, map.getZoom());
    writeHash();
    loadReport();
  });
  map.on('moveend', writeHash);
  window.addEventListener('hashchange', applyHash);

  x0Form.addEventListener('submit', (e) => {
    e.preventDefault();
    const x0 = parsePair(x0Input.value.trim());
    x0Input.setAttribute('aria-invalid', x0 === null ? 'true' : 'false');
    if (x0 === null) {
      x0Problem.textContent = 'x0 debe ser RE,IM: dos numeros decimales finitos';
      return;
    }
    x0Problem.textContent = '';
    state.x0 = x0;
    x0Input.value = pair(x0);
    tiles.redraw();
    writeHash();
    loadReport();
  });

  // The view as it is, tiles and path, in a PNG file. The tiles come from this server, so the canvas may
  // be read back.
  document.getElementById('save').addEventListener('click', () => {
    const size = map.getSize();
    const canvas = document.createElement('canvas');
    canvas.width = size.x;
    canvas.height = size.y;
    const context = canvas.getContext('2d');
    context.fillStyle = '#333';
    context.fillRect(0, 0, size.x, size.y);
    const origin = mapElement.getBoundingClientRect();
    for (const img of mapElement.querySelectorAll('img.leaflet-tile-loaded')) {
      const r = img.getBoundingClientRect();
      context.drawImage(img, r.left - origin.left, r.top - origin.top, r.width, r.height);
    }
    const data = state.report;
    if (data) {
      const at = (z) => map.latLngToContainerPoint(L.latLng(z[1], z[0]));
      const points = [data.x1].concat(data.points.map((p) => p.x)).filter((z) => z[0] !== null && z[1] !== null);
      context.strokeStyle = '#fff';
      context.fillStyle = '#fff';
      context.lineWidth = 2;
      context.beginPath();
      points.forEach((z, k) => {
        const p = at(z);
        if (k === 0) {
          context.moveTo(p.x, p.y);
        } else {
          context.lineTo(p.x, p.y);
        }
      });
      context.stroke();
      for (const z of points) {
        const p = at(z);
        context.fillRect(p.x - 2, p.y - 2, 4, 4);
      }
    }
    canvas.toBlob((blob) => {
      const link = document.createElement('a');
      link.href = URL.createObjectURL(blob);
      link.download = 'muller-z' + map.getZoom() + '.png';
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    }, 'image/png');
  });

  applyHash();
  writeHash();
})();
