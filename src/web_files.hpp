// The page, its scripts and Leaflet, as bytes built into the program (by cmake/embed.cmake), so that it
// serves everything itself, works offline and reads no file at run time.
#pragma once

#include <cstddef>

struct Embedded {
  const unsigned char* data;
  std::size_t size;
};

extern const Embedded web_index_html;     // web/index.html
extern const Embedded web_explorer_js;    // web/explorer.js
extern const Embedded web_polynomial_js;  // web/polynomial.js, its reader of polynomials
extern const Embedded leaflet_js;         // Leaflet's leaflet.js, from Debian's libjs-leaflet
extern const Embedded leaflet_css;        // and its leaflet.css
