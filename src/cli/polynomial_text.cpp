// Polynomials written as lists of roots or of coefficients, and the canonical text of a polynomial.
#include "cli/polynomial_text.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "cli/text.hpp"

namespace muller::cli {

using search::from_coefficients;
using search::from_roots;
using search::max_degree;
using complex = std::complex<double>;

namespace {

// A list RE or RE,IM;... of at most `most` numbers, each by the programs' rule; `what` names an item
// in the refusals (raiz, coeficiente).
Checked<std::vector<complex>> parse_list(const std::string& text, std::size_t most, const char* what,
                                         const char* plural) {
  std::vector<complex> items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(text.find(';', start), text.size());
    if (items.size() == most) {
      return {{}, "tiene mas de " + std::to_string(most) + " " + plural};
    }
    const std::string item = text.substr(start, end - start);
    const std::string which =
        std::string("tiene mal ") + what + " " + std::to_string(items.size() + 1) + ": ";
    if (item.find(',') != std::string::npos) {
      const Checked<complex> z = point(item);
      if (!z.problem.empty()) {
        return {{}, which + z.problem};
      }
      items.push_back(z.value);
    } else {
      const Checked<double> x = real(item);
      if (!x.problem.empty()) {
        return {{}, which + x.problem};
      }
      items.emplace_back(x.value, 0.0);
    }
    if (end == text.size()) {
      break;
    }
    start = end + 1;
  }
  return {std::move(items), ""};
}

}  // namespace

Checked<Polynomial> parse_roots(const std::string& text) {
  Checked<std::vector<complex>> roots = parse_list(text, max_degree, "la raiz", "raices");
  if (!roots.problem.empty()) {
    return {{}, roots.problem};
  }
  return {from_roots(std::move(roots.value)), ""};
}

Checked<Polynomial> parse_coefficients(const std::string& text) {
  Checked<std::vector<complex>> c = parse_list(text, max_degree + 1, "el coeficiente", "coeficientes");
  if (!c.problem.empty()) {
    return {{}, c.problem};
  }
  if (c.value.size() < 2) {
    return {{}, "es una constante: su grado debe ser de 1 a " + std::to_string(max_degree)};
  }
  if (c.value.front() == complex(0.0, 0.0)) {
    return {{}, "empieza por un coeficiente cero: el primero es el de la potencia mas alta"};
  }
  return {from_coefficients(std::move(c.value)), ""};
}

std::string roots_problem(const std::vector<complex>& roots) {
  for (const complex r : roots) {
    if (!cx::finite(r)) {
      return "tiene una raiz fuera del alcance de los double: su modulo pasa de 1.8e+308";
    }
  }
  return "";
}

std::string canonical(const Polynomial& p) {
  std::string text;
  for (const complex z : p.by_roots() ? p.roots : p.c) {
    text += (text.empty() ? "" : ";") + shortest(z.real());
    if (z.imag() != 0) {
      text += "," + shortest(z.imag());
    }
  }
  // An exponent's '+' would read as a space in a query: 1e21, not 1e+21, so that the text travels in a
  // URL as it is.
  text.erase(std::remove(text.begin(), text.end(), '+'), text.end());
  return text;
}

Checked<std::optional<Polynomial>> named_polynomial(char name, const std::string& text) {
  const std::string n(1, name);
  const Checked<Polynomial> p = name == 'c' ? parse_coefficients(text) : parse_roots(text);
  if (!p.problem.empty()) {
    return {{}, n + " " + p.problem};
  }
  const std::string written = canonical(p.value);
  if (written != text) {
    return {{}, n + " debe escribirse " + n + "=" + written + ", no " + echo(text)};
  }
  if (name == 'c' && written == canonical(search::default_polynomial())) {
    return {};
  }
  return {p.value, ""};
}

}  // namespace muller::cli
