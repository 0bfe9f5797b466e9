// What a request names: its points, and its polynomial parsed and classified once.
#include "explorer/params.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/polynomial_text.hpp"
#include "http/server.hpp"

namespace muller::explorer {

namespace {

// A query's parameters as sent, "key=value" or "key", split at '&' (empty ones too).
std::vector<std::string> raw_parameters(const std::string& query) {
  std::vector<std::string> pieces;
  for (std::size_t start = 0; start <= query.size() && !query.empty();) {
    const std::size_t end = std::min(query.find('&', start), query.size());
    pieces.push_back(query.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

// Bytes a Location may hold as they are; any other is percent-escaped (a request's target may have
// held it, but a header line must not).
std::string escaped_for_location(const std::string& text) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b > 0x20 && b < 0x7f && std::strchr("\"<>\\^`{|}#", c) == nullptr) {
      out += c;
    } else {
      out += '%';
      out += digits[b >> 4];
      out += digits[b & 15];
    }
  }
  return out;
}

// A query as sent, read for the polynomial named name: its text (escapes undone, a '+' kept), and the
// query's parameters with their keys unescaped and empty ones left out, the polynomial's at `at`.
struct Spelled {
  std::string text;
  std::vector<std::string> parameters;
  std::size_t at = 0;
};
Spelled spelled(const std::string& query, const char* name) {
  Spelled s;
  for (const std::string& piece : raw_parameters(query)) {
    const std::size_t equals = piece.find('=');
    const std::string key = http::percent_decoded(piece.substr(0, equals), false);
    if (key.empty()) {
      continue;
    }
    if (key == name) {
      s.text = equals == std::string::npos ? "" : http::percent_decoded(piece.substr(equals + 1), false);
      s.at = s.parameters.size();
    }
    s.parameters.push_back(equals == std::string::npos ? key : key + piece.substr(equals));
  }
  return s;
}

std::string joined(const std::vector<std::string>& parameters) {
  std::string query;
  for (const std::string& p : parameters) {
    query += (query.empty() ? "" : "&") + p;
  }
  return query;
}

}  // namespace

std::string key_problem(const http::Request& req, std::initializer_list<const char*> keys,
                        const char* route) {
  std::vector<std::string> seen;
  for (const auto& parameter : req.query) {
    const std::string& key = parameter.first;
    if (key.empty()) {
      continue;  // an empty parameter names nothing (and moves a polynomial's URL to its canonical one)
    }
    if (std::none_of(keys.begin(), keys.end(), [&](const char* k) { return key == k; })) {
      std::string names;
      for (const char* k : keys) {
        names += std::string(names.empty() ? "" : k == *(keys.end() - 1) ? " y " : ", ") + k;
      }
      return "no se admite el parametro " + cli::echo(key) + ": " + route + " admite " + names;
    }
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) {
      return "el parametro " + key + " se da mas de una vez: cada uno se da una sola vez";
    }
    seen.push_back(key);
  }
  return "";
}

cli::Checked<std::complex<double>> point_param(const http::Request& req, const char* name,
                                               std::complex<double> absent) {
  const std::string* text = req.param(name);
  if (text == nullptr) {
    return {absent, ""};
  }
  cli::Checked<std::complex<double>> point = cli::point(*text);
  if (!point.problem.empty()) {
    point.problem = std::string(name) + " " + point.problem;
  }
  return point;
}

cli::Checked<std::optional<search::Method>> method_param(const http::Request& req) {
  const std::string* text = req.param("m");
  if (text == nullptr) {
    return {};
  }
  search::Method m = search::Method::muller;
  if (!search::method_named(*text, m)) {
    return {{}, "m debe ser secant, muller, newton o halley, no " + cli::echo(*text)};
  }
  return {m, ""};
}

cli::Checked<Asked> Polynomials::asked(const http::Request& req) {
  if (req.param("c") != nullptr && req.param("r") != nullptr) {
    return {{}, "se da el polinomio por c= (coeficientes) o por r= (raices), no por los dos"};
  }
  if (req.param("c") == nullptr && req.param("r") == nullptr) {
    return {};
  }
  const char* name = req.param("c") != nullptr ? "c" : "r";
  Spelled query = spelled(req.raw_query, name);
  const std::string& text = query.text;
  const std::string key = std::string(name) + "=" + text;
  std::shared_ptr<const map::MapPolynomial> polynomial;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = index_.find(key);
    if (found != index_.end()) {
      recent_.splice(recent_.begin(), recent_, found->second);
      polynomial = found->second->polynomial;  // a text kept here is canonical
    }
  }
  cli::Checked<search::Polynomial> p;
  if (polynomial == nullptr) {
    p = *name == 'c' ? cli::parse_coefficients(text) : cli::parse_roots(text);
    if (!p.problem.empty()) {
      return {{}, std::string(name) + " " + p.problem};
    }
  }
  query.parameters[query.at] =
      polynomial != nullptr ? key : std::string(name) + "=" + cli::canonical(p.value);
  const std::string canonical_query = joined(query.parameters);
  if (canonical_query != req.raw_query) {
    return {
        {"", nullptr, escaped_for_location(req.path.substr(req.path.rfind('/') + 1) + "?" + canonical_query)},
        ""};
  }
  if (polynomial != nullptr) {
    return {{key, polynomial, ""}, ""};
  }
  if (*name == 'c' && text == cli::canonical(search::default_polynomial())) {
    return {};
  }
  // Classified outside the lock: a polynomial of degree 20 takes a while, and others may be found
  // meanwhile. Two requests that name a new one at once may both classify it; one copy is kept.
  Asked asked{key, std::make_shared<const map::MapPolynomial>(map::map_polynomial(p.value)), ""};
  const std::string out_of_range = cli::roots_problem(asked.polynomial->classes.roots);
  if (!out_of_range.empty()) {
    return {{}, std::string(name) + " " + out_of_range};
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  if (index_.count(key) == 0) {
    recent_.push_front(asked);
    index_[key] = recent_.begin();
    if (recent_.size() > most_) {
      index_.erase(recent_.back().key);
      recent_.pop_back();
    }
  }
  return {std::move(asked), ""};
}

}  // namespace muller::explorer
