// The explorer's web service: routes, the checks on every parameter, the tiles' memory cache with one
// drawing per tile however many ask for it, and the queue of tiles waiting to be drawn.
#include "explorer.hpp"

#include <httplib.h>

#include <array>
#include <atomic>
#include <cmath>
#include <complex>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "basins.hpp"
#include "cli.hpp"
#include "http_server.hpp"
#include "muller.hpp"
#include "png.hpp"
#include "search.hpp"
#include "web_files.hpp"

namespace {

using complex = std::complex<double>;
using httplib::Request;
using httplib::Response;

const char* const text_type = "text/plain; charset=utf-8";

// Every refusal is one line in Spanish.
void refuse(Response& res, int status, const std::string& line) {
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(line + "\n", text_type);
}

// A point as a request gives it, "RE,IM", each part a finite decimal number by the rule the programs'
// options follow: no spaces, no hexadecimal, no words such as inf or nan.
bool parse_point(const Request& req, const char* name, complex& z, std::string& problem) {
  const std::string text = req.get_param_value(name);
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos) {
    problem = std::string(name) + " debe tener la forma RE,IM, no " + cli::echo(text);
    return false;
  }
  const cli::Checked<double> re = cli::real(text.substr(0, comma));
  const cli::Checked<double> im = cli::real(text.substr(comma + 1));
  if (!re.problem.empty() || !im.problem.empty()) {
    problem = std::string("la parte ") + (re.problem.empty() ? "imaginaria" : "real") + " de " + name + " " +
              (re.problem.empty() ? im.problem : re.problem);
    return false;
  }
  z = {re.value, im.value};
  return true;
}

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

struct TileKey {
  int level;
  long long column;
  long long row;
  std::uint64_t x0_re;  // the bits of x0's parts, so that -0 and 0 are told apart as the search tells them
  std::uint64_t x0_im;
  bool operator==(const TileKey& o) const {
    return level == o.level && column == o.column && row == o.row && x0_re == o.x0_re && x0_im == o.x0_im;
  }
  complex x0() const {
    double re = 0;
    double im = 0;
    std::memcpy(&re, &x0_re, sizeof re);
    std::memcpy(&im, &x0_im, sizeof im);
    return {re, im};
  }
};

// FNV-1a, one step a value: for the tiles' table and the assets' ETags.
constexpr std::uint64_t fnv_basis = 1469598103934665603ULL;
constexpr std::uint64_t fnv_step(std::uint64_t h, std::uint64_t v) { return (h ^ v) * 1099511628211ULL; }

struct TileKeyHash {
  std::size_t operator()(const TileKey& k) const {
    std::uint64_t h = fnv_basis;
    for (const std::uint64_t v : {static_cast<std::uint64_t>(k.level), static_cast<std::uint64_t>(k.column),
                                  static_cast<std::uint64_t>(k.row), k.x0_re, k.x0_im}) {
      h = fnv_step(h, v);
    }
    return static_cast<std::size_t>(h ^ (h >> 32));
  }
};

std::uint64_t bits(double v) {
  std::uint64_t b = 0;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// A drawn tile. An empty png marks a tile that could not be drawn (no memory).
struct Tile {
  std::string png;
};

// Drawn tiles in memory, and the tiles being or waiting to be drawn with the requests that wait for
// them. One thread draws, one tile at a time with every drawing thread: a tile then comes as soon as
// it can, and the next one in line is not slowed by the others.
class Tiles {
 public:
  Tiles(int threads, std::size_t budget, std::size_t waiting_limit, std::function<void()> before_drawing)
      : threads_(threads),
        budget_(budget),
        waiting_limit_(waiting_limit),
        before_drawing_(std::move(before_drawing)),
        drawer_([this] { run(); }) {}
  ~Tiles() {
    stop();
    drawer_.join();
  }
  Tiles(const Tiles&) = delete;
  Tiles& operator=(const Tiles&) = delete;

  enum class Found { ready, parked, busy };

  // The tile if it is in memory; else the request is parked until the tile is drawn (and answered again,
  // with the tile held for it); busy when too many tiles wait already, or the service is stopping.
  Found find(const TileKey& key, std::shared_ptr<const Tile>& tile) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto cached = index_.find(key);
    if (cached != index_.end()) {
      lru_.splice(lru_.begin(), lru_, cached->second);
      tile = cached->second->second;
      return Found::ready;
    }
    const auto drawing = waiters_.find(key);
    if (drawing != waiters_.end()) {
      drawing->second.push_back(HttpServer::defer());
      ++waiting_;
      return Found::parked;
    }
    if (stopping_ || queue_.size() >= waiting_limit_) {
      return Found::busy;
    }
    queue_.push_back(key);
    waiters_[key].push_back(HttpServer::defer());
    ++waiting_;
    wake_.notify_one();
    return Found::parked;
  }

  // Tiles not yet begun are given up (their requests answered again, to be refused); the one being drawn
  // is finished.
  void stop() {
    std::vector<Deferral> cancelled;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) {
        return;
      }
      stopping_ = true;
      for (const TileKey& key : queue_) {
        for (const Deferral& d : waiters_[key]) {
          cancelled.push_back(d);
        }
        waiting_ -= static_cast<long long>(waiters_[key].size());
        waiters_.erase(key);
      }
      queue_.clear();
    }
    wake_.notify_one();
    for (const Deferral& d : cancelled) {
      d.resume(nullptr);
    }
  }

  long long renders() const { return renders_.load(); }
  long long waiting() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return waiting_;
  }

 private:
  void run() {
    for (;;) {
      TileKey key{};
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
          return;
        }
        key = queue_.front();
        queue_.pop_front();
      }
      if (before_drawing_) {
        before_drawing_();
      }
      const std::shared_ptr<const Tile> tile = draw_tile(key);
      std::vector<Deferral> waiting;
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        waiting.swap(waiters_[key]);
        waiters_.erase(key);
        waiting_ -= static_cast<long long>(waiting.size());
        if (!tile->png.empty()) {
          keep(key, tile);
        }
      }
      renders_.fetch_add(1);
      for (const Deferral& d : waiting) {
        d.resume(tile);
      }
    }
  }

  std::shared_ptr<const Tile> draw_tile(const TileKey& key) const {
    auto drawn = std::make_shared<Tile>();
    try {
      const Window window = tile(key.level, key.column, key.row, key.x0());
      std::vector<std::uint8_t> rgb;
      std::atomic<int> rows_done{0};
      draw(window, rgb, threads_, rows_done);
      if (!encode_png(drawn->png, rgb.data(), tile_size, tile_size)) {
        drawn->png.clear();
      }
    } catch (const std::bad_alloc&) {
      drawn->png.clear();
    }
    return drawn;
  }

  // What a tile takes of the budget: its bytes, and a guess at the bookkeeping around it.
  static std::size_t footprint(const Tile& tile) { return tile.png.size() + 256; }

  // Into memory, with the least recently used tiles leaving to stay within the budget.
  void keep(const TileKey& key, const std::shared_ptr<const Tile>& tile) {
    const std::size_t size = footprint(*tile);
    if (size > budget_) {
      return;
    }
    lru_.emplace_front(key, tile);
    index_[key] = lru_.begin();
    bytes_ += size;
    while (bytes_ > budget_) {
      bytes_ -= footprint(*lru_.back().second);
      index_.erase(lru_.back().first);
      lru_.pop_back();
    }
  }

  const int threads_;
  const std::size_t budget_;
  const std::size_t waiting_limit_;
  const std::function<void()> before_drawing_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::list<std::pair<TileKey, std::shared_ptr<const Tile>>> lru_;  // most recently used first
  std::unordered_map<TileKey, decltype(lru_)::iterator, TileKeyHash> index_;
  std::size_t bytes_ = 0;
  std::deque<TileKey> queue_;
  std::unordered_map<TileKey, std::vector<Deferral>, TileKeyHash> waiters_;
  long long waiting_ = 0;  // requests in waiters_
  std::atomic<long long> renders_{0};
  std::thread drawer_;  // last: it starts once everything above is ready
};

void append_number(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  // 17 significant digits give back the same double, so the page can show the point exactly.
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.17g", v);
  out += text.data();
}

void append_pair(std::string& out, complex z) {
  out += '[';
  append_number(out, z.real());
  out += ',';
  append_number(out, z.imag());
  out += ']';
}

void append_string(std::string& out, const std::string& text) {
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (static_cast<unsigned char>(c) < 0x20) {
      std::array<char, 8> escape{};
      std::snprintf(escape.data(), escape.size(), "\\u%04x", static_cast<unsigned>(c));
      out += escape.data();
    } else {
      out += c;
    }
  }
  out += '"';
}

// The report as muller prints it, with its status and the points the page draws.
std::string report_json(complex x0, complex x1) {
  std::ostringstream text;
  const int status = muller(text, x0, x1);
  std::string points;
  search(x0, x1, [&](int k, complex x, complex fx) {
    points += points.empty() ? "" : ",";
    points += "{\"k\":" + std::to_string(k) + ",\"x\":";
    append_pair(points, x);
    points += ",\"f\":";
    append_pair(points, fx);
    points += '}';
  });
  std::string json = "{\"x0\":";
  append_pair(json, x0);
  json += ",\"x1\":";
  append_pair(json, x1);
  json += ",\"status\":" + std::to_string(status) + ",\"report\":";
  append_string(json, text.str());
  json += ",\"points\":[" + points + "]}\n";
  return json;
}

std::string css_colour(End end) {
  const std::array<std::uint8_t, 3> c = colour({end, 1});
  return "rgb(" + std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]) + ")";
}

void replace_all(std::string& text, const std::string& token, const std::string& value) {
  for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size())) {
    text.replace(at, token.size(), value);
  }
}

struct Asset {
  std::string body;
  const char* type;
  std::string etag;
};

Asset asset(const Embedded& file, const char* type) {
  Asset a{std::string(reinterpret_cast<const char*>(file.data), file.size), type, ""};
  std::uint64_t h = fnv_basis;
  for (const char c : a.body) {
    h = fnv_step(h, static_cast<unsigned char>(c));
  }
  std::array<char, 40> tag{};
  std::snprintf(tag.data(), tag.size(), "\"%016llx\"", static_cast<unsigned long long>(h));
  a.etag = tag.data();
  return a;
}

bool not_modified(const Request& req, const std::string& etag) {
  const std::string& wanted = req.get_header_value("If-None-Match");
  return !wanted.empty() && (wanted == "*" || wanted.find(etag) != std::string::npos);
}

}  // namespace

struct Explorer::Service {
  explicit Service(const ExplorerSettings& settings)
      : server(settings.loops, HttpLimits{}),
        tiles(settings.threads, settings.cache_bytes, settings.waiting_tiles, settings.before_drawing) {
    // The page learns the version for its tile URLs, the deepest level and the colours of its legend from
    // the program itself, so that none of them is written twice.
    Asset page = asset(web_index_html, "text/html; charset=utf-8");
    replace_all(page.body, "@VERSION@", MULLER_VERSION);
    replace_all(page.body, "@DEEPEST_LEVEL@", std::to_string(deepest_level));
    replace_all(page.body, "@UPPER_RIGHT@", css_colour(End::upper_right));
    replace_all(page.body, "@UPPER_LEFT@", css_colour(End::upper_left));
    replace_all(page.body, "@LOWER_LEFT@", css_colour(End::lower_left));
    replace_all(page.body, "@LOWER_RIGHT@", css_colour(End::lower_right));
    page = asset({reinterpret_cast<const unsigned char*>(page.body.data()), page.body.size()}, page.type);
    assets.emplace("/", page);
    assets.emplace("/explorer.js", asset(web_explorer_js, "text/javascript; charset=utf-8"));
    assets.emplace("/leaflet/leaflet.js", asset(leaflet_js, "text/javascript; charset=utf-8"));
    assets.emplace("/leaflet/leaflet.css", asset(leaflet_css, "text/css; charset=utf-8"));

    server.set_pre_routing_handler([this](const Request& req, Response& res) {
      route(req, res);
      return httplib::Server::HandlerResponse::Handled;
    });
    // For what cpp-httplib refuses itself, before any route.
    server.set_error_handler(httplib::Server::HandlerWithResponse([](const Request& /*req*/, Response& res) {
      if (!res.body.empty()) {
        return httplib::Server::HandlerResponse::Unhandled;
      }
      const char* const line = res.status == 414   ? "la direccion de la peticion es demasiado larga\n"
                               : res.status == 416 ? "rango no valido\n"
                               : res.status < 500  ? "peticion mal formada\n"
                                                   : "error interno\n";
      res.set_content(line, text_type);
      return httplib::Server::HandlerResponse::Handled;
    }));
  }

  void route(const Request& req, Response& res) {
    if (req.method != "GET" && req.method != "HEAD") {
      res.set_header("Allow", "GET, HEAD");
      refuse(res, 405, "solo se admiten GET y HEAD");
      return;
    }
    const auto found = assets.find(req.path);
    if (found != assets.end()) {
      serve_asset(req, res, found->second);
    } else if (req.path.compare(0, 6, "/tile/") == 0) {
      serve_tile(req, res);
    } else if (req.path == "/report") {
      serve_report(req, res);
    } else {
      refuse(res, 404, "no existe " + cli::echo(req.path));
    }
  }

  static void serve_asset(const Request& req, Response& res, const Asset& a) {
    // Revalidated on every use, so that a new version of the program shows at once.
    res.set_header("Cache-Control", "no-cache");
    res.set_header("ETag", a.etag);
    if (not_modified(req, a.etag)) {
      res.status = 304;
      return;
    }
    res.set_content(a.body, a.type);
  }

  void serve_tile(const Request& req, Response& res) {
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
      refuse(res, 404, "no existe " + cli::echo(req.path));
      return;
    }
    if (level > deepest_level) {
      refuse(res, 404,
             "no hay nivel " + std::to_string(level) + ": el mas profundo es el " +
                 std::to_string(deepest_level) + ", donde la doble precision aun separa los pixeles");
      return;
    }
    const long long side = 1LL << level;
    if (column >= side || row >= side) {
      refuse(
          res, 400,
          "el nivel " + std::to_string(level) + " tiene columnas y filas de 0 a " + std::to_string(side - 1));
      return;
    }
    complex x0 = 0;
    std::string problem;
    if (req.has_param("x0") && !parse_point(req, "x0", x0, problem)) {
      refuse(res, 400, problem);
      return;
    }
    const TileKey key{static_cast<int>(level), column, row, bits(x0.real()), bits(x0.imag())};
    // The tag names the tile and the version that drew it: it holds without drawing the tile.
    std::array<char, 160> tag{};
    std::snprintf(tag.data(), tag.size(), "\"%s-%lld-%lld-%lld-%016llx-%016llx\"", MULLER_VERSION, level,
                  column, row, static_cast<unsigned long long>(key.x0_re),
                  static_cast<unsigned long long>(key.x0_im));
    if (not_modified(req, tag.data())) {
      res.status = 304;
      res.set_header("ETag", tag.data());
      res.set_header("Cache-Control", "public, max-age=31536000, immutable");
      return;
    }
    std::shared_ptr<const Tile> tile = std::static_pointer_cast<const Tile>(HttpServer::held());
    if (tile == nullptr) {
      switch (tiles.find(key, tile)) {
        case Tiles::Found::ready:
          break;
        case Tiles::Found::parked:
          return;  // answered again once drawn
        case Tiles::Found::busy:
          res.set_header("Retry-After", "1");
          refuse(res, 503,
                 server.stopping() ? "el servidor se esta deteniendo"
                                   : "demasiadas teselas en espera de dibujarse");
          return;
      }
    }
    if (tile->png.empty()) {
      refuse(res, 500, "no hay memoria para dibujar la tesela");
      return;
    }
    res.set_header("Cache-Control", "public, max-age=31536000, immutable");
    res.set_header("ETag", tag.data());
    res.set_content(tile->png, "image/png");
  }

  static void serve_report(const Request& req, Response& res) {
    complex x0 = 0;
    complex x1 = 0;
    std::string problem;
    if (!req.has_param("x1")) {
      refuse(res, 400, "falta x1, el segundo punto de partida (RE,IM)");
      return;
    }
    if ((req.has_param("x0") && !parse_point(req, "x0", x0, problem)) ||
        !parse_point(req, "x1", x1, problem)) {
      refuse(res, 400, problem);
      return;
    }
    res.set_header("Cache-Control", "public, max-age=86400");
    res.set_content(report_json(x0, x1), "application/json");
  }

  HttpServer server;
  Tiles tiles;  // after the server: it is stopped and joined first, while the loops it resumes still exist
  std::unordered_map<std::string, Asset> assets;
};

Explorer::Explorer(const ExplorerSettings& settings) : service_(std::make_unique<Service>(settings)) {}

Explorer::~Explorer() = default;

std::string Explorer::bind(const std::string& host, int port) { return service_->server.bind(host, port); }

int Explorer::port() const { return service_->server.port(); }

void Explorer::serve() { service_->server.serve(); }

void Explorer::stop() {
  service_->tiles.stop();
  service_->server.shutdown();
}

long long Explorer::renders() const { return service_->tiles.renders(); }

long long Explorer::waiting() const { return service_->tiles.waiting(); }
