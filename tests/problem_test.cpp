// f and fd at points where a fault in the products, or in how the 1 is added, would show.
#include "search/problem.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>

using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

using complex = std::complex<double>;

struct Exact {
  complex z;
  complex want;
};

TEST(Problem, FIsExactWhereTheFourthPowerIsExact) {
  const Exact cases[] = {
      {{0, 0}, {1, 0}},
      {{1, 1}, {-3, 0}},
      {{1, -1}, {-3, 0}},
      {{-1, 1}, {-3, 0}},
      {{-1, -1}, {-3, 0}},
      // On the diagonals the fourth power is real: its imaginary part must come out as +0, which the
      // report prints as 0.
      {{0.25, 0.25}, {0.984375, 0}},
      {{0.25, -0.25}, {0.984375, 0}},
      {{2, 0}, {17, 0}},
  };
  for (const Exact& c : cases) {
    const complex got = f(c.z);
    EXPECT_EQ(got.real(), c.want.real()) << "f" << c.z;
    EXPECT_EQ(got.imag(), c.want.imag()) << "f" << c.z;
    EXPECT_FALSE(std::signbit(got.imag())) << "f" << c.z;
  }
}

TEST(Problem, FLeavesOnlyRoundingAtTheFourZeros) {
  const double r = std::sqrt(0.5);
  for (const complex zero : {complex(r, r), complex(r, -r), complex(-r, r), complex(-r, -r)}) {
    EXPECT_LT(std::abs(f(zero)), 1e-15) << "f" << zero;
  }
}

TEST(Problem, FPropagatesNan) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const complex z : {complex(nan, 0), complex(0, nan), complex(nan, nan)}) {
    EXPECT_TRUE(std::isnan(f(z).real())) << "f" << z;
    EXPECT_TRUE(std::isnan(f(z).imag())) << "f" << z;
  }
}

TEST(Problem, FdIsFourTimesTheCube) {
  const Exact cases[] = {{{1, 0}, {4, 0}}, {{2, 0}, {32, 0}}, {{0, 1}, {0, -4}}, {{1, 1}, {-8, 8}}};
  for (const Exact& c : cases) {
    EXPECT_EQ(fd(c.z), c.want) << "fd" << c.z;
  }
}

}  // namespace
