// Where the map's points are: latitude is Im x1 and longitude Re x1. At level 0 the square |Re x1| <= 2,
// |Im x1| <= 2 is the one tile, 256 pixels over 4 units with Im growing upwards, as the server draws it;
// each level halves the pixels.

export const crs = L.extend({}, L.CRS.Simple, { transformation: new L.Transformation(64, 128, -64, 128) });

export const pixelSize = (level) => Math.pow(2, -(6 + level));

// The centre of the pixel under a point, computed as the server computes its pixel centres, so that a
// click asks for exactly the search that coloured the pixel.
export function pixelCentre(latlng, level) {
  const pixel = pixelSize(level);
  const column = Math.floor((latlng.lng + 2) / pixel);
  const row = Math.floor((2 - latlng.lat) / pixel);
  return [-2 + column * pixel + pixel / 2, 2 - row * pixel - pixel / 2];
}

// The first view: the whole square, at the deepest level at which it fits in the map.
export function initialView(size) {
  return { centre: L.latLng(0, 0), level: Math.max(0, Math.floor(Math.log2(Math.min(size.x, size.y) / 256))) };
}

// A point of the search: null parts are a NaN or an infinity.
export const finite = (z) => z !== null && z[0] !== null && z[1] !== null;
export const latlng = (z) => L.latLng(z[1], z[0]);
// Beyond this a line's end is off any view and Leaflet's projection loses it.
export const far = 1e6;
export const near = (z) => finite(z) && Math.abs(z[0]) < far && Math.abs(z[1]) < far;
