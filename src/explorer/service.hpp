// The explorer's web service: the page, the map's tiles and the report of any point, over HTTP.
//
//   GET /                                the page (with its scripts, and Leaflet under /leaflet/)
//   GET /tile/{z}/{x}/{y}.png?x0=RE,IM   a tile_size x tile_size PNG of the map from x0 (default 0): level
//                                        z in 0..deepest_level, column x and row y in 0..2^z - 1
//   GET /report?x0=RE,IM&x1=RE,IM        the search from x0 (default 0) and x1 as JSON: its report, status
//                                        and points
//   GET /roots                           the classes of the polynomial's roots as JSON, in order, each with
//                                        its colour on the map and its roots numbered from 1
//
// Tiles, reports and roots are of z^4 + 1, or of the polynomial named by c=c_n;...;c_0 (coefficients,
// highest power first) or r=r_1;...;r_n (roots), each number RE or RE,IM, in the canonical text of
// cli: any other spelling of the same numbers, escaped or not, is redirected there (301), so that a
// polynomial has one URL and one place in the cache; a parameter that the route does not take, or one
// given twice, is refused (400, naming it). c= with z^4 + 1's coefficients is z^4 + 1.
//
// HEAD is answered for all of them; every other method gets 405. A tile depends on nothing but its URL
// and the program's version, so its response may be kept by any cache for good. Tiles are drawn one at
// a time with all the drawing threads, the clients' addresses served in turn, a bounded number waiting
// in all and from each address; past that a request gets 503 with Retry-After. Drawn tiles stay in
// memory, least recently used first out, within a budget of bytes.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace muller::explorer {

struct ExplorerSettings {
  int threads = 1;                            // threads that draw a tile
  std::size_t cache_bytes = 256u << 20;       // of PNG tiles kept in memory
  std::size_t waiting_tiles = 64;             // tiles waiting to be drawn, past which requests get 503
  std::size_t waiting_per_client = 16;        // of those, from one client address
  int loops = 2;                              // threads that read requests and send responses
  std::function<void()> before_drawing;       // for tests: run on the drawing thread before each tile
  std::function<std::string()> draw_instead;  // for tests and fuzzing: a tile's PNG, made in no time
};

class Explorer {
 public:
  explicit Explorer(const ExplorerSettings& settings);
  ~Explorer();
  Explorer(const Explorer&) = delete;
  Explorer& operator=(const Explorer&) = delete;

  // Listens on host:port (port 0: a free one). Returns an empty string, or why not, in Spanish.
  std::string bind(const std::string& host, int port);
  int port() const;
  // Serves until stop(); returns once the requests in hand are answered.
  void serve();
  // From any thread but a signal handler: tiles not yet begun are answered 503, the one being drawn is
  // finished, and serve() returns within a second.
  void stop();

  // Tiles drawn so far, and requests waiting now for a tile to be drawn.
  long long renders() const;
  long long waiting() const;

 private:
  struct Service;
  std::unique_ptr<Service> service_;
};

}  // namespace muller::explorer
