// The map's tiles, drawn by the server: a tile layer that owns its query (x0, the polynomial, the method), as
// Leaflet's WMS layer owns its parameters, and a count of the tiles on their way.

// Tiles outside the square are not asked for (the server would refuse them): they are a transparent
// pixel. Not Leaflet's own empty image, which it takes for a tile still loading.
export const outside = 'data:image/gif;base64,R0lGODlhAQABAIAAAAAAAP///yH5BAEAAAAALAAAAAABAAEAAAIBRAA7';

export const BasinsLayer = L.TileLayer.extend({
  // version: the program's, which tiles depend on; query: '&x0=...', the polynomial's parameter and m=.
  initialize: function (version, query, options) {
    L.TileLayer.prototype.initialize.call(this, '', options);
    this._version = version;
    this._query = query;
  },

  // Another x0, polynomial or method: the tiles are asked for anew.
  setQuery: function (query) {
    if (query !== this._query) {
      this._query = query;
      this.redraw();
    }
    return this;
  },

  getTileUrl: function (coords) {
    const side = Math.pow(2, coords.z);
    if (coords.x < 0 || coords.y < 0 || coords.x >= side || coords.y >= side) {
      return outside;
    }
    return 'tile/' + coords.z + '/' + coords.x + '/' + coords.y + '.png?v=' + this._version + this._query;
  },
});

// How the tiles are doing, on the map's element, where a test (or a curious user) can read it, and as
// a line over the map while any are on their way. A tile that Leaflet drops while it loads (on a zoom,
// or a redraw for another x0) leaves the document without an event, so the count is of the tiles still
// in it (or in the fragment that Leaflet builds before it adds them).
export function countTiles(layer, map, element, line) {
  const pending = new Set();
  const counts = { loaded: 0, failed: 0 };
  const recount = () => {
    for (const tile of pending) {
      if (tile.parentNode === null) {
        pending.delete(tile);
      }
    }
    element.dataset.tilesLoading = String(pending.size);
    element.dataset.tilesLoaded = String(counts.loaded);
    element.dataset.tilesFailed = String(counts.failed);
    line.hidden = pending.size === 0;
  };
  const settle = (key) => (e) => {
    if (pending.delete(e.tile) && key) {
      counts[key] += 1;
    }
    recount();
  };
  layer.on('tileloadstart', (e) => {
    pending.add(e.tile);
    recount();
  });
  layer.on('tileload', settle('loaded'));
  layer.on('tileerror', settle('failed'));
  layer.on('tileunload tileabort', settle(null));
  map.on('zoomend moveend', recount);
}
