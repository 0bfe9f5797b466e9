// The explorer's JSON answers, written by hand: a handful of fields, numbers that must read back exactly.
#include "explorer/json.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>

#include "map/palette.hpp"
#include "report/report.hpp"
#include "search/methods.hpp"
#include "search/order.hpp"
#include "search/problem.hpp"
#include "search/search.hpp"

namespace muller::explorer {

namespace {

using complex = std::complex<double>;

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

std::string css_colour(map::Outcome o, int classes) {
  const std::array<std::uint8_t, 3> c = map::colour(o, classes);
  return "rgb(" + std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]) + ")";
}

}  // namespace

std::string report_json(const search::Polynomial* p, complex x0, complex x1,
                        std::optional<search::Method> method) {
  const search::Method m = method.value_or(search::Method::muller);
  std::ostringstream text;
  int status = 0;
  std::string points;
  search::OrderEstimate order(x1);
  const auto run = [&](const auto& e) {
    status = report::report_by(text, m, e, x0, x1);
    search::search_by(m, e, x0, x1, [&](int k, complex x, complex fx) {
      points += points.empty() ? "" : ",";
      points += "{\"k\":" + std::to_string(k) + ",\"x\":";
      append_pair(points, x);
      points += ",\"f\":";
      append_pair(points, fx);
      points += '}';
      order.row(x);
    });
  };
  if (p != nullptr) {
    run(search::OfPolynomial{*p});
  } else {
    run(search::Z4Plus1{});
  }
  std::string json = "{\"x0\":";
  append_pair(json, x0);
  json += ",\"x1\":";
  append_pair(json, x1);
  json += ",\"status\":" + std::to_string(status) + ",\"report\":";
  append_string(json, text.str());
  json += ",\"points\":[" + points + "]";
  if (method.has_value()) {
    json += ",\"method\":";
    append_string(json, search::names(m).key);
    json += ",\"order\":";
    append_number(json, order.order());
  }
  json += "}\n";
  return json;
}

std::string roots_json(const std::string& key, const map::MapPolynomial& p) {
  const auto count = static_cast<int>(p.classes.centres.size());
  std::string json = "{\"polynomial\":";
  append_string(json, key);
  json += ",\"degree\":" + std::to_string(p.p.degree()) + ",\"shade_rows\":[";
  for (std::size_t r = 0; r < std::size(map::shade_rows); ++r) {
    json += (r == 0 ? "" : ",") + std::to_string(map::shade_rows[r]);
  }
  json += "],\"none\":";
  append_string(json, css_colour({map::End::gave_up, 1}, count));
  json += ",\"classes\":[";
  for (int k = 0; k < count; ++k) {
    json += k == 0 ? "{\"colour\":" : ",{\"colour\":";
    append_string(json, css_colour({map::zero_class(k), 1}, count));
    json += ",\"shades\":[";
    for (std::size_t r = 0; r < std::size(map::shade_rows); ++r) {
      json += r == 0 ? "" : ",";
      append_string(json, css_colour({map::zero_class(k), map::shade_rows[r]}, count));
    }
    json += "],\"label\":";
    append_string(json, map::class_label(p.classes.centres[static_cast<std::size_t>(k)]));
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

}  // namespace muller::explorer
