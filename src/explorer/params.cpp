// What a request names: its points, and its polynomial parsed and classified once.
#include "explorer/params.hpp"

#include <optional>

#include "cli/polynomial_text.hpp"

namespace muller::explorer {

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
  const std::string* c = req.param("c");
  const std::string* r = req.param("r");
  if (c != nullptr && r != nullptr) {
    return {{}, "se da el polinomio por c= (coeficientes) o por r= (raices), no por los dos"};
  }
  if (c == nullptr && r == nullptr) {
    return {};
  }
  const std::string& text = c != nullptr ? *c : *r;
  const char* name = c != nullptr ? "c" : "r";
  const std::string key = std::string(name) + "=" + text;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = index_.find(key);
    if (found != index_.end()) {
      recent_.splice(recent_.begin(), recent_, found->second);
      return {*found->second, ""};
    }
  }
  const cli::Checked<std::optional<search::Polynomial>> p = cli::named_polynomial(*name, text);
  if (!p.problem.empty()) {
    return {{}, p.problem};
  }
  if (!p.value.has_value()) {
    return {};
  }
  // Classified outside the lock: a polynomial of degree 20 takes a while, and others may be found
  // meanwhile. Two requests that name a new one at once may both classify it; one copy is kept.
  Asked asked{key, std::make_shared<const map::MapPolynomial>(map::map_polynomial(*p.value))};
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
