// The reader of expressions in z, and of points written as complex numbers: a recursive descent over
// the grammar in polynomial_text.hpp.
#include <utility>
#include <vector>

#include "cli/polynomial_text.hpp"
#include "cli/text.hpp"

namespace muller::cli {

using search::from_coefficients;
using search::from_roots;
using search::max_degree;

namespace {

using complex = std::complex<double>;

// The first problem found stops it.
class Reader {
 public:
  // what: the thing read, as the refusals name it ("un polinomio en z").
  Reader(const std::string& text, const char* what) : text_(text), what_(what) {}

  Checked<Polynomial> polynomial() {
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
        return {{}, product_problem()};
      }
      if (seen[power]) {
        return {{}, repeated(power)};
      }
      if (coef == complex(0.0, 0.0)) {
        return {{}, zero_written(power)};
      }
      seen[power] = true;
      c[power] = negative ? -coef : coef;  // a -0 part is read as 0 with the rest
      spaces();
      if (at_ == text_.size()) {
        break;
      }
      if (text_[at_] != '+' && text_[at_] != '-') {
        problem_ = unexpected();
        return {{}, product_problem()};
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

  // A complex number: terms without z, the real part and the imaginary part each written at most once
  // (0.5+0.25i, -i, 2, (1.5-2e-3i)). A part written keeps its sign, -0 included, as RE,IM keeps it; a
  // part left out is +0.
  Checked<complex> number() {
    complex z(0.0, 0.0);
    bool written[2] = {false, false};
    spaces();
    if (at_ == text_.size()) {
      return {{}, "esta vacio: se esperaba RE,IM o un numero complejo como 0.5+0.25i"};
    }
    bool negative = sign();
    for (;;) {
      if (!number_term(negative, z, written)) {
        return {{}, problem_};
      }
      spaces();
      if (at_ == text_.size()) {
        return {z, ""};
      }
      if (peek() != '+' && peek() != '-') {
        return {{}, unexpected()};
      }
      negative = sign();
    }
  }

 private:
  static std::string power_name(int power) { return power == 1 ? "z" : "z^" + std::to_string(power); }
  static std::string repeated(int power) {
    return power == 0 ? "repite el termino constante" : "repite la potencia " + power_name(power);
  }
  static std::string zero_written(int power) {
    return power == 0 ? "tiene un termino constante cero escrito"
                      : "tiene un coeficiente cero escrito, el de " + power_name(power);
  }

  // A term of a complex number, its sign given, added to z: a real or an imaginary part, or both in
  // parentheses; false with the problem when a part comes twice.
  bool number_term(bool negative, complex& z, bool written[2]) {
    const std::size_t start = at_;
    complex coef;
    if (!coefficient(coef)) {
      return false;
    }
    const bool both = text_[start] == '(';
    const bool re = both || text_[at_ - 1] != 'i';
    const bool im = both || text_[at_ - 1] == 'i';
    if ((re && written[0]) || (im && written[1])) {
      return fail(re && written[0] ? "da dos veces la parte real" : "da dos veces la parte imaginaria");
    }
    if (re) {
      z.real(negative ? -coef.real() : coef.real());
      written[0] = true;
    }
    if (im) {
      z.imag(negative ? -coef.imag() : coef.imag());
      written[1] = true;
    }
    return true;
  }

  // One factor of a product: z, or (z - r) with r a coefficient; its root, or false.
  bool factor(complex& root) {
    root = {0.0, 0.0};
    if (peek() == 'z') {
      ++at_;
      return true;
    }
    if (peek() != '(') {
      return false;
    }
    ++at_;
    spaces();
    if (peek() != 'z') {
      return false;
    }
    ++at_;
    spaces();
    if (peek() != '+' && peek() != '-') {
      return false;
    }
    const bool minus = sign();
    if (!coefficient(root)) {
      return false;
    }
    spaces();
    if (peek() != ')') {
      return false;
    }
    ++at_;
    root = minus ? root : -root;
    return true;
  }

  // Why a text that is not a polynomial in z was refused. A product of factors z - r, such as
  // (z-1)^3 or (z+i)(z-i), is a polynomial that the grammar does not expand: its roots are the way to
  // give it, and the message writes them out.
  std::string product_problem() {
    std::string problem = problem_;
    at_ = 0;
    std::string roots;
    int degree = 0;
    spaces();
    while (at_ < text_.size()) {
      complex root;
      int power = 1;
      if (!factor(root) || !exponent(power) || degree + power > max_degree) {
        return problem;
      }
      degree += power;
      // + 0.0: a root's zero part is 0, as the roots form reads it, whatever its sign here.
      const std::string item =
          shortest(root.real() + 0.0) + (root.imag() != 0 ? "," + shortest(root.imag()) : "");
      for (int k = 0; k < power; ++k) {
        roots += (roots.empty() ? "" : ";") + item;
      }
      spaces();
      if (peek() == '*') {
        ++at_;
        spaces();
      }
    }
    return "es un producto de factores, que no se desarrolla: escriba el polinomio desarrollado o sus "
           "raices, --roots " +
           quote(roots);
  }

  // A superscript digit (⁰ to ⁹, as UTF-8) at the reading point: its value, having passed it; or -1.
  int superscript_digit() {
    const auto byte = [this](std::size_t k) {
      return at_ + k < text_.size() ? static_cast<unsigned char>(text_[at_ + k]) : 0;
    };
    int digit = -1;
    if (byte(0) == 0xc2 && (byte(1) == 0xb2 || byte(1) == 0xb3 || byte(1) == 0xb9)) {
      digit = byte(1) == 0xb9 ? 1 : byte(1) - 0xb0;
      at_ += 2;
    } else if (byte(0) == 0xe2 && byte(1) == 0x81 &&
               (byte(2) == 0xb0 || (byte(2) >= 0xb4 && byte(2) <= 0xb9))) {
      digit = byte(2) - 0xb0;
      at_ += 3;
    }
    return digit;
  }

  // After a 'z': an optional power, "^" digits or superscript digits (z^2, z²), from 1 to 20; false
  // with the problem when it is not one.
  bool exponent(int& power) {
    const std::size_t before_spaces = at_;
    spaces();
    std::string digits;
    if (peek() == '^') {
      ++at_;
      spaces();
      for (; is_digit(peek()); ++at_) {
        digits += text_[at_];
      }
      if (digits.empty()) {
        return fail(unexpected());
      }
    } else {
      for (int d; (d = superscript_digit()) >= 0;) {
        digits += static_cast<char>('0' + d);
      }
      if (digits.empty()) {
        at_ = before_spaces;
        power = 1;
        return true;
      }
    }
    long long value = 0;
    for (const char d : digits) {
      value = std::min(value * 10 + (d - '0'), 1000LL);
    }
    if (value < 1 || value > max_degree) {
      return fail("tiene la potencia z^" + digits + ": las potencias van de 1 a " +
                  std::to_string(max_degree));
    }
    power = static_cast<int>(value);
    return true;
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
      return std::string("no es ") + what_ + ": termina antes de tiempo";
    }
    // The position in characters, as the user counts them, not in UTF-8's bytes.
    std::size_t position = 1;
    for (std::size_t k = 0; k < at_; ++k) {
      position += (static_cast<unsigned char>(text_[k]) & 0xc0) != 0x80 ? 1 : 0;
    }
    return std::string("no es ") + what_ + ": no se entiende desde la posicion " + std::to_string(position) +
           ", " + echo(text_.substr(at_));
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
    return exponent(power);
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
    const Checked<double> checked = cli::real(text_.substr(start, at_ - start));
    if (!checked.problem.empty()) {
      return fail("tiene un numero fuera de rango: " + checked.problem);
    }
    value = checked.value;
    return true;
  }

  const std::string& text_;
  const char* what_;
  std::size_t at_ = 0;
  std::string problem_;
};

}  // namespace

Checked<Polynomial> parse_polynomial(const std::string& text) {
  return Reader(text, "un polinomio en z").polynomial();
}

Checked<std::complex<double>> parse_complex(const std::string& text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos) {
    return Reader(text, "un numero complejo").number();
  }
  // RE,IM by the options' rule, with spaces around either part.
  const auto trimmed = [](const std::string& part) {
    const std::size_t first = part.find_first_not_of(' ');
    return first == std::string::npos ? std::string()
                                      : part.substr(first, part.find_last_not_of(' ') + 1 - first);
  };
  return point(trimmed(text.substr(0, comma)) + "," + trimmed(text.substr(comma + 1)));
}

}  // namespace muller::cli
