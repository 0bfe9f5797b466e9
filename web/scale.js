// The scale over the map and the level's line in the panel: the level, its pixel size, and a bar of a
// round length. A control that follows the map's zoom itself.
import { number } from './numbers.js';
import { pixelSize } from './geometry.js';

export const ScaleControl = L.Control.extend({
  options: { position: 'bottomleft' },

  // level, pixel: the panel's elements that name the level and its pixel's size.
  initialize: function (level, pixel, options) {
    L.setOptions(this, options);
    this._level = level;
    this._pixel = pixel;
  },

  onAdd: function (map) {
    this._div = L.DomUtil.create('div', 'scale');
    map.on('zoomend', this._update, this);
    map.whenReady(this._update, this);
    return this._div;
  },

  onRemove: function (map) {
    map.off('zoomend', this._update, this);
  },

  _update: function () {
    const level = this._map.getZoom();
    const pixel = pixelSize(level);
    this._level.textContent = String(level);
    this._pixel.textContent = '2^-' + (6 + level) + ' = ' + number(pixel);
    // The longest of 1, 2 or 5 times a power of ten that fits in 120 pixels.
    const power = Math.pow(10, Math.floor(Math.log10(120 * pixel)));
    const length = [5, 2, 1].map((m) => m * power).find((l) => l / pixel <= 120);
    this._div.textContent = '';
    const bar = L.DomUtil.create('div', '', this._div);
    bar.style.width = Math.round(length / pixel) + 'px';
    this._div.appendChild(document.createTextNode(number(length)));
  },
});
