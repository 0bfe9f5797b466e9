// The explorer measured against what it serves: each tile of a fixed set asked for cold, one request at a
// time, beside the time draw() takes for the same pixels on the same threads in this process; and how
// long a request waits while a hundred connections stay idle. Run by bench/compare-explorer:
//   explorer_bench paths                   the fixed set's URLs, one a line
//   explorer_bench cold PORT THREADS       cold tiles against draw(), from a server just started
//   explorer_bench idle PORT               requests with 100 idle connections open
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "http_client.hpp"
#include "map/draw.hpp"
#include "map/png.hpp"

using namespace muller::map;     // NOLINT(google-build-using-namespace)
using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

using Clock = std::chrono::steady_clock;

struct TileAt {
  int level;
  long long column;
  long long row;
};

// Levels from the whole square to the deepest, at the flower's centre, along its petals' edges, where
// the searches are long and varied, and far out, where they are short.
std::vector<TileAt> fixed_set() {
  const double points[][2] = {{0.35, 0.1}, {-0.21, 0.44}, {0.03, -0.02}, {-0.6, -0.55}, {1.5, 1.5}};
  const int levels[] = {0, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 40, deepest_level};
  std::vector<TileAt> tiles;
  for (const auto& p : points) {
    for (const int level : levels) {
      const double side = std::ldexp(1.0, level);
      tiles.push_back({level, static_cast<long long>((p[0] + 2) / 4 * side),
                       static_cast<long long>((2 - p[1]) / 4 * side)});
    }
  }
  return tiles;
}

std::string path_of(const TileAt& t) {
  return "/tile/" + std::to_string(t.level) + "/" + std::to_string(t.column) + "/" + std::to_string(t.row) +
         ".png?v=" + MULLER_VERSION + "&x0=0,0";
}

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(std::lround(p * static_cast<double>(v.size() - 1)))];
}

void summary(const char* what, const std::vector<double>& v) {
  std::printf("%-44s median %8.3f ms   p95 %8.3f ms\n", what, percentile(v, 0.5), percentile(v, 0.95));
}

int cold(int port, int threads) {
  std::vector<double> served;
  std::vector<double> drawn;
  std::vector<double> encoded;
  std::vector<double> ratios;
  for (const TileAt& t : fixed_set()) {
    // Drawing first and then asking, tile by tile, so that both see the same state of the machine.
    std::vector<std::uint8_t> rgb;
    std::atomic<int> rows{0};
    const Clock::time_point a = Clock::now();
    draw(tile(t.level, t.column, t.row, 0), rgb, threads, rows);
    const Clock::time_point b = Clock::now();
    std::string png;
    encode_png(png, rgb.data(), tile_size, tile_size);
    const Clock::time_point c = Clock::now();
    const std::optional<Reply> r = request(port, path_of(t));
    const Clock::time_point d = Clock::now();
    if (!r || r->status != 200 || r->body != png) {
      std::fprintf(stderr, "explorer_bench: %s was not the tile drawn here\n", path_of(t).c_str());
      return 1;
    }
    drawn.push_back(ms(b - a));
    encoded.push_back(ms(c - b));
    served.push_back(ms(d - c));
    ratios.push_back(served.back() / drawn.back());
  }
  std::printf("%zu cold tiles, one request at a time, %d drawing thread%s\n", served.size(), threads,
              threads == 1 ? "" : "s");
  summary("draw() in this process", drawn);
  summary("encode_png() in this process", encoded);
  summary("GET from the explorer (cold)", served);
  std::printf("served / drawn, median of the ratios per tile: %.3f; ratio of the medians: %.3f\n",
              percentile(ratios, 0.5), percentile(served, 0.5) / percentile(drawn, 0.5));
  return 0;
}

int idle(int port) {
  std::vector<int> sockets;
  for (int k = 0; k < 100; ++k) {
    const int fd = connect_to(port);
    if (fd < 0) {
      std::perror("explorer_bench: connect");
      return 1;
    }
    sockets.push_back(fd);
  }
  std::vector<double> waits;
  for (int k = 0; k < 20; ++k) {
    const Clock::time_point a = Clock::now();
    const std::optional<Reply> r = request(port, "/report?x1=1,1");  // a new connection, as a new user's
    waits.push_back(ms(Clock::now() - a));
    if (!r || r->status != 200) {
      std::fprintf(stderr, "explorer_bench: no answer with 100 idle connections\n");
      return 1;
    }
  }
  std::printf("100 idle connections open: a new connection's request\n");
  summary("  GET /report?x1=1,1", waits);
  std::printf("  %-42s %8.3f ms\n", "slowest of 20", percentile(waits, 1.0));
  for (const int fd : sockets) {
    close(fd);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "paths") {
    for (const TileAt& t : fixed_set()) {
      std::printf("%s\n", path_of(t).c_str());
    }
    return 0;
  }
  if (mode == "cold" && argc == 4) {
    return cold(std::atoi(argv[2]), std::atoi(argv[3]));
  }
  if (mode == "idle" && argc == 3) {
    return idle(std::atoi(argv[2]));
  }
  std::fprintf(stderr, "usage: explorer_bench paths | cold PORT THREADS | idle PORT\n");
  return 2;
}
