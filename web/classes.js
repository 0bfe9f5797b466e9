// The classes of the polynomial's roots as the server gives them (/roots), and its roots as the page
// shows them: numbered in the order shown, class by class in the map's order and within a class in the
// order found, so that the legend and the markers read 1, 2, 3... down the list.
export function shownRoots(data) {
  const shown = [];
  data.classes.forEach((c) => {
    for (const r of c.roots.slice().sort((a, b) => a.n - b.n)) {
      shown.push({ n: r.n, z: r.z, number: shown.length + 1, colour: c.colour });
    }
  });
  return shown;
}
