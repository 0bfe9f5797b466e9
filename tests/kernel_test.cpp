// The map on the vector units against the scalar search, pixel for pixel, on every instruction set
// compiled in that this processor runs.
#include "map/kernel/kernel.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "map/draw.hpp"

using namespace muller::map;     // NOLINT(google-build-using-namespace)
using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

// Start points of every kind on both axes: small and large, zeros of both signs, parts of the zeros of
// f, subnormals and huge ones, from a seeded generator whose raw output every library draws alike.
std::vector<double> random_axis(std::mt19937_64& rng, int n) {
  std::vector<double> axis;
  for (int k = 0; k < n; ++k) {
    const std::uint64_t r = rng();
    const double unit = static_cast<double>(rng() >> 11) * 0x1p-53;
    const double sign = (r & 1) != 0 ? -1.0 : 1.0;
    switch (r % 8) {
      case 0:
        axis.push_back(sign * 0.0);
        break;
      case 1:
        axis.push_back(sign * std::sqrt(0.5) * (1 + (unit - 0.5) * 1e-9));
        break;
      case 2:
        axis.push_back(sign * std::pow(10.0, -320 + 640 * unit));
        break;
      default:
        axis.push_back(sign * 3 * unit);
        break;
    }
  }
  return axis;
}

// The window's map drawn by the scalar search and then by the vector kernel on each instruction set.
void expect_same_maps(const std::vector<Window>& windows) {
  const std::vector<long long> targets = vector_targets();
  for (const Window& window : windows) {
    std::atomic<int> rows_done{0};
    std::vector<std::uint8_t> scalar;
    const Tally expected = draw(window, scalar, 1, rows_done, Path::scalar);
    for (const long long target : targets) {
      use_vector_target(target);
      std::vector<std::uint8_t> vector;
      const Tally got = draw(window, vector, 2, rows_done, Path::vector);
      EXPECT_EQ(vector, scalar) << target_name(target) << ", window " << &window - windows.data();
      EXPECT_EQ(got.ends, expected.ends) << target_name(target);
      EXPECT_EQ(got.rows, expected.rows) << target_name(target);
    }
    use_vector_target(0);
  }
}

TEST(Kernel, DrawsWhatTheScalarSearchDrawsOnEveryInstructionSet) {
  std::mt19937_64 rng(20261207);
  std::vector<Window> windows = {
      square(129, 0.4),  // the flower, its axes and its centre, where x1 = x0
      square(96, 2.0),
      square(101, 0.01),  // near 0, where B^2 - 4AC and the secant's divisor have exactly zero parts
      square(101, 1e5),   // far out, where searches give up or end non-finite
      tile(18, 131000, 131000, {0, 0}),  // deep in the flower, at the edge of a petal
      {{0.3, -0.2}, random_axis(rng, 61), random_axis(rng, 67)},
      {{-1e-5, 2e-5}, random_axis(rng, 50), random_axis(rng, 40)},
  };
  if (vector_targets().empty()) {
    GTEST_SKIP() << "no vector unit here that the map uses";
  }
  expect_same_maps(windows);
}

// Seeded random polynomials of degrees 1 to 20, by coefficients (some real, some imaginary, some zero,
// some monic) and by roots, each over the square of radius 2 and over points of every kind.
TEST(Kernel, DrawsAnyPolynomialAsTheScalarSearchDoes) {
  if (vector_targets().empty()) {
    GTEST_SKIP() << "no vector unit here that the map uses";
  }
  std::mt19937_64 rng(19);
  const auto part = [&rng]() {
    const std::uint64_t r = rng();
    return r % 3 == 0 ? 0.0 : static_cast<double>(static_cast<std::int64_t>(r >> 40) - (1 << 23)) * 0x1p-21;
  };
  std::vector<Window> windows;
  for (const int degree : {1, 2, 3, 5, 8, 13, 20}) {
    for (const bool by_roots : {false, true}) {
      std::vector<std::complex<double>> values;
      for (int k = 0; k <= degree - (by_roots ? 1 : 0); ++k) {
        values.emplace_back(part(), part());
      }
      if (!by_roots && (values[0] == std::complex<double>(0.0, 0.0) || degree % 2 == 1)) {
        values[0] = 1.0;  // the leading coefficient nonzero, and monic at odd degrees
      }
      const auto p = std::make_shared<const MapPolynomial>(
          map_polynomial(by_roots ? from_roots(values) : from_coefficients(values)));
      Window near = square(48, 2.0, {}, {part(), part()});
      near.polynomial = p;
      Window anywhere{{0.25, -0.5}, random_axis(rng, 23), random_axis(rng, 19), p};
      windows.push_back(near);
      windows.push_back(anywhere);
    }
  }
  expect_same_maps(windows);
}

}  // namespace
