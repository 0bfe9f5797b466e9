// The polynomial from the user's text, its expansion from roots, and its canonical text.
#include "search/polynomial.hpp"

#include <charconv>
#include <system_error>
#include <utility>

namespace muller::search {

namespace {

using complex = std::complex<double>;

// -0 parts read as 0, so that a polynomial has one set of bits whichever way a zero was written.
complex without_negative_zeros(complex z) {
  return {z.real() == 0 ? 0.0 : z.real(), z.imag() == 0 ? 0.0 : z.imag()};
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A recursive-descent reader over the grammar in polynomial.hpp; the first problem found stops it.
class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  cli::Checked<Polynomial> polynomial() {
    complex c[max_degree + 1];
    bool seen[max_degree + 1] = {};
    spaces();
    if (at_ == text_.size()) {
      return {{}, "esta vacio: se esperaba un polinomio en z"};
    }
    bool negative = sign();
    for (;;) {
      complex coef(1.0, 0.0);
      int power = 0;
      if (!term(coef, power)) {
        return {{}, problem_};
      }
      if (seen[power]) {
        return {{}, "repite la potencia " + power_name(power)};
      }
      if (coef == complex(0.0, 0.0)) {
        return {{}, "tiene un coeficiente cero escrito, el de " + power_name(power)};
      }
      seen[power] = true;
      c[power] = without_negative_zeros(negative ? -coef : coef);
      spaces();
      if (at_ == text_.size()) {
        break;
      }
      if (text_[at_] != '+' && text_[at_] != '-') {
        return {{}, unexpected()};
      }
      negative = sign();
    }
    int degree = max_degree;
    while (degree > 0 && !seen[degree]) {
      --degree;
    }
    if (degree == 0) {
      return {{}, "es una constante: su grado debe ser de 1 a " + std::to_string(max_degree)};
    }
    std::vector<complex> coefficients;
    for (int k = degree; k >= 0; --k) {
      coefficients.push_back(seen[k] ? c[k] : complex(0.0, 0.0));
    }
    return {from_coefficients(std::move(coefficients)), ""};
  }

 private:
  static std::string power_name(int power) {
    return power == 0 ? "el termino constante" : power == 1 ? "z" : "z^" + std::to_string(power);
  }

  void spaces() {
    while (at_ < text_.size() && text_[at_] == ' ') {
      ++at_;
    }
  }

  char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

  // An optional '+' or '-' with the spaces after it; whether it was '-'.
  bool sign() {
    const char c = peek();
    if (c != '+' && c != '-') {
      return false;
    }
    ++at_;
    spaces();
    return c == '-';
  }

  std::string unexpected() {
    if (at_ >= text_.size()) {
      return "no es un polinomio en z: termina antes de tiempo";
    }
    return "no es un polinomio en z: no se entiende desde la posicion " + std::to_string(at_ + 1) + ", " +
           cli::echo(text_.substr(at_));
  }

  bool fail(std::string problem) {
    problem_ = std::move(problem);
    return false;
  }

  // term = coef ["*"] power | coef | power.
  bool term(complex& coef, int& power) {
    if (peek() != 'z') {
      if (!coefficient(coef)) {
        return false;
      }
      spaces();
      if (peek() == '*') {
        ++at_;
        spaces();
        if (peek() != 'z') {
          return fail(unexpected());
        }
      }
      if (peek() != 'z') {
        power = 0;
        return true;
      }
    }
    ++at_;  // the 'z'
    const std::size_t before_spaces = at_;
    spaces();
    if (peek() != '^') {
      at_ = before_spaces;
      power = 1;
      return true;
    }
    ++at_;
    spaces();
    const std::size_t start = at_;
    long long value = 0;
    while (is_digit(peek())) {
      value = std::min(value * 10 + (text_[at_] - '0'), 1000LL);
      ++at_;
    }
    if (at_ == start) {
      return fail(unexpected());
    }
    if (value < 1 || value > max_degree) {
      return fail("tiene la potencia z^" + text_.substr(start, at_ - start) + ": las potencias van de 1 a " +
                  std::to_string(max_degree));
    }
    power = static_cast<int>(value);
    return true;
  }

  // coef = real ["i"] | "i" | "(" real sign real "i" ")".
  bool coefficient(complex& coef) {
    if (peek() == 'i') {
      ++at_;
      coef = {0.0, 1.0};
      return true;
    }
    if (peek() == '(') {
      ++at_;
      spaces();
      const bool negative_re = sign();
      double re = 0;
      double im = 0;
      if (!real(re)) {
        return false;
      }
      spaces();
      if (peek() != '+' && peek() != '-') {
        return fail(unexpected());
      }
      const bool negative_im = sign();
      if (!real(im)) {
        return false;
      }
      spaces();
      if (peek() != 'i') {
        return fail(unexpected());
      }
      ++at_;
      spaces();
      if (peek() != ')') {
        return fail(unexpected());
      }
      ++at_;
      coef = {negative_re ? -re : re, negative_im ? -im : im};
      return true;
    }
    double value = 0;
    if (!real(value)) {
      return false;
    }
    const std::size_t before_spaces = at_;
    spaces();
    if (peek() == 'i') {
      ++at_;
      coef = {0.0, value};
    } else {
      at_ = before_spaces;
      coef = {value, 0.0};
    }
    return true;
  }

  // An unsigned decimal: digits, a fraction, an exponent; its range checked by the programs' rule.
  bool real(double& value) {
    const std::size_t start = at_;
    std::size_t digits = 0;
    for (; is_digit(peek()); ++at_) {
      ++digits;
    }
    if (peek() == '.') {
      for (++at_; is_digit(peek()); ++at_) {
        ++digits;
      }
    }
    if (digits == 0) {
      at_ = start;
      return fail(unexpected());
    }
    if (peek() == 'e' || peek() == 'E') {
      ++at_;
      if (peek() == '+' || peek() == '-') {
        ++at_;
      }
      if (!is_digit(peek())) {
        return fail(unexpected());
      }
      while (is_digit(peek())) {
        ++at_;
      }
    }
    const cli::Checked<double> checked = cli::real(text_.substr(start, at_ - start));
    if (!checked.problem.empty()) {
      return fail("tiene un numero fuera de rango: " + checked.problem);
    }
    value = checked.value;
    return true;
  }

  const std::string& text_;
  std::size_t at_ = 0;
  std::string problem_;
};

// The shortest decimal that reads back to v; a zero of either sign as 0.
std::string shortest(double v) {
  if (v == 0) {
    return "0";
  }
  char buffer[32];
  const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, v);
  return {buffer, written.ptr};
}

}  // namespace

Polynomial default_polynomial() { return from_coefficients({{1, 0}, {0, 0}, {0, 0}, {0, 0}, {1, 0}}); }

Polynomial from_coefficients(std::vector<std::complex<double>> c) {
  Polynomial p;
  for (complex& coefficient : c) {
    coefficient = without_negative_zeros(coefficient);
  }
  p.c = std::move(c);
  const std::size_t n = p.c.size() - 1;
  for (std::size_t j = 0; j < n; ++j) {
    const auto power = static_cast<double>(n - j);
    p.d.emplace_back(power * p.c[j].real(), power * p.c[j].imag());
  }
  return p;
}

Polynomial from_roots(std::vector<std::complex<double>> roots) {
  // Multiplies in one factor (z - r) at a time: c_k <- c_k - r c_{k-1}.
  std::vector<complex> c{{1.0, 0.0}};
  for (complex& r : roots) {
    r = without_negative_zeros(r);
    c.emplace_back(0.0, 0.0);
    for (std::size_t k = c.size() - 1; k >= 1; --k) {
      c[k] = cx::sub<true>(c[k], cx::mul(r, c[k - 1]));
    }
  }
  Polynomial p = from_coefficients(std::move(c));
  p.roots = std::move(roots);
  return p;
}

cli::Checked<Polynomial> parse_polynomial(const std::string& text) { return Reader(text).polynomial(); }

namespace {

// A list RE or RE,IM;... of at most `most` numbers, each by the programs' rule; `what` names an item
// in the refusals (raiz, coeficiente).
cli::Checked<std::vector<complex>> parse_list(const std::string& text, std::size_t most, const char* what,
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
      const cli::Checked<complex> z = cli::point(item);
      if (!z.problem.empty()) {
        return {{}, which + z.problem};
      }
      items.push_back(z.value);
    } else {
      const cli::Checked<double> x = cli::real(item);
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

cli::Checked<Polynomial> parse_roots(const std::string& text) {
  cli::Checked<std::vector<complex>> roots = parse_list(text, max_degree, "la raiz", "raices");
  if (!roots.problem.empty()) {
    return {{}, roots.problem};
  }
  return {from_roots(std::move(roots.value)), ""};
}

cli::Checked<Polynomial> parse_coefficients(const std::string& text) {
  cli::Checked<std::vector<complex>> c = parse_list(text, max_degree + 1, "el coeficiente", "coeficientes");
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

std::string canonical(const Polynomial& p) {
  std::string text;
  for (const complex z : p.by_roots() ? p.roots : p.c) {
    text += (text.empty() ? "" : ";") + shortest(z.real());
    if (z.imag() != 0) {
      text += "," + shortest(z.imag());
    }
  }
  return text;
}

}  // namespace muller::search
