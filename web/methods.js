// The four methods the page can show, by the names the server's m= and the modules take, with their
// names on the page. Muller's is the default: its addresses carry no m=.
export const methodNames = ['secant', 'muller', 'newton', 'halley'];

const words = {
  secant: { label: 'Secante', of: 'de la secante' },
  muller: { label: 'Muller', of: 'de Muller' },
  newton: { label: 'Newton', of: 'de Newton' },
  halley: { label: 'Halley', of: 'de Halley' },
};

// 'Secante', 'Muller'...: the choices in the selects and the names over the maps.
export const methodLabel = (m) => words[m].label;

// What the heading calls the search: "Método de Newton", or "Métodos de Newton y de Halley".
export const methodsTitle = (method, second) =>
  second === null ? 'Método ' + words[method].of : 'Métodos ' + words[method].of + ' y ' + words[second].of;
