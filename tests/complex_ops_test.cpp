// The search's own complex arithmetic: bit for bit what GCC 12's runtime and glibc 2.36 compute on
// x86-64, and one rule for the sign of every NaN.
#include "search/complex_ops.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "support.hpp"

namespace cx = muller::cx;
using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

using complex = std::complex<double>;

// Equal bits, or both NaN: which NaN the library gives is the processor's and the compiler's business,
// which is why the search does not leave it to them.
bool same(double a, double b) { return std::isnan(a) ? std::isnan(b) : bits(a) == bits(b); }
bool same(complex a, complex b) { return same(a.real(), b.real()) && same(a.imag(), b.imag()); }

// Parts of every kind: zeros, infinities and NaNs of both signs, the operations' thresholds and their
// neighbours, arbitrary bit patterns, and numbers of every magnitude. Built from the generator's raw
// output, so that every standard library draws the same.
double draw_part(std::mt19937_64& rng) {
  constexpr double max = std::numeric_limits<double>::max();
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  static constexpr double special[] = {0.0,
                                       -0.0,
                                       1.0,
                                       -2.5,
                                       inf,
                                       -inf,
                                       nan,
                                       -nan,
                                       0x1p-1074,
                                       0x1p-1022,
                                       0x1p-1021,
                                       0x1p-1020,
                                       max,
                                       max / 2,
                                       max / 4,
                                       0x1p-52,
                                       max / 2 * 0x1p-52,
                                       0x1p511,
                                       0x1p-459,
                                       0x1p-450,
                                       0x1p-537,
                                       0x1p-600,
                                       1e-300,
                                       1e300};
  const std::uint64_t r = rng();
  const double unit = static_cast<double>(rng() >> 11) * 0x1p-53;
  const double sign = (r & 2) != 0 ? -1.0 : 1.0;
  switch (r % 6) {
    case 0:
      return special[(r >> 8) % std::size(special)];
    case 1:  // a threshold nudged by an ulp or so either way
      return special[(r >> 8) % std::size(special)] * (1 + (unit - 0.5) * 0x1p-51);
    case 2: {
      double d = 0;
      const std::uint64_t u = rng();
      std::memcpy(&d, &u, sizeof d);
      return std::isnan(d) ? nan : d;  // quiet: no arithmetic makes a signalling NaN
    }
    case 3:
      return sign * 20.0 * unit;
    default:
      return sign * std::ldexp(0.5 + unit / 2, static_cast<int>(rng() % 2150) - 1075);
  }
}

TEST(ComplexOps, AgreeWithTheLibraryTheyReplace) {
#if !defined(__x86_64__) || defined(__clang__) || __GNUC__ != 12 || defined(_LIBCPP_VERSION) || \
    !defined(__GLIBC__) || __GLIBC__ != 2 || __GLIBC_MINOR__ != 36
  GTEST_SKIP() << "the reference is GCC 12's runtime and glibc 2.36 on x86-64";
#endif
  std::mt19937_64 rng(20261207);
  int failures = 0;
  for (int i = 0; i < 1000000 && failures < 10; ++i) {
    const complex z(draw_part(rng), draw_part(rng));
    const complex w(draw_part(rng), draw_part(rng));
    const auto expect = [&](bool ok, const char* what) {
      if (!ok) {
        ++failures;
        ADD_FAILURE() << what << " of " << std::hexfloat << z << " and " << w;
      }
    };
    expect(same(cx::mul(z, w), z * w), "product");
    expect(same(cx::div<false>(z, w), z / w), "quotient");
    expect(same(cx::sqrt(z), std::sqrt(z)), "square root");
    expect(same(cx::abs(z), std::abs(z)), "modulus");
    expect(cx::abs_at_least(z, 1e-12) == (std::abs(z) >= 1e-12), "modulus against 1e-12");
    expect(cx::abs_greater(z, w) == (std::abs(z) > std::abs(w)), "moduli compared");
  }
}

TEST(ComplexOps, CompareModuliWhereSquaresFailThem) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  // Squares near the least subnormal, 2^-1074: 0.5001 of it rounds up to all of it, 1.49 down to it.
  const double up = std::sqrt(0.5001) * 0x1p-537;
  const double down = std::sqrt(1.49) * 0x1p-537;
  const struct {
    const char* what;
    complex z;
    complex w;
    bool greater;
  } pairs[] = {
      {"underflowed squares that say the opposite", {up, up}, {down, 0}, false},
      {"overflowed squares", {1e200, 0}, {0, 1e199}, true},
      {"an infinity beside a NaN", {inf, nan}, {1, 1}, true},
      {"a NaN", {nan, 0}, {1, 1}, false},
      {"equal moduli", {3, 4}, {4, -3}, false},
  };
  for (const auto& p : pairs) {
    EXPECT_EQ(cx::abs_greater(p.z, p.w), p.greater) << p.what;
  }
  const struct {
    complex z;
    bool at_least;
  } thresholds[] = {{{1e-12, 0}, true},  {{std::nextafter(1e-12, 0.0), 0}, false},
                    {{0, -1e-12}, true}, {{inf, nan}, true},
                    {{nan, 1}, false},   {{1e300, 1e300}, true}};
  for (const auto& t : thresholds) {
    EXPECT_EQ(cx::abs_at_least(t.z, 1e-12), t.at_least) << t.z;
  }
}

TEST(ComplexOps, GiveEveryNanTheSignOfTheRule) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* what;
    double result;
    bool negative;
  } cases[] = {
      {"0 * inf, made from numbers", cx::times<true>(0.0, inf), true},
      {"inf - inf, made from numbers", cx::minus<true>(inf, inf), true},
      {"0 / 0, made from numbers", cx::over<true>(0.0, 0.0), true},
      {"nan * -nan, the first operand", cx::times<true>(nan, -nan), false},
      {"-nan + nan, the first operand", cx::plus<true>(-nan, nan), true},
      {"1 - nan, the NaN operand", cx::minus<true>(1.0, nan), false},
      {"1 / -nan, the NaN operand", cx::over<true>(1.0, -nan), true},
      // Zero over zero ends in infinity times zero; a NaN factor beside no infinity has nothing to recover.
      {"(0, 0) / (0, 0), real part", cx::div<true>(complex(0, 0), complex(0, 0)).real(), true},
      {"(nan, 1) * (1, 1), imaginary part", cx::mul<true>(complex(nan, 1), complex(1, 1)).imag(), false},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(std::isnan(c.result)) << c.what;
    EXPECT_EQ(std::signbit(c.result), c.negative) << c.what;
  }
}

}  // namespace
