// What a request names: its points, and its polynomial parsed and classified once.
#include "explorer/params.hpp"

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
  const cli::Checked<search::Polynomial> p =
      c != nullptr ? cli::parse_coefficients(text) : cli::parse_roots(text);
  if (!p.problem.empty()) {
    return {{}, std::string(name) + " " + p.problem};
  }
  const std::string written = cli::canonical(p.value);
  if (written != text) {
    return {{}, std::string(name) + " debe escribirse " + name + "=" + written + ", no " + cli::echo(text)};
  }
  if (c != nullptr && written == cli::canonical(search::default_polynomial())) {
    return {};
  }
  // Classified outside the lock: a polynomial of degree 20 takes a while, and others may be found
  // meanwhile. Two requests that name a new one at once may both classify it; one copy is kept.
  Asked asked{key, std::make_shared<const map::MapPolynomial>(map::map_polynomial(p.value))};
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
