// The explorer's service run in this process, on a free port of 127.0.0.1: what each request gets, the
// one address of each polynomial, the tiles' pixels, the reports and the roots.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cli/polynomial_text.hpp"
#include "decode_png.hpp"
#include "explorer/service.hpp"
#include "explorer_running.hpp"
#include "http_client.hpp"
#include "map/draw.hpp"
#include "map/palette.hpp"
#include "report/report.hpp"
#include "search/polynomial.hpp"
#include "support.hpp"

namespace cli = muller::cli;
using muller::cli::canonical;         // NOLINT(misc-unused-using-decls)
using muller::cli::parse_polynomial;  // NOLINT(misc-unused-using-decls)

using muller::explorer::Explorer;          // NOLINT(misc-unused-using-decls)
using muller::explorer::ExplorerSettings;  // NOLINT(misc-unused-using-decls)
using namespace muller::map;               // NOLINT(google-build-using-namespace)
using namespace muller::report;            // NOLINT(google-build-using-namespace)
using namespace muller::search;            // NOLINT(google-build-using-namespace)

namespace {

const char* const text = "text/plain; charset=utf-8";

TEST(Explorer, AnswersEachRequestWithItsStatus) {
  const struct {
    const char* method;
    std::string target;
    int status;
    const char* type;
  } cases[] = {
      {"GET", "/", 200, "text/html; charset=utf-8"},
      {"HEAD", "/", 200, "text/html; charset=utf-8"},
      {"GET", "/explorer.js", 200, "text/javascript; charset=utf-8"},
      {"GET", "/polynomial.js", 200, "text/javascript; charset=utf-8"},
      {"GET", "/leaflet/leaflet.js", 200, "text/javascript; charset=utf-8"},
      {"GET", "/leaflet/leaflet.css", 200, "text/css; charset=utf-8"},
      {"GET", "/tile/0/0/0.png", 200, "image/png"},
      {"HEAD", "/tile/1/1/0.png", 200, "image/png"},
      {"GET", "/tile/1/0/1.png?x0=0.5,-.25e1&v=1", 200, "image/png"},
      {"GET", "/tile/45/35184372088831/0.png", 200, "image/png"},  // the last column of the deepest level
      {"GET", "/report?x1=1,1", 200, "application/json"},
      {"GET", "/report?x0=-0,1e-3&x1=2,-3", 200, "application/json"},
      {"GET", "/tile/0/0/0.png?c=1;0;0;-1", 200, "image/png"},
      {"GET", "/tile/1/0/1.png?r=1;-1;0,1&x0=0.5,0", 200, "image/png"},
      {"GET", "/report?x1=1,1&c=0,1;-2.5,0.001", 200, "application/json"},
      {"GET", "/roots", 200, "application/json"},
      {"GET", "/roots?r=1", 200, "application/json"},
      {"GET", "/tile/0/0/0.png?c=1;0;0;-1&r=1", 400, text},
      {"GET", "/tile/0/0/0.png?c=1;0;0;-1.0", 301, text},  // not canonical: sent to its one address
      {"GET", "/tile/0/0/0.png?c=1;-0", 301, text},
      {"GET", "/tile/0/0/0.png?c=1,0;2", 301, text},
      {"GET", "/roots?c=1;1e+21", 301, text},  // the '+' read as written, though a space in a query
      {"GET", "/roots?c=1;1e21", 200, "application/json"},
      {"GET", "/roots?c=1%3B0%3B-1", 301, text},
      {"GET", "/roots?c=%31;0;-1", 301, text},
      {"GET", "/roots?c=1;0;-1&c=anything", 400, text},  // a key given twice
      {"GET", "/roots?C=1;0;-1", 400, text},             // keys the route does not take
      {"GET", "/roots?c%3D1;0;-1", 400, text},
      {"GET", "/report?x1=1,1&X0=0,0", 400, text},
      {"GET", "/tile/0/0/0.png?c=%FF;1", 400, text},  // not UTF-8, escaped in the answer
      {"GET", "/roots?c=1e-300;1e300", 400, text},    // a root past the largest double
      {"GET", "/roots?r=1.7976931348623157e308;1.7976931348623157e308", 200, "application/json"},
      {"GET", "/tile/0/0/0.png?c=0;1", 400, text},
      {"GET", "/tile/0/0/0.png?c=1", 400, text},
      {"GET", "/tile/0/0/0.png?c=", 400, text},
      {"GET", "/tile/0/0/0.png?r=1;;2", 400, text},
      {"GET", "/tile/0/0/0.png?r=1e999", 400, text},
      {"GET", "/report?x1=1,1&c=z^2", 400, text},
      {"GET", "/roots?r=1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21", 400, text},
      {"GET", "/tile/46/0/0.png", 404, text},
      {"GET", "/tile/100000000000000000000000/0/0.png", 404, text},
      {"GET", "/tile/1/2/0.png", 400, text},
      {"GET", "/tile/1/0/2.png", 400, text},
      {"GET", "/tile/45/35184372088832/0.png", 400, text},
      {"GET", "/tile/a/0/0.png", 404, text},
      {"GET", "/tile/-1/0/0.png", 404, text},
      {"GET", "/tile/1/+1/0.png", 404, text},
      {"GET", "/tile/1/0/0", 404, text},
      {"GET", "/tile/1/0/0.png/", 404, text},
      {"GET", "/tile/0/0/0.png?x0=", 400, text},
      {"GET", "/tile/0/0/0.png?x0=1", 400, text},
      {"GET", "/tile/0/0/0.png?x0=1,2,3", 400, text},
      {"GET", "/tile/0/0/0.png?x0=0x1,0", 400, text},
      {"GET", "/tile/0/0/0.png?x0=inf,0", 400, text},
      {"GET", "/tile/0/0/0.png?x0=0,nan", 400, text},
      {"GET", "/tile/0/0/0.png?x0=1e999,0", 400, text},
      {"GET", "/tile/0/0/0.png?x0=%201,0", 400, text},
      {"GET", "/report", 400, text},
      {"GET", "/report?x1=1,1&x0=1,", 400, text},
      {"GET", "/report?x1=1;1", 400, text},
      {"GET", "/nothing", 404, text},
      {"GET", "/../etc/passwd", 404, text},
      {"POST", "/", 405, text},
      {"PUT", "/tile/0/0/0.png", 405, text},
      {"DELETE", "/report?x1=1,1", 405, text},
  };
  const Running service;
  for (const auto& c : cases) {
    const std::optional<Reply> r = service.get(c.target, c.method);
    ASSERT_TRUE(r) << c.method << " " << c.target;
    EXPECT_EQ(r->status, c.status) << c.method << " " << c.target << ": " << r->body;
    EXPECT_EQ(r->header("content-type"), c.type) << c.method << " " << c.target;
    if (c.status >= 300) {
      // One line, in the page's language and the server's words, and ASCII whatever was asked.
      EXPECT_EQ(lines_of(r->body).size(), 1u) << r->body;
      EXPECT_EQ(r->body.back(), '\n') << r->body;
      EXPECT_TRUE(std::all_of(r->body.begin(), r->body.end(), [](char b) { return b > 0 && b < 0x7f; }))
          << r->body;
    }
    if (std::string(c.method) == "HEAD") {
      EXPECT_EQ(r->body, "");
      EXPECT_NE(r->header("content-length"), "0");
    }
  }
  EXPECT_EQ(service.reply("/", "POST").header("allow"), "GET, HEAD");
}

TEST(Explorer, TilesCanBeCachedForGoodAndRevalidatedWithoutDrawing) {
  const Running service;
  const std::optional<Reply> first = service.get("/tile/2/1/2.png?x0=0.5,0.5");
  ASSERT_TRUE(first);
  EXPECT_EQ(first->header("cache-control"), "public, max-age=31536000, immutable");
  const std::string tag = first->header("etag");
  EXPECT_NE(tag, "");
  EXPECT_NE(tag, service.reply("/tile/2/1/2.png?x0=0.5,-0.5").header("etag"));
  const std::optional<Reply> again =
      service.get("/tile/2/1/2.png?x0=0.5,0.5", "GET", "If-None-Match: " + tag + "\r\n");
  ASSERT_TRUE(again);
  EXPECT_EQ(again->status, 304);
  EXPECT_EQ(again->body, "");
  const std::optional<Reply> other =
      service.get("/tile/2/2/2.png?x0=0.5,0.5", "GET", "If-None-Match: " + tag + "\r\n");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->status, 200);
  EXPECT_EQ(service.explorer.renders(), 3);
}

TEST(Explorer, TheDefaultTileKeepsItsBytesAndTagUnderItsOwnCoefficients) {
  const Running service;
  const Reply plain = service.reply("/tile/0/0/0.png");
  EXPECT_EQ(plain.header("etag"), "\"" MULLER_VERSION "-0-0-0-0000000000000000-0000000000000000\"");
  const Reply named = service.reply("/tile/0/0/0.png?c=1;0;0;0;1");
  EXPECT_EQ(named.header("etag"), plain.header("etag"));
  EXPECT_TRUE(named.body == plain.body);
  const Reply other = service.reply("/tile/0/0/0.png?c=1;0;0;-1");
  EXPECT_EQ(other.header("etag"),
            "\"" MULLER_VERSION "-0-0-0-0000000000000000-0000000000000000-c=1;0;0;-1\"");
  EXPECT_EQ(service.explorer.renders(), 2);
}

// Every spelling of a polynomial is sent to its one address, relative to the route's own (so that it
// holds under a proxy's prefix), the rest of the query as it was; what names no answer is refused.
TEST(Explorer, SendsEachSpellingOfAPolynomialToItsOneAddress) {
  const Running service;
  const std::pair<const char*, const char*> moved[] = {
      {"/tile/0/0/0.png?c=1.0;0;-1e0", "0.png?c=1;0;-1"},
      {"/tile/2/1/3.png?v=1.0.0&x0=0%2C0&c=1;1e%2B21", "3.png?v=1.0.0&x0=0%2C0&c=1;1e21"},
      {"/report?x1=1,1&%63=%31;0;-1&", "report?x1=1,1&c=1;0;-1"},
      {"/roots?&r=-0,-0;2,0", "roots?r=0;2"},
      {"/roots?c=1;0;0;0;1e0", "roots?c=1;0;0;0;1"}};
  for (const auto& [target, location] : moved) {
    const Reply r = service.reply(target);
    EXPECT_EQ(r.status, 301) << target;
    EXPECT_EQ(r.header("location"), location) << target;
    const std::string path = target;
    const std::string followed = path.substr(0, path.rfind('/', path.find('?')) + 1) + location;
    EXPECT_EQ(service.reply(followed).status, 200) << followed;
  }
  const std::pair<const char*, const char*> refused[] = {
      {"/roots?c=1;0;-1&c=anything", "el parametro c se da mas de una vez: cada uno se da una sola vez\n"},
      {"/tile/0/0/0.png?c%3D1;0;-1", "no se admite el parametro 'c=1;0;-1': /tile admite x0, c, r, m y v\n"},
      {"/report?x1=1,1&C=1", "no se admite el parametro 'C': /report admite x0, x1, c, r, m y v\n"},
      {"/roots?c=%FF;1", "c tiene mal el coeficiente 1: debe ser un numero decimal, no $'\\377'\n"}};
  for (const auto& [target, says] : refused) {
    EXPECT_EQ(service.reply(target).body, says) << target;
  }
}

TEST(Explorer, TilesAreTheMapDrawnForTheirWindowWhateverTheThreadCount) {
  // A degree-20 polynomial written with 16 or 17 digits a part: a URL of over 1,000 characters.
  std::vector<std::complex<double>> long_coefficients;
  for (int k = 0; k <= 20; ++k) {
    long_coefficients.emplace_back(-std::sqrt(k + 2.0) / 3 * 1e-106, std::sqrt(k + 3.0) / 7 * 1e-106);
  }
  const Polynomial degree20 = from_coefficients(long_coefficients);
  const struct {
    int level;
    long long column, row;
    std::complex<double> x0;
    std::string x0_text;
    std::optional<Polynomial> p;
    std::string p_text;
  } cases[] = {{0, 0, 0, 0, "0,0", {}, ""},
               {3, 6, 1, {0.25, -0.5}, "0.25,-0.5", {}, ""},
               {30, 939524096, 858993459, {0.0, -0.0}, "0,-0", {}, ""},
               {0, 0, 0, 0, "0,0", parse_polynomial("z^3 - 1").value, "&c=1;0;0;-1"},
               {2, 1, 2, {0.5, 0}, "0.5,0", from_roots({{1, 1}, {-1, 0}, {-1, 0}}), "&r=1,1;-1;-1"},
               {0, 0, 0, 0, "0,0", degree20, "&c=" + canonical(degree20)}};
  ASSERT_GT(cases[5].p_text.size(), 980u);  // with the path, over 1,000
  const Running one(settings(1, 1 << 20, 64));
  const Running two(settings(2, 1 << 20, 64));
  for (const auto& c : cases) {
    const std::string target = "/tile/" + std::to_string(c.level) + "/" + std::to_string(c.column) + "/" +
                               std::to_string(c.row) + ".png?x0=" + c.x0_text + c.p_text;
    const std::optional<Reply> a = one.get(target);
    const std::optional<Reply> b = two.get(target);
    ASSERT_TRUE(a && b) << target;
    ASSERT_EQ(a->status, 200) << target << ": " << a->body;
    EXPECT_EQ(a->body, b->body) << target;
    std::vector<std::uint8_t> drawn;
    std::atomic<int> rows{0};
    Window window = tile(c.level, c.column, c.row, c.x0);
    if (c.p) {
      window.polynomial = std::make_shared<const MapPolynomial>(map_polynomial(*c.p));
    }
    draw(window, drawn, 1, rows);
    const Decoded decoded = decode_png(a->body);
    EXPECT_EQ(decoded.width, static_cast<unsigned>(tile_size)) << target;
    EXPECT_EQ(decoded.height, static_cast<unsigned>(tile_size)) << target;
    EXPECT_TRUE(decoded.rgb == drawn) << target;
  }
}

// The text of the JSON string that follows "name": in json, with its escapes undone.
std::string json_string(const std::string& json, const std::string& name) {
  std::size_t at = json.find("\"" + name + "\":\"");
  EXPECT_NE(at, std::string::npos) << name;
  std::string value;
  for (at += name.size() + 4; at < json.size() && json[at] != '"'; ++at) {
    if (json[at] == '\\') {
      ++at;
      value += json[at] == 'n' ? '\n' : json[at];
    } else {
      value += json[at];
    }
  }
  return value;
}

TEST(Explorer, ReportsAreWhatMullerPrintsForTheFourStartPairs) {
  const std::vector<std::string> expected = expected_report();
  const char* const x1s[] = {"1,1", "1,-1", "-1,1", "-1,-1"};  // muller's order
  const Running service;
  for (std::size_t k = 0; k < 4; ++k) {
    const std::optional<Reply> r = service.get(std::string("/report?x0=0,0&x1=") + x1s[k]);
    ASSERT_TRUE(r);
    std::string report;
    for (std::size_t line = 11 * k; line < 11 * (k + 1); ++line) {
      report += expected[line] + "\n";
    }
    EXPECT_EQ(json_string(r->body, "report"), report) << x1s[k];
    EXPECT_NE(r->body.find("\"status\":0,"), std::string::npos) << r->body;
    // The eight rows' points, numbered from 1, the first the secant step's (1/4, +-1/4 or so).
    EXPECT_NE(r->body.find("\"points\":[{\"k\":1,\"x\":[" + std::string(k < 2 ? "" : "-") + "0.25,"),
              std::string::npos)
        << r->body;
    EXPECT_NE(r->body.find("{\"k\":8,"), std::string::npos) << r->body;
    EXPECT_EQ(r->body.find("{\"k\":9,"), std::string::npos) << r->body;
  }
  // Equal start points end on NaNs, which JSON writes as null.
  const std::optional<Reply> nan = service.get("/report?x0=1,1&x1=1,1");
  ASSERT_TRUE(nan);
  EXPECT_NE(nan->body.find("\"status\":1,"), std::string::npos) << nan->body;
  EXPECT_NE(nan->body.find("\"x\":[null,null]"), std::string::npos) << nan->body;
}

TEST(Explorer, ReportsAndRootsAreThoseOfTheGivenPolynomial) {
  const Running service;
  const struct {
    std::string query;
    Polynomial p;
  } cases[] = {{"c=1;0;0;-1", parse_polynomial("z^3 - 1").value},
               {"c=0,1;-2.5,0.001;0;3", parse_polynomial("iz^3 - (2.5-1e-3i)z^2 + 3").value},
               {"r=1;-1;0,1", from_roots({{1, 0}, {-1, 0}, {0, 1}})}};
  for (const auto& c : cases) {
    const Reply r = service.reply("/report?x0=0,0&x1=1,1&" + c.query);
    std::ostringstream report;
    muller::report::report_by(report, Method::muller, OfPolynomial{c.p}, {0, 0}, {1, 1});
    EXPECT_EQ(json_string(r.body, "report"), report.str()) << c.query;
    EXPECT_EQ(json_string(service.reply("/roots?" + c.query).body, "polynomial"), c.query);
  }
  // The classes from argument 0, with the map's colours for their number: three for z^3 - 1, whose 1 is
  // found exactly, and eight, past the four hues of z^4 + 1.
  const std::pair<const char*, int> classes[] = {{"c=1;0;0;-1", 3},
                                                 {"r=1;0,1;-1;0,-1;2,2;-2,2;-2,-2;2,-2", 8}};
  for (const auto& [query, count] : classes) {
    const std::string answer = service.reply(std::string("/roots?") + query).body;
    std::size_t at = 0;
    for (int k = 0; k < count; ++k) {
      const std::array<std::uint8_t, 3> rgb = colour({zero_class(k), 1}, count);
      const std::string css = "{\"colour\":\"rgb(" + std::to_string(rgb[0]) + "," + std::to_string(rgb[1]) +
                              "," + std::to_string(rgb[2]) + ")\"";
      at = answer.find(css, at);
      EXPECT_NE(at, std::string::npos) << query << ", class " << k << ": " << answer;
    }
  }
  const std::string roots = service.reply("/roots?c=1;0;0;-1").body;
  EXPECT_NE(roots.find("\"roots\":[{\"n\":1,\"z\":[1,0]}]"), std::string::npos) << roots;
  // The key to the shading and the names, for the page to show rather than compute: orange from full
  // brightness to a quarter of it at 21 rows, and the second class named as the summary names it.
  EXPECT_NE(roots.find("\"shade_rows\":[5,9,13,17,21]"), std::string::npos) << roots;
  EXPECT_NE(
      roots.find("\"shades\":[\"rgb(230,159,0)\",\"rgb(186,129,0)\",\"rgb(143,99,0)\",\"rgb(100,69,0)\","
                 "\"rgb(57,39,0)\"]"),
      std::string::npos)
      << roots;
  EXPECT_NE(roots.find("\"label\":\"(-0.5,0.8660254038)\""), std::string::npos) << roots;
  // Given roots keep their numbers, and the classes their order by argument: i (third) before -1 (second).
  const std::string given = service.reply("/roots?r=1;-1;0,1").body;
  EXPECT_LT(given.find("\"n\":3,\"z\":[0,1]"), given.find("\"n\":2,\"z\":[-1,0]")) << given;
}

// m= names the method: its tiles are its map, its report is muller-search's, named with its order; m=muller
// is no m at all, the same tile and tag.
TEST(Explorer, EachMethodHasItsTilesAndItsReport) {
  const Running service;
  const Reply plain = service.reply("/tile/1/0/1.png");
  const Reply muller_named = service.reply("/tile/1/0/1.png?m=muller");
  EXPECT_EQ(muller_named.body, plain.body);
  EXPECT_EQ(muller_named.header("etag"), plain.header("etag"));
  for (const Method m : {Method::secant, Method::newton, Method::halley}) {
    const std::string key = names(m).key;
    const Reply tile = service.reply("/tile/1/0/1.png?m=" + key);
    ASSERT_EQ(tile.status, 200) << key;
    EXPECT_NE(tile.header("etag"), plain.header("etag")) << key;
    Window window = muller::map::tile(1, 0, 1, 0);
    window.method = m;
    std::vector<std::uint8_t> drawn;
    std::atomic<int> rows{0};
    draw(window, drawn, 1, rows);
    EXPECT_EQ(decode_png(tile.body).rgb, drawn) << key;
    const std::string json = service.reply("/report?x1=1,1&m=" + key).body;
    std::ostringstream report;
    muller::report::report_by(report, m, Z4Plus1{}, 0, {1, 1});
    EXPECT_EQ(json_string(json, "report"), report.str()) << key;
    EXPECT_EQ(json_string(json, "method"), key);
    EXPECT_NE(json.find("\"order\":"), std::string::npos) << json;
  }
  EXPECT_EQ(service.reply("/report?x1=1,1").body.find("\"method\""), std::string::npos);  // today's answer
  EXPECT_EQ(service.reply("/tile/0/0/0.png?m=bisection").status, 400);
}

}  // namespace
