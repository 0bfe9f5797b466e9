// The polynomial as the user types it (the cases in polynomial_cases.txt), and sparse Horner against f
// and fd wherever a sign of zero, an infinity or a NaN could tell them apart.
#include "search/polynomial.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/polynomial_text.hpp"
#include "search/problem.hpp"
#include "support.hpp"

namespace cli = muller::cli;
using muller::cli::canonical;         // NOLINT(misc-unused-using-decls)
using muller::cli::parse_complex;     // NOLINT(misc-unused-using-decls)
using muller::cli::parse_polynomial;  // NOLINT(misc-unused-using-decls)
using muller::cli::parse_roots;       // NOLINT(misc-unused-using-decls)

using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

using complex = std::complex<double>;

// "RE" or "RE,IM" items parted by ';', read with strtod: an independent reading of the numbers.
std::vector<complex> numbers(const std::string& text) {
  std::vector<complex> values;
  std::stringstream items(text);
  for (std::string item; std::getline(items, item, ';');) {
    const std::size_t comma = item.find(',');
    const double re = std::strtod(item.substr(0, comma).c_str(), nullptr);
    const double im = comma == std::string::npos ? 0.0 : std::strtod(item.substr(comma + 1).c_str(), nullptr);
    values.emplace_back(re, im);
  }
  return values;
}

void expect_same_bits(const std::vector<complex>& got, const std::vector<complex>& want,
                      const std::string& what) {
  ASSERT_EQ(got.size(), want.size()) << what;
  for (std::size_t k = 0; k < got.size(); ++k) {
    EXPECT_EQ(bits(got[k].real()), bits(want[k].real())) << what << " item " << k << ": " << got[k];
    EXPECT_EQ(bits(got[k].imag()), bits(want[k].imag())) << what << " item " << k << ": " << got[k];
  }
}

TEST(Polynomial, ReadsEveryCaseOfTheListAsItSays) {
  std::ifstream file(POLYNOMIAL_CASES);
  ASSERT_TRUE(file) << POLYNOMIAL_CASES;
  int cases = 0;
  for (std::string line; std::getline(file, line);) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = line.find('\t', tab1 + 1);
    ASSERT_NE(tab2, std::string::npos) << line;
    const std::string kind = line.substr(0, tab1);
    const std::string text = line.substr(tab1 + 1, tab2 - tab1 - 1);
    const std::string want = line.substr(tab2 + 1);
    ASSERT_TRUE(kind == "poly" || kind == "roots" || kind == "point") << line;
    ++cases;
    if (kind == "point") {
      const cli::Checked<complex> z = parse_complex(text);
      EXPECT_EQ(z.problem.empty(), want != "refused") << "point '" << text << "': " << z.problem << z.value;
      if (z.problem.empty() && want != "refused") {
        expect_same_bits({z.value}, numbers(want), line);
      }
      continue;
    }
    const cli::Checked<Polynomial> p = kind == "poly" ? parse_polynomial(text) : parse_roots(text);
    if (want == "refused") {
      EXPECT_FALSE(p.problem.empty()) << kind << " '" << text << "' was accepted as " << canonical(p.value);
      EXPECT_EQ(p.problem.find('\n'), std::string::npos) << p.problem;
      continue;
    }
    ASSERT_TRUE(p.problem.empty()) << kind << " '" << text << "': " << p.problem;
    const std::vector<complex> wanted = numbers(want);
    const std::string what = line.substr(0, tab2);
    expect_same_bits(kind == "poly" ? p.value.c : p.value.roots, wanted, what);
    // The canonical text reads back to the same numbers.
    expect_same_bits(numbers(canonical(p.value)), wanted, "canonical of " + what);
  }
  EXPECT_GT(cases, 100);
}

// The refusals that say more than "not understood": a product with its roots written out, a repeated
// or zero constant term in plain words, a position counted in characters past a superscript.
TEST(Polynomial, SaysWhatToWriteInstead) {
  const std::pair<const char*, const char*> cases[] = {
      {"(z-1)^3",
       "es un producto de factores, que no se desarrolla: escriba el polinomio desarrollado o sus "
       "raices, --roots '1;1;1'"},
      {"z (z + (1-2i))²*(z+i)", "--roots '0;-1,2;-1,2;0,-1'"},
      {"1 + z + 2", "repite el termino constante"},
      {"z + 0", "tiene un termino constante cero escrito"},
      {"z²2", "no se entiende desde la posicion 3, '2'"}};
  for (const auto& [text, problem] : cases) {
    const std::string got = parse_polynomial(text).problem;
    EXPECT_NE(got.find(problem), std::string::npos) << text << ": " << got;
  }
}

// The canonical text names each number in the fewest digits that read back as it: the URLs the page
// writes, and the one the explorer asks for, are these texts.
TEST(Polynomial, WritesItsCanonicalTextInTheShortestDigits) {
  const struct {
    Polynomial p;
    const char* text;
  } cases[] = {{from_coefficients({1, 0.1}), "1;0.1"},
               {from_coefficients({1, 0.1 + 0.2}), "1;0.30000000000000004"},
               {from_coefficients({{0, 2}, 0, {-1e-300, 0.5}}), "0,2;0;-1e-300,0.5"},
               {from_roots({{-0.5, 0.8660254037844386}, 2}), "-0.5,0.8660254037844386;2"},
               {from_coefficients({1e21, 1e-6, 1e5}), "1e21;1e-06;1e05"}};  // no '+', a space in a query
  for (const auto& c : cases) {
    EXPECT_EQ(canonical(c.p), c.text);
  }
}

// Points whose parts are the values where complex arithmetic goes astray: zeros of both signs,
// subnormals, huge and infinite values, NaNs of both signs, the parts of z^4 + 1's roots and their
// neighbours, and ordinary numbers of every magnitude.
complex special_point(std::mt19937_64& random) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double r = std::sqrt(0.5);
  static const double specials[] = {0.0,   -0.0,   5e-324, -5e-324,   1e-310,     1e-160, -1e-160,
                                    1e150, -1e150, 1e300,  -1e300,    1.7e308,    inf,    -inf,
                                    nan,   -nan,   r,      -r,        1.0,        -1.0,   0.5,
                                    2.0,   1e-8,   -1e8,   r + 1e-16, -r - 1e-16, 1e77,   -1e-77};
  const auto part = [&]() {
    if (random() % 4 != 0) {
      return specials[random() % (sizeof specials / sizeof specials[0])];
    }
    const double magnitude = std::ldexp(1.0, static_cast<int>(random() % 2100) - 1074);
    const double mantissa = 1.0 + static_cast<double>(random() >> 12) * 0x1p-52;
    return random() % 2 != 0 ? -magnitude * mantissa : magnitude * mantissa;
  };
  const double re = part();
  return {re, part()};
}

TEST(Polynomial, SparseHornerOnZ4Plus1IsFAndFdBitForBit) {
  const Polynomial p = default_polynomial();
  std::mt19937_64 random(19);
  int differ = 0;
  for (int n = 0; n < 1000000; ++n) {
    const complex z = special_point(random);
    const complex value = evaluate(p, z);
    const complex slope = derivative(p, z);
    const complex want_value = f(z);
    const complex want_slope = fd(z);
    if (bits(value.real()) != bits(want_value.real()) || bits(value.imag()) != bits(want_value.imag()) ||
        bits(slope.real()) != bits(want_slope.real()) || bits(slope.imag()) != bits(want_slope.imag())) {
      if (++differ <= 5) {
        ADD_FAILURE() << "at " << z << ": p " << value << " f " << want_value << ", p' " << slope << " fd "
                      << want_slope;
      }
    }
  }
  EXPECT_EQ(differ, 0);
}

TEST(Polynomial, RootsFormIsTheProductOfItsFactors) {
  // (z - 1)(z + 1)(z - i) = z^3 - i z^2 - z + i, exact in doubles.
  const cli::Checked<Polynomial> p = parse_roots("1;-1;0,1");
  ASSERT_TRUE(p.problem.empty()) << p.problem;
  expect_same_bits(p.value.c, {{1, 0}, {0, -1}, {-1, 0}, {0, 1}}, "expanded");
  const complex points[] = {{2, 0}, {0, 3}, {-1.5, 0.5}};
  for (const complex z : points) {
    const complex want = (z - 1.0) * (z + 1.0) * (z - complex(0, 1));
    EXPECT_EQ(evaluate(p.value, z), want) << z;
    EXPECT_EQ(derivative(p.value, z), 3.0 * z * z - complex(0, 2) * z - 1.0) << z;
  }
}

}  // namespace
