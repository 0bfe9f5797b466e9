// The explorer's web service: the routes, and the answers to each.
#include "explorer/service.hpp"

#include <array>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>

#include "cli/options.hpp"
#include "explorer/assets.hpp"
#include "explorer/json.hpp"
#include "explorer/params.hpp"
#include "explorer/tiles.hpp"
#include "http/server.hpp"
#include "map/outcome.hpp"
#include "map/window.hpp"
#include "search/polynomial.hpp"

namespace muller::explorer {

namespace {

using complex = std::complex<double>;

// Decimal digits alone, read with the value held at most at 2^62 (any larger number is refused as
// large, whatever its size).
bool digits(const std::string& text, long long& value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  constexpr long long large = 1LL << 62;
  value = 0;
  for (const char c : text) {
    value = value > large / 10 ? large : std::min(value * 10 + (c - '0'), large);
  }
  return true;
}

std::uint64_t bits(double v) {
  std::uint64_t b = 0;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

}  // namespace

struct Explorer::Service {
  explicit Service(const ExplorerSettings& settings)
      : server(settings.loops, http::Limits{},
               [this](const http::Request& req, const http::Respond& respond) { route(req, respond); }),
        tiles(settings),
        assets(page_assets()) {}

  void route(const http::Request& req, const http::Respond& respond) {
    if (req.method != "GET" && !req.head) {
      http::Response r = http::refusal(405, "solo se admiten GET y HEAD");
      r.headers.emplace_back("Allow", "GET, HEAD");
      respond(std::move(r));
      return;
    }
    const auto found = assets.find(req.path);
    if (found != assets.end()) {
      respond(serve_asset(req, found->second));
    } else if (req.path.compare(0, 6, "/tile/") == 0) {
      serve_tile(req, respond);
    } else if (req.path == "/report") {
      respond(serve_report(req));
    } else if (req.path == "/roots") {
      respond(serve_roots(req));
    } else {
      respond(http::refusal(404, "no existe " + cli::echo(req.path)));
    }
  }

  static http::Response serve_asset(const http::Request& req, const Asset& a) {
    http::Response r;
    r.type = a.type;
    // Revalidated on every use, so that a new version of the program shows at once.
    r.headers = {{"Cache-Control", "no-cache"}, {"ETag", a.etag}};
    if (not_modified(req, a.etag)) {
      r.status = 304;
    } else {
      r.body = a.body;
    }
    return r;
  }

  void serve_tile(const http::Request& req, const http::Respond& respond) {
    // /tile/{z}/{x}/{y}.png, each number in decimal digits.
    const std::string rest = req.path.substr(6);
    const std::size_t slash1 = rest.find('/');
    const std::size_t slash2 = slash1 == std::string::npos ? slash1 : rest.find('/', slash1 + 1);
    const bool png = rest.size() > 4 && rest.compare(rest.size() - 4, 4, ".png") == 0;
    long long level = 0;
    long long column = 0;
    long long row = 0;
    if (slash2 == std::string::npos || !png || !digits(rest.substr(0, slash1), level) ||
        !digits(rest.substr(slash1 + 1, slash2 - slash1 - 1), column) ||
        !digits(rest.substr(slash2 + 1, rest.size() - 4 - slash2 - 1), row)) {
      respond(http::refusal(404, "no existe " + cli::echo(req.path)));
      return;
    }
    if (level > map::deepest_level) {
      // The level as asked for, however large (the number read is held at 2^62), cut as long values are.
      std::string asked = rest.substr(0, slash1);
      asked.erase(0, std::min(asked.find_first_not_of('0'), asked.size() - 1));
      if (asked.size() > 40) {
        asked = asked.substr(0, 40) + "...";
      }
      respond(http::refusal(404, "no hay nivel " + asked + ": el mas profundo es el " +
                                     std::to_string(map::deepest_level) +
                                     ", donde la doble precision aun separa los pixeles"));
      return;
    }
    const long long side = 1LL << level;
    if (column >= side || row >= side) {
      respond(http::refusal(400, "el nivel " + std::to_string(level) + " tiene columnas y filas de 0 a " +
                                     std::to_string(side - 1)));
      return;
    }
    const std::string keys = key_problem(req, {"x0", "c", "r", "m", "v"}, "/tile");
    if (!keys.empty()) {
      respond(http::refusal(400, keys));
      return;
    }
    const cli::Checked<complex> x0 = point_param(req, "x0", 0);
    if (!x0.problem.empty()) {
      respond(http::refusal(400, x0.problem));
      return;
    }
    const cli::Checked<Asked> asked = polynomials.asked(req);
    if (!asked.problem.empty()) {
      respond(http::refusal(400, asked.problem));
      return;
    }
    if (!asked.value.moved_to.empty()) {
      respond(moved(asked.value.moved_to));
      return;
    }
    const cli::Checked<std::optional<search::Method>> method = method_param(req);
    if (!method.problem.empty()) {
      respond(http::refusal(400, method.problem));
      return;
    }
    // m=muller is no m: the same tile, tag and place in the cache.
    const search::Method m = method.value.value_or(search::Method::muller);
    const TileKey key{static_cast<int>(level), column,          row, bits(x0.value.real()),
                      bits(x0.value.imag()),   asked.value.key, m};
    // The tag names the tile and the version that drew it: it holds without drawing the tile. The
    // polynomial's canonical text (digits and , ; . - + e only) follows, when it is not z^4 + 1.
    std::array<char, 160> head{};
    std::snprintf(head.data(), head.size(), "\"%s-%lld-%lld-%lld-%016llx-%016llx", MULLER_VERSION, level,
                  column, row, static_cast<unsigned long long>(key.x0_re),
                  static_cast<unsigned long long>(key.x0_im));
    const std::string tag = head.data() + (key.polynomial.empty() ? "" : "-" + key.polynomial) +
                            (m == search::Method::muller ? "" : std::string("-m=") + search::names(m).key) +
                            "\"";
    http::Response r;
    r.type = "image/png";
    r.headers = {{"Cache-Control", "public, max-age=31536000, immutable"}, {"ETag", tag}};
    if (not_modified(req, tag)) {
      r.status = 304;
      respond(std::move(r));
      return;
    }
    std::shared_ptr<const Tile> tile = tiles.cached(key);
    if (tile != nullptr) {
      respond(tile_answer(tile, std::move(r)));
      return;
    }
    const auto answer = [this, respond, r](const std::shared_ptr<const Tile>& drawn) {
      respond(tile_answer(drawn, r));
    };
    switch (tiles.find(key, asked.value.polynomial, tile, answer, req.peer)) {
      case Tiles::Found::ready:
        answer(tile);
        break;
      case Tiles::Found::parked:
        break;  // answered once drawn
      case Tiles::Found::busy:
        answer(nullptr);
        break;
    }
  }

  // The answer once the tile is there, sent from the tile itself, which the cache may hold; null when
  // it will not be drawn.
  http::Response tile_answer(const std::shared_ptr<const Tile>& tile, http::Response r) const {
    if (tile == nullptr) {
      http::Response busy =
          http::refusal(503, server.stopping() ? "el servidor se esta deteniendo"
                                               : "demasiadas teselas en espera de dibujarse");
      busy.headers.emplace_back("Retry-After", "1");
      return busy;
    }
    if (tile->png.empty()) {
      return http::refusal(500, "no hay memoria para dibujar la tesela");
    }
    r.body = std::shared_ptr<const std::string>(tile, &tile->png);
    return r;
  }

  http::Response serve_report(const http::Request& req) {
    const std::string keys = key_problem(req, {"x0", "x1", "c", "r", "m", "v"}, "/report");
    if (!keys.empty()) {
      return http::refusal(400, keys);
    }
    if (req.param("x1") == nullptr) {
      return http::refusal(400, "falta x1, el segundo punto de partida (RE,IM)");
    }
    const cli::Checked<complex> x0 = point_param(req, "x0", 0);
    const cli::Checked<complex> x1 = point_param(req, "x1", 0);
    if (!x0.problem.empty() || !x1.problem.empty()) {
      return http::refusal(400, !x0.problem.empty() ? x0.problem : x1.problem);
    }
    const cli::Checked<Asked> asked = polynomials.asked(req);
    if (!asked.problem.empty()) {
      return http::refusal(400, asked.problem);
    }
    if (!asked.value.moved_to.empty()) {
      return moved(asked.value.moved_to);
    }
    const cli::Checked<std::optional<search::Method>> method = method_param(req);
    if (!method.problem.empty()) {
      return http::refusal(400, method.problem);
    }
    const map::MapPolynomial* p = asked.value.polynomial.get();
    return json_answer(report_json(p != nullptr ? &p->p : nullptr, x0.value, x1.value, method.value));
  }

  http::Response serve_roots(const http::Request& req) {
    const std::string keys = key_problem(req, {"c", "r", "m", "v"}, "/roots");
    if (!keys.empty()) {
      return http::refusal(400, keys);
    }
    const cli::Checked<Asked> asked = polynomials.asked(req);
    if (!asked.problem.empty()) {
      return http::refusal(400, asked.problem);
    }
    if (!asked.value.moved_to.empty()) {
      return moved(asked.value.moved_to);
    }
    // The roots are the polynomial's whatever the method; m= is read so that a page may send it.
    if (const auto method = method_param(req); !method.problem.empty()) {
      return http::refusal(400, method.problem);
    }
    const map::MapPolynomial* p = asked.value.polynomial.get();
    return json_answer(roots_json(asked.value.key, p != nullptr ? *p : z4_plus_1));
  }

  // A polynomial spelled otherwise than in its canonical text is sent to its one URL, as a server sends
  // a directory named without its slash; the redirect, as the URL's answer, may be kept.
  static http::Response moved(const std::string& location) {
    http::Response r;
    r.status = 301;
    r.headers = {{"Location", location}, {"Cache-Control", "public, max-age=86400"}};
    r.body = std::make_shared<const std::string>("la direccion canonica es " + location + "\n");
    return r;
  }

  static http::Response json_answer(std::string json) {
    http::Response r;
    r.type = "application/json";
    r.headers = {{"Cache-Control", "public, max-age=86400"}};
    r.body = std::make_shared<const std::string>(std::move(json));
    return r;
  }

  http::Server server;
  Polynomials polynomials;
  // z^4 + 1's classes, for /roots without a polynomial: its four zeros, in the order of its quadrants.
  const map::MapPolynomial z4_plus_1 = map::map_polynomial(search::default_polynomial());
  Tiles tiles;  // after the server: it is stopped and joined first, while the sessions it answers still exist
  std::unordered_map<std::string, Asset> assets;
};

Explorer::Explorer(const ExplorerSettings& settings) : service_(std::make_unique<Service>(settings)) {}

Explorer::~Explorer() = default;

std::string Explorer::bind(const std::string& host, int port) { return service_->server.bind(host, port); }

int Explorer::port() const { return service_->server.port(); }

void Explorer::serve() { service_->server.serve(); }

void Explorer::stop() {
  // The server first: the tiles given up are then refused as the stop's, with the connection closed.
  service_->server.shutdown();
  service_->tiles.stop();
}

long long Explorer::renders() const { return service_->tiles.renders(); }

long long Explorer::waiting() const { return service_->tiles.waiting(); }

}  // namespace muller::explorer
