// The search called directly, its report captured from std::cout.
#include <cmath>
#include <complex>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "search/methods.hpp"
#include "support.hpp"

using namespace muller::search;  // NOLINT(google-build-using-namespace)

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

// A polynomial is searched at its own scale, by every method: its multiples by powers of two, down to
// 2^-1000 (whose squares would underflow), take its very steps, each row's value the multiple's own.
TEST(Search, APolynomialsMultiplesByPowersOfTwoTakeItsSteps) {
  struct Row {
    complex x, fx;
  };
  bool converged = false;
  Method m = Method::muller;
  const auto rows_of = [&](const Polynomial& p) {
    std::vector<Row> rows;
    converged = search_by(m, OfPolynomial{p}, 0, {1, 1}, [&](int, complex x, complex fx) {
      rows.push_back({x, fx});
    });
    return rows;
  };
  const std::vector<complex> c = {{1, 0}, {0, 0}, {-1, 0}};  // z^2 - 1, scale 1
  for (const Method method : methods) {
    m = method;
    const std::vector<Row> wanted = rows_of(from_coefficients(c));
    ASSERT_TRUE(converged) << names(m).key;
    EXPECT_LT(std::abs(wanted.back().x - 1.0), 1e-12) << names(m).key;
    for (const int k : {-1000, -40, 40, 1000}) {
      std::vector<complex> multiple;
      multiple.reserve(c.size());
      for (const complex a : c) {
        multiple.emplace_back(std::ldexp(a.real(), k), std::ldexp(a.imag(), k));
      }
      const std::vector<Row> got = rows_of(from_coefficients(multiple));
      EXPECT_TRUE(converged) << names(m).key << ", " << k;
      ASSERT_EQ(got.size(), wanted.size()) << names(m).key << ", " << k;
      for (std::size_t r = 0; r < got.size(); ++r) {
        EXPECT_EQ(bits(got[r].x.real()), bits(wanted[r].x.real()))
            << names(m).key << ", " << k << ", row " << r + 1;
        EXPECT_EQ(bits(got[r].x.imag()), bits(wanted[r].x.imag()))
            << names(m).key << ", " << k << ", row " << r + 1;
        EXPECT_EQ(got[r].fx, complex(std::ldexp(wanted[r].fx.real(), k), std::ldexp(wanted[r].fx.imag(), k)))
            << names(m).key << ", " << k << ", row " << r + 1;
      }
    }
  }
}

// Each method's first rows on z^4 + 1, from values worked out by hand: Newton's first point from 1 + i is
// (1 + i) - (-3) / (4 (1 + i)^3) = 0.8125 (1 + i), exactly; Halley's is (1 + i) - 2 f f' / (2 f'^2 - f f'')
// = (1 + i) - (48 - 48i) / (-184i) = 17/23 (1 + i); f there is 1 - 4 a^4 for a = 13/16 and 17/23, as
// (1 + i)^4 = -4; the secant's first from (0, 1 + i) is Muller's. From
// x1 = 0, where f' = 0, Newton's and Halley's steps divide by zero and end on no root, status 1.
TEST(Search, EachMethodTakesItsOwnFirstStep) {
  const struct {
    Method method;
    complex x0, x1;
    std::vector<std::string> first_lines;
    int status;
  } cases[] = {
      {Method::newton,
       0,
       {1, 1},
       {"    Metodo Newton", " iteracion             x    f(x)  ",
        "         1   (0.8125,0.8125)  (-0.7432250977,0)"},
       0},
      {Method::halley,
       0,
       {1, 1},
       {"    Metodo Halley", " iteracion             x    f(x)  ",
        "         1   (0.7391304348,0.7391304348)  (-0.1938350706,0)"},
       0},
      {Method::secant,
       0,
       {1, 1},
       {"    Metodo Secante", " iteracion             x    f(x)  ", "         1   (0.25,0.25)  (0.984375,0)"},
       0},
      {Method::newton, 0, 0, {"    Metodo Newton"}, 1},
      {Method::halley, 0, 0, {"    Metodo Halley"}, 1},
  };
  for (const auto& c : cases) {
    std::ostringstream out;
    const int status = muller::report::report_by(out, c.method, Z4Plus1{}, c.x0, c.x1);
    const std::vector<std::string> lines = lines_of(out.str());
    ASSERT_GE(lines.size(), c.first_lines.size() + 1);
    EXPECT_EQ(std::vector<std::string>(lines.begin(),
                                       lines.begin() + static_cast<std::ptrdiff_t>(c.first_lines.size())),
              c.first_lines);
    EXPECT_EQ(status, c.status) << names(c.method).key << " from " << c.x1;
    // The summary names the method in a field of 13, as "muller       " does.
    const std::string word = names(c.method).word;
    EXPECT_TRUE(starts_with(lines.back(), word + std::string(13 - word.size(), ' ')) ||
                lines.back() == " numero maximo de iteraciones excedido en " + word)
        << lines.back();
  }
  std::vector<complex> newton;
  search_by(Method::newton, Z4Plus1{}, 0, {1, 1}, [&](int, complex x, complex) { newton.push_back(x); });
  EXPECT_EQ(newton.at(0), complex(0.8125, 0.8125));
}

}  // namespace
