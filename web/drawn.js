// The map's tiles drawn in this browser: a grid layer whose tiles are canvases that the WebAssembly pool
// (muller-pool.js) fills with the pixels of muller-explorer's PNG for the same address. Like the
// server's layer (tiles.js) it owns its query, x0, the polynomial's text ('' for z^4 + 1) and the
// method's name ('' for Muller's), and draws its tiles anew for another. A tile that leaves the view
// before a worker takes it is never drawn; a tile drawn is kept, so that a view seen again, or a level
// left and come back to, is not drawn twice, as the browser keeps the server's tiles.
import { pair } from './numbers.js';

const side = 256;

const keyOf = (query) => pair(query.x0) + '&' + query.polynomial + '&' + query.method;

// The tiles drawn, 256 KiB each, by their place and query, the least recently shown first: as many as a
// few screens at a few levels, shared by the layers of both maps.
export class DrawnTiles {
  constructor(most = 160) {
    this.most = most;
    this.images = new Map();
  }

  get(key) {
    return this.images.get(key);
  }

  keep(key, image) {
    this.images.delete(key);
    this.images.set(key, image);
    if (this.images.size > this.most) {
      this.images.delete(this.images.keys().next().value);
    }
  }
}

export const DrawnLayer = L.GridLayer.extend({
  // pool: a MullerPool; query: { x0: [re, im], polynomial, method }; drawn: the DrawnTiles kept.
  initialize: function (pool, query, options, drawn) {
    L.GridLayer.prototype.initialize.call(this, L.extend({ tileSize: side }, options));
    this._pool = pool;
    this._query = query;
    this._drawn = drawn;
    this._drawing = new Map(); // a tile being drawn -> what cancels it
    this.on('tileunload', (e) => this._cancel(e.tile));
  },

  setQuery: function (query) {
    if (keyOf(query) !== keyOf(this._query)) {
      this._query = query;
      this.redraw();
    }
    return this;
  },

  createTile: function (coords, done) {
    const tile = document.createElement('canvas');
    tile.width = side;
    tile.height = side;
    const count = Math.pow(2, coords.z);
    // Outside the square there is nothing to draw (the server would refuse the address): transparent.
    if (coords.x < 0 || coords.y < 0 || coords.x >= count || coords.y >= count) {
      queueMicrotask(() => done(null, tile));
      return tile;
    }
    tile.dataset.tile = coords.z + '/' + coords.x + '/' + coords.y;
    const key = tile.dataset.tile + '?' + keyOf(this._query);
    const image = this._drawn.get(key);
    if (image !== undefined) {
      this._drawn.keep(key, image);
      tile.getContext('2d').putImageData(image, 0, 0);
      // Leaflet counts a tile as loading from when createTile returns.
      queueMicrotask(() => done(null, tile));
      return tile;
    }
    const controller = new AbortController();
    this._drawing.set(tile, controller);
    const { x0, polynomial, method } = this._query;
    this._pool.drawTile(coords.z, coords.x, coords.y, x0, polynomial, method, { signal: controller.signal }).then((t) => {
      const drawn = new ImageData(t.data, t.width, t.height);
      this._drawn.keep(key, drawn);
      this._drawing.delete(tile);
      tile.getContext('2d').putImageData(drawn, 0, 0);
      done(null, tile);
    }, (e) => {
      // A tile cancelled has left the map: nothing is left to tell.
      if (!controller.signal.aborted) {
        this._drawing.delete(tile);
        done(e, tile);
      }
    });
    return tile;
  },

  _cancel: function (tile) {
    const controller = this._drawing.get(tile);
    if (controller !== undefined) {
      this._drawing.delete(tile);
      controller.abort();
    }
  },

  // Called by Leaflet when the level changes, as the server's layer stops the images of the old level
  // that are still loading: tiles of another level not drawn yet will not be shown, and are cancelled.
  _abortLoading: function () {
    for (const key of Object.keys(this._tiles)) {
      const t = this._tiles[key];
      if (t.coords.z !== this._tileZoom && !t.loaded) {
        this._removeTile(key);
      }
    }
  },
});
