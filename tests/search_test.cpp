// The search called directly, its report captured from std::cout.
#include <cmath>
#include <complex>
#include <limits>
#include <string>
#include <vector>

#include "support.hpp"

namespace {

using complex = std::complex<double>;

struct Pair {
  complex x0;
  complex x1;
};

TEST(Search, EachFixedPairWritesItsReportAndFindsItsZero) {
  const std::vector<std::string> expected = expected_report();
  ASSERT_EQ(expected.size(), 44u);
  const Pair pairs[] = {{0, {1, 1}}, {0, {1, -1}}, {0, {-1, 1}}, {0, {-1, -1}}};
  for (std::size_t i = 0; i < 4; ++i) {
    const Search s = run_search(pairs[i].x0, pairs[i].x1);
    const auto first = expected.begin() + static_cast<std::ptrdiff_t>(11 * i);
    EXPECT_EQ(s.lines, std::vector<std::string>(first, first + 11)) << "search " << i + 1;
    EXPECT_EQ(s.status, 0) << "search " << i + 1;
  }
}

TEST(Search, PadsAPointShorterThanItsFieldToTenCharacters) {
  // From 0 and 1: f0 = 1, f1 = 2, and the secant step gives x2 = 1 - 2/1 = -1, six characters long. f(-1)
  // is 2 with a negative-zero imaginary part: (-1,+0)^2 = (1,-0), times (-1,+0) is (-1,+0), times
  // (-1,+0) again is (1,-0).
  const Search s = run_search({0, 0}, {1, 0});
  ASSERT_GE(s.lines.size(), 3u);
  EXPECT_EQ(s.lines[2], "         1       (-1,0)  (2,-0)");
}

TEST(Search, GivesUpAfterRow99AndNeverWritesRow100) {
  const Search s = run_search({1e30, 0}, {2e30, 0});
  ASSERT_EQ(s.lines.size(), 2u + 99u + 1u);
  EXPECT_TRUE(starts_with(s.lines[100], row_prefix(99))) << s.lines[100];
  EXPECT_EQ(s.lines[101], " numero maximo de iteraciones excedido en muller");
  EXPECT_EQ(s.status, 1);
  expect_well_formed(s);
}

TEST(Search, EqualStartPointsEndOnANanRowWithStatusOne) {
  // f1 - f0 and x1 - x0 are (0, 0): the secant step divides (-0, 0) by (0, 0), which Annex G makes
  // infinity times zero, a NaN made from numbers in both parts; the rule gives such a NaN the sign bit,
  // on every processor, and x1 minus it and f of it keep that NaN.
  const Search s = run_search({1, 1}, {1, 1});
  const std::vector<std::string> expected = {
      "         1   (-nan,-nan)  (-nan,-nan)",
      "muller       1  iteraciones   raiz= (-nan,-nan) funcion= (-nan,-nan)",
  };
  ASSERT_EQ(s.lines.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(s.lines.begin() + 2, s.lines.end()), expected);
  EXPECT_EQ(s.status, 1);
}

TEST(Search, ReportsAZeroOnlyWhenItIsFinite) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double tiny = std::numeric_limits<double>::denorm_min();
  const Pair pairs[] = {
      {{10, 0}, {20, 0}},               // converges from afar
      {{1000, 1000}, {-1000, 1000}},    // f(x0) = f(x1): the secant step divides by zero
      {{0, 0}, {inf, 0}},               // infinite start
      {{nan, 0}, {1, 1}},               // NaN start
      {{1e300, 0}, {2e300, 1e300}},     // powers overflow
      {{tiny, 0}, {0, tiny}},           // subnormal starts
      {{1e-300, 1e-300}, {0, 1e-300}},  // powers underflow
  };
  for (const Pair& p : pairs) {
    SCOPED_TRACE(::testing::Message() << "start pair " << p.x0 << ", " << p.x1);
    expect_well_formed(run_search(p.x0, p.x1));
  }
}

// A polynomial is searched at its own scale: its multiples by powers of two, down to 2^-1000 (whose
// squares would underflow), take its very steps, each row's value the multiple's own.
TEST(Search, APolynomialsMultiplesByPowersOfTwoTakeItsSteps) {
  using muller::search::from_coefficients;
  using muller::search::Polynomial;
  struct Row {
    complex x, fx;
  };
  const auto rows_of = [](const Polynomial& p, bool& converged) {
    std::vector<Row> rows;
    converged = muller::search::search_polynomial(p, 0, {1, 1}, [&](int, complex x, complex fx) {
      rows.push_back({x, fx});
    });
    return rows;
  };
  const std::vector<complex> c = {{1, 0}, {0, 0}, {-1, 0}};  // z^2 - 1, scale 1
  bool converged = false;
  const std::vector<Row> wanted = rows_of(from_coefficients(c), converged);
  ASSERT_TRUE(converged);
  EXPECT_EQ(wanted.back().x, complex(1, 0));
  for (const int k : {-1000, -40, 40, 1000}) {
    std::vector<complex> multiple;
    for (const complex a : c) {
      multiple.emplace_back(std::ldexp(a.real(), k), std::ldexp(a.imag(), k));
    }
    const std::vector<Row> got = rows_of(from_coefficients(multiple), converged);
    EXPECT_TRUE(converged) << k;
    ASSERT_EQ(got.size(), wanted.size()) << k;
    for (std::size_t r = 0; r < got.size(); ++r) {
      EXPECT_EQ(bits(got[r].x.real()), bits(wanted[r].x.real())) << k << ", row " << r + 1;
      EXPECT_EQ(bits(got[r].x.imag()), bits(wanted[r].x.imag())) << k << ", row " << r + 1;
      EXPECT_EQ(got[r].fx, complex(std::ldexp(wanted[r].fx.real(), k), std::ldexp(wanted[r].fx.imag(), k)))
          << k << ", row " << r + 1;
    }
  }
}

}  // namespace
