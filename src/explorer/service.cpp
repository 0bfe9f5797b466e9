// The explorer's web service: routes, the checks on every parameter, the tiles' memory cache with one
// drawing per tile however many ask for it, and the queue of tiles waiting to be drawn.
#include "explorer/service.hpp"

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

#include "cli/options.hpp"
#include "explorer/web_files.hpp"
#include "http/server.hpp"
#include "map/draw.hpp"
#include "map/palette.hpp"
#include "map/png.hpp"
#include "report/report.hpp"
#include "search/polynomial.hpp"
#include "search/roots.hpp"
#include "search/search.hpp"

using namespace muller::map;     // NOLINT(google-build-using-namespace)
using namespace muller::report;  // NOLINT(google-build-using-namespace)
using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

using complex = std::complex<double>;
// A point as a request gives it, "RE,IM", each part a finite decimal number by the rule the programs'
// options follow: no spaces, no hexadecimal, no words such as inf or nan.
bool parse_point(const std::string& text, const char* name, complex& z, std::string& problem) {
  const cli::Checked<complex> point = cli::point(text);
  if (!point.problem.empty()) {
    problem = std::string(name) + " " + point.problem;
    return false;
  }
  z = point.value;
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

// The polynomial a request names: "c=" with its coefficients or "r=" with its roots, each list in its
// canonical text (polynomial.hpp), so that one polynomial has one URL and one tile in the cache; no
// parameter, or z^4 + 1's own coefficients, is z^4 + 1. Its key is "c=..." or "r=..." as written, and
// empty for z^4 + 1, whose tiles keep the URLs, tags and bytes they had before any other was drawn.
struct Asked {
  std::string key;
  Polynomial p;  // when key is not empty; its roots and classes are found only where they are needed
};

bool parse_polynomial_param(const HttpRequest& req, Asked& asked, std::string& problem) {
  const std::string* c = req.param("c");
  const std::string* r = req.param("r");
  if (c != nullptr && r != nullptr) {
    problem = "se da el polinomio por c= (coeficientes) o por r= (raices), no por los dos";
    return false;
  }
  if (c == nullptr && r == nullptr) {
    return true;
  }
  const std::string& text = c != nullptr ? *c : *r;
  const char* name = c != nullptr ? "c" : "r";
  const cli::Checked<Polynomial> p = c != nullptr ? parse_coefficients(text) : parse_roots(text);
  if (!p.problem.empty()) {
    problem = std::string(name) + " " + p.problem;
    return false;
  }
  const std::string written = canonical(p.value);
  if (written != text) {
    problem = std::string(name) + " debe escribirse " + name + "=" + written + ", no " + cli::echo(text);
    return false;
  }
  if (c != nullptr && written == canonical(default_polynomial())) {
    return true;
  }
  asked.key = std::string(name) + "=" + written;
  asked.p = p.value;
  return true;
}

// The polynomial of a key that parse_polynomial_param made.
std::shared_ptr<const MapPolynomial> polynomial_of(const std::string& key) {
  if (key.empty()) {
    return nullptr;
  }
  const std::string text = key.substr(2);
  const cli::Checked<Polynomial> p = key[0] == 'c' ? parse_coefficients(text) : parse_roots(text);
  return std::make_shared<const MapPolynomial>(map_polynomial(p.value));
}

struct TileKey {
  int level;
  long long column;
  long long row;
  std::uint64_t x0_re;  // the bits of x0's parts, so that -0 and 0 are told apart as the search tells them
  std::uint64_t x0_im;
  std::string polynomial;  // Asked::key
  bool operator==(const TileKey& o) const {
    return level == o.level && column == o.column && row == o.row && x0_re == o.x0_re && x0_im == o.x0_im &&
           polynomial == o.polynomial;
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
    for (const char c : k.polynomial) {
      h = fnv_step(h, static_cast<unsigned char>(c));
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

// What a request parked for a tile is given once the tile is drawn, or null if it will not be.
using Waiter = std::function<void(std::shared_ptr<const Tile>)>;

// Drawn tiles in memory, and the tiles being or waiting to be drawn with the requests that wait for
// them. One thread draws, one tile at a time with every drawing thread: a tile then comes as soon as
// it can, and the next one in line is not slowed by the others.
class Tiles {
 public:
  explicit Tiles(const ExplorerSettings& s)
      : threads_(s.threads),
        budget_(s.cache_bytes),
        waiting_limit_(s.waiting_tiles),
        before_drawing_(s.before_drawing),
        draw_instead_(s.draw_instead),
        drawer_([this] { run(); }) {}
  ~Tiles() {
    stop();
    drawer_.join();
  }
  Tiles(const Tiles&) = delete;
  Tiles& operator=(const Tiles&) = delete;

  enum class Found { ready, parked, busy };

  // The tile if it is in memory, or null.
  std::shared_ptr<const Tile> cached(const TileKey& key) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = index_.find(key);
    if (found == index_.end()) {
      return nullptr;
    }
    lru_.splice(lru_.begin(), lru_, found->second);
    return found->second->second;
  }

  // The tile if it is in memory; else the waiter is kept until the tile is drawn; busy when too many
  // tiles wait already, or the service is stopping.
  Found find(const TileKey& key, std::shared_ptr<const Tile>& tile, const Waiter& waiter) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto cached = index_.find(key);
    if (cached != index_.end()) {
      tile = cached->second->second;
      return Found::ready;
    }
    const auto drawing = waiters_.find(key);
    if (drawing != waiters_.end()) {
      drawing->second.push_back(waiter);
      ++waiting_;
      return Found::parked;
    }
    if (stopping_ || queue_.size() >= waiting_limit_) {
      return Found::busy;
    }
    queue_.push_back(key);
    waiters_[key].push_back(waiter);
    ++waiting_;
    wake_.notify_one();
    return Found::parked;
  }

  // Tiles not yet begun are given up (their requests refused); the one being drawn is finished.
  void stop() {
    std::vector<Waiter> cancelled;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) {
        return;
      }
      stopping_ = true;
      for (const TileKey& key : queue_) {
        for (const Waiter& w : waiters_[key]) {
          cancelled.push_back(w);
        }
        waiting_ -= static_cast<long long>(waiters_[key].size());
        waiters_.erase(key);
      }
      queue_.clear();
    }
    wake_.notify_one();
    for (const Waiter& w : cancelled) {
      w(nullptr);
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
      std::vector<Waiter> waiting;
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
      for (const Waiter& w : waiting) {
        w(tile);
      }
    }
  }

  std::shared_ptr<const Tile> draw_tile(const TileKey& key) const {
    auto drawn = std::make_shared<Tile>();
    try {
      if (draw_instead_) {
        drawn->png = draw_instead_();
        return drawn;
      }
      Window window = tile(key.level, key.column, key.row, key.x0());
      window.polynomial = polynomial_of(key.polynomial);
      std::vector<std::uint8_t> rgb;
      std::atomic<int> rows_done{0};
      draw(window, rgb, threads_, rows_done);
      if (!encode_png(drawn->png, rgb.data(), tile_size, tile_size)) {
        drawn->png.clear();
      }
      drawn->png.shrink_to_fit();  // kept for long: the encoder's spare capacity would count for nothing
    } catch (const std::bad_alloc&) {
      drawn->png.clear();
    }
    return drawn;
  }

  // What a tile takes of the budget: each of its allocations as the allocator rounds it (a 16-byte header
  // and alignment, 32 bytes at least): its bytes, the shared Tile with its count, the list's node, the
  // index's node and its bucket.
  static std::size_t footprint(const TileKey& key, const Tile& tile) {
    const auto allocated = [](std::size_t n) { return std::max<std::size_t>(32, (n + 8 + 15) / 16 * 16); };
    using Node = std::pair<TileKey, std::shared_ptr<const Tile>>;
    // The key is kept twice, in the list and in the index; a long polynomial's text is allocated.
    const std::size_t text =
        key.polynomial.capacity() > std::string().capacity() ? allocated(key.polynomial.capacity() + 1) : 0;
    return 2 * text + allocated(tile.png.capacity() + 1) + allocated(sizeof(Tile) + 16) +
           allocated(sizeof(Node) + 16) + allocated(sizeof(TileKey) + 3 * sizeof(void*)) + sizeof(void*);
  }

  // Into memory, with the least recently used tiles leaving to stay within the budget.
  void keep(const TileKey& key, const std::shared_ptr<const Tile>& tile) {
    const std::size_t size = footprint(key, *tile);
    if (size > budget_) {
      return;
    }
    lru_.emplace_front(key, tile);
    index_[key] = lru_.begin();
    bytes_ += size;
    while (bytes_ > budget_) {
      bytes_ -= footprint(lru_.back().first, *lru_.back().second);
      index_.erase(lru_.back().first);
      lru_.pop_back();
    }
  }

  const int threads_;
  const std::size_t budget_;
  const std::size_t waiting_limit_;
  const std::function<void()> before_drawing_;
  const std::function<std::string()> draw_instead_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::list<std::pair<TileKey, std::shared_ptr<const Tile>>> lru_;  // most recently used first
  std::unordered_map<TileKey, decltype(lru_)::iterator, TileKeyHash> index_;
  std::size_t bytes_ = 0;
  std::deque<TileKey> queue_;
  std::unordered_map<TileKey, std::vector<Waiter>, TileKeyHash> waiters_;
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

// The search over p (z^4 + 1 by f when null) from x0 and x1: the report as muller prints it, with its
// status and the points the page draws.
std::string report_json(const Polynomial* p, complex x0, complex x1) {
  const auto over = [p](complex z) { return p != nullptr ? evaluate(*p, z) : f(z); };
  std::ostringstream text;
  const int status = muller_over(text, over, x0, x1);
  std::string points;
  search_over(over, x0, x1, [&](int k, complex x, complex fx) {
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

std::string css_colour(Outcome o, int classes) {
  const std::array<std::uint8_t, 3> c = colour(o, classes);
  return "rgb(" + std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]) + ")";
}

// The classes of p's roots in their order, each with its colour on the map (at each row count of the
// shading's key), its point as the summary names it and its roots, numbered from 1 in the order they
// were found or given: what the page's legend and markers show.
std::string roots_json(const std::string& key, const MapPolynomial& p) {
  const auto count = static_cast<int>(p.classes.centres.size());
  std::string json = "{\"polynomial\":";
  append_string(json, key);
  json += ",\"degree\":" + std::to_string(p.p.degree()) + ",\"shade_rows\":[";
  for (std::size_t r = 0; r < std::size(shade_rows); ++r) {
    json += (r == 0 ? "" : ",") + std::to_string(shade_rows[r]);
  }
  json += "],\"none\":";
  append_string(json, css_colour({End::gave_up, 1}, count));
  json += ",\"classes\":[";
  for (int k = 0; k < count; ++k) {
    json += k == 0 ? "{\"colour\":" : ",{\"colour\":";
    append_string(json, css_colour({zero_class(k), 1}, count));
    json += ",\"shades\":[";
    for (std::size_t r = 0; r < std::size(shade_rows); ++r) {
      json += r == 0 ? "" : ",";
      append_string(json, css_colour({zero_class(k), shade_rows[r]}, count));
    }
    json += "],\"label\":";
    append_string(json, class_label(p.classes.centres[static_cast<std::size_t>(k)]));
    json += ",\"centre\":";
    append_pair(json, p.classes.centres[static_cast<std::size_t>(k)]);
    json += ",\"roots\":[";
    bool first = true;
    for (std::size_t j = 0; j < p.classes.roots.size(); ++j) {
      if (p.classes.class_of[j] == k) {
        json += first ? "{\"n\":" : ",{\"n\":";
        json += std::to_string(j + 1) + ",\"z\":";
        append_pair(json, p.classes.roots[j]);
        json += '}';
        first = false;
      }
    }
    json += "]}";
  }
  json += "]}\n";
  return json;
}

void replace_all(std::string& text, const std::string& token, const std::string& value) {
  for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size())) {
    text.replace(at, token.size(), value);
  }
}

struct Asset {
  std::shared_ptr<const std::string> body;
  const char* type;
  std::string etag;
};

Asset asset(std::string body, const char* type) {
  Asset a{std::make_shared<const std::string>(std::move(body)), type, ""};
  std::uint64_t h = fnv_basis;
  for (const char c : *a.body) {
    h = fnv_step(h, static_cast<unsigned char>(c));
  }
  std::array<char, 40> tag{};
  std::snprintf(tag.data(), tag.size(), "\"%016llx\"", static_cast<unsigned long long>(h));
  a.etag = tag.data();
  return a;
}

// The media type a file is served with, by its name's ending.
const char* media_type(const std::string& path) {
  static const struct {
    const char* ending;
    const char* type;
  } types[] = {{".html", "text/html; charset=utf-8"},
               {".js", "text/javascript; charset=utf-8"},
               {".css", "text/css; charset=utf-8"},
               {".json", "application/json"},
               {".png", "image/png"},
               {".svg", "image/svg+xml"}};
  for (const auto& t : types) {
    const std::size_t n = std::strlen(t.ending);
    if (path.size() > n && path.compare(path.size() - n, n, t.ending) == 0) {
      return t.type;
    }
  }
  return "application/octet-stream";
}

bool not_modified(const HttpRequest& req, const std::string& etag) {
  const std::string& wanted = req.if_none_match;
  return !wanted.empty() && (wanted == "*" || wanted.find(etag) != std::string::npos);
}

}  // namespace

struct Explorer::Service {
  explicit Service(const ExplorerSettings& settings)
      : server(settings.loops, HttpLimits{},
               [this](const HttpRequest& req, const Respond& respond) { route(req, respond); }),
        tiles(settings) {
    // The page learns the version for its tile URLs and the deepest level from the program itself, so
    // that neither is written twice; every other file is served as it is.
    for (std::size_t k = 0; k < web_file_count; ++k) {
      const WebFile& file = *web_files[k];
      std::string body(reinterpret_cast<const char*>(file.data), file.size);
      const std::string path = file.path;
      if (path == "index.html") {
        replace_all(body, "@VERSION@", MULLER_VERSION);
        replace_all(body, "@DEEPEST_LEVEL@", std::to_string(deepest_level));
        replace_all(body, "@UPPER_RIGHT@", css_colour({End::upper_right, 1}, 4));
        replace_all(body, "@UPPER_LEFT@", css_colour({End::upper_left, 1}, 4));
        replace_all(body, "@LOWER_LEFT@", css_colour({End::lower_left, 1}, 4));
        replace_all(body, "@LOWER_RIGHT@", css_colour({End::lower_right, 1}, 4));
        assets.emplace("/", asset(std::move(body), "text/html; charset=utf-8"));
      } else {
        assets.emplace("/" + path, asset(std::move(body), media_type(path)));
      }
    }
  }

  void route(const HttpRequest& req, const Respond& respond) {
    if (req.method != "GET" && !req.head) {
      HttpResponse r = refusal(405, "solo se admiten GET y HEAD");
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
      respond(refusal(404, "no existe " + cli::echo(req.path)));
    }
  }

  static HttpResponse serve_asset(const HttpRequest& req, const Asset& a) {
    HttpResponse r;
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

  void serve_tile(const HttpRequest& req, const Respond& respond) {
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
      respond(refusal(404, "no existe " + cli::echo(req.path)));
      return;
    }
    if (level > deepest_level) {
      // The level as asked for, however large (the number read is held at 2^62), cut as long values are.
      std::string asked = rest.substr(0, slash1);
      asked.erase(0, std::min(asked.find_first_not_of('0'), asked.size() - 1));
      if (asked.size() > 40) {
        asked = asked.substr(0, 40) + "...";
      }
      respond(refusal(404, "no hay nivel " + asked + ": el mas profundo es el " +
                               std::to_string(deepest_level) +
                               ", donde la doble precision aun separa los pixeles"));
      return;
    }
    const long long side = 1LL << level;
    if (column >= side || row >= side) {
      respond(refusal(400, "el nivel " + std::to_string(level) + " tiene columnas y filas de 0 a " +
                               std::to_string(side - 1)));
      return;
    }
    complex x0 = 0;
    std::string problem;
    const std::string* x0_text = req.param("x0");
    if (x0_text != nullptr && !parse_point(*x0_text, "x0", x0, problem)) {
      respond(refusal(400, problem));
      return;
    }
    Asked asked;
    if (!parse_polynomial_param(req, asked, problem)) {
      respond(refusal(400, problem));
      return;
    }
    const TileKey key{static_cast<int>(level), column, row, bits(x0.real()), bits(x0.imag()), asked.key};
    // The tag names the tile and the version that drew it: it holds without drawing the tile. The
    // polynomial's canonical text (digits and , ; . - + e only) follows, when it is not z^4 + 1.
    std::array<char, 160> head{};
    std::snprintf(head.data(), head.size(), "\"%s-%lld-%lld-%lld-%016llx-%016llx", MULLER_VERSION, level,
                  column, row, static_cast<unsigned long long>(key.x0_re),
                  static_cast<unsigned long long>(key.x0_im));
    const std::string tag = head.data() + (asked.key.empty() ? "" : "-" + asked.key) + "\"";
    HttpResponse r;
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
    switch (tiles.find(key, tile, answer)) {
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
  HttpResponse tile_answer(const std::shared_ptr<const Tile>& tile, HttpResponse r) const {
    if (tile == nullptr) {
      HttpResponse busy = refusal(503, server.stopping() ? "el servidor se esta deteniendo"
                                                         : "demasiadas teselas en espera de dibujarse");
      busy.headers.emplace_back("Retry-After", "1");
      return busy;
    }
    if (tile->png.empty()) {
      return refusal(500, "no hay memoria para dibujar la tesela");
    }
    r.body = std::shared_ptr<const std::string>(tile, &tile->png);
    return r;
  }

  static HttpResponse serve_report(const HttpRequest& req) {
    complex x0 = 0;
    complex x1 = 0;
    std::string problem;
    const std::string* x0_text = req.param("x0");
    const std::string* x1_text = req.param("x1");
    if (x1_text == nullptr) {
      return refusal(400, "falta x1, el segundo punto de partida (RE,IM)");
    }
    Asked asked;
    if ((x0_text != nullptr && !parse_point(*x0_text, "x0", x0, problem)) ||
        !parse_point(*x1_text, "x1", x1, problem) || !parse_polynomial_param(req, asked, problem)) {
      return refusal(400, problem);
    }
    return json_answer(report_json(asked.key.empty() ? nullptr : &asked.p, x0, x1));
  }

  static HttpResponse serve_roots(const HttpRequest& req) {
    Asked asked;
    std::string problem;
    if (!parse_polynomial_param(req, asked, problem)) {
      return refusal(400, problem);
    }
    return json_answer(
        roots_json(asked.key, map_polynomial(asked.key.empty() ? default_polynomial() : asked.p)));
  }

  static HttpResponse json_answer(std::string json) {
    HttpResponse r;
    r.type = "application/json";
    r.headers = {{"Cache-Control", "public, max-age=86400"}};
    r.body = std::make_shared<const std::string>(std::move(json));
    return r;
  }

  HttpServer server;
  Tiles tiles;  // after the server: it is stopped and joined first, while the sessions it answers still exist
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
