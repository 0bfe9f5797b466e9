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
      {"GET", "/tile/0/0/0.png?c=1;0;0;-1.0", 400, text},  // not canonical
      {"GET", "/tile/0/0/0.png?c=1;-0", 400, text},
      {"GET", "/tile/0/0/0.png?c=1,0;2", 400, text},
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
    if (c.status >= 400) {
      // One line, in the page's language and the server's words.
      EXPECT_EQ(lines_of(r->body).size(), 1u) << r->body;
      EXPECT_EQ(r->body.back(), '\n') << r->body;
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

TEST(Explorer, RefusesANonCanonicalPolynomialNamingItsCanonicalForm) {
  const Running service;
  EXPECT_EQ(service.reply("/tile/0/0/0.png?c=1.0;0;-1e0").body,
            "c debe escribirse c=1;0;-1, no '1.0;0;-1e0'\n");
  EXPECT_NE(service.reply("/roots?r=-0,-0;2,0").body.find("r=0;2,"), std::string::npos);
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
    muller_polynomial(report, c.p, {0, 0}, {1, 1});
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

}  // namespace
