// The page, its scripts and Leaflet, as bytes built into the program (by cmake/embed.cmake), so that it
// serves everything itself, works offline and reads no file at run time.
#pragma once

#include <cstddef>

namespace muller::explorer {

struct WebFile {
  const char* path;  // below the site's root: "index.html", "explorer.js", "leaflet/leaflet.css"
  const unsigned char* data;
  std::size_t size;
};

// Every file of web/, at its path below web/, then Leaflet's leaflet.js and leaflet.css (Debian's
// libjs-leaflet) below leaflet/. The build lists them: a file added to web/ is served with no other
// change.
extern const WebFile* const web_files[];
extern const std::size_t web_file_count;

}  // namespace muller::explorer
