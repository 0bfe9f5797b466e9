// The map's searches: they agree with the report and keep the symmetry of z^4 + 1.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "map/draw.hpp"
#include "map/palette.hpp"

using namespace muller::map;     // NOLINT(google-build-using-namespace)
using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

using complex = std::complex<double>;

TEST(Basins, MapAgreesWithTheReportAtTheFixedStartPoints) {
  // With radius 2 and size 257, pixel (64 + 128 a, 64 + 128 b) is x1 = (2b - 1, 1 - 2a) exactly.
  const struct {
    int i, j;
    complex x1;
    End end;
  } cases[] = {{64, 192, {1, 1}, End::upper_right},
               {192, 192, {1, -1}, End::lower_right},
               {64, 64, {-1, 1}, End::upper_left},
               {192, 64, {-1, -1}, End::lower_left}};
  for (const auto& c : cases) {
    EXPECT_EQ(grid_point(c.i, c.j, 257, 2.0), c.x1);
    const Outcome o = outcome(Method::muller, 0, grid_point(c.i, c.j, 257, 2.0));
    EXPECT_EQ(o.end, c.end) << c.x1;
    EXPECT_EQ(o.rows, 8) << c.x1;
  }
  // The centre is x1 = 0 = x0: the secant step divides zero by zero.
  EXPECT_EQ(grid_point(128, 128, 257, 2.0), complex(0, 0));
  const Outcome centre = outcome(Method::muller, 0, grid_point(128, 128, 257, 2.0));
  EXPECT_EQ(centre.end, End::non_finite);
  EXPECT_EQ(centre.rows, 1);
}

End conjugate(End e) {
  switch (e) {
    case End::upper_right:
      return End::lower_right;
    case End::lower_right:
      return End::upper_right;
    case End::upper_left:
      return End::lower_left;
    case End::lower_left:
      return End::upper_left;
    default:
      return e;
  }
}

End negative(End e) { return conjugate(e) == e ? e : static_cast<End>((static_cast<int>(e) + 2) % 4); }

TEST(Basins, MirroredPixelsReachTheMirroredZero) {
  // f(conj z) = conj f(z) and f(-z) = f(z), so the search from the mirrored x1 should end at the
  // mirrored zero; only rounding can break it, near the edges of basins. Measured on these grids (even
  // sizes, so no pixel lies on an axis, where a pixel is its own mirror): conjugation 0 pixels,
  // negation 16 of 65,536 at radius 0.3 and 4 of 40,000 at radius 2. Bounds: 0.05 % and 0.1 %.
  const struct {
    int size;
    double radius;
  } grids[] = {{256, 0.3}, {200, 2.0}};
  for (const auto& g : grids) {
    const int n = g.size;
    std::vector<End> ends;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        ends.push_back(outcome(Method::muller, 0, grid_point(i, j, n, g.radius)).end);
      }
    }
    auto at = [&](int i, int j) {
      return ends[static_cast<std::size_t>(i) * static_cast<std::size_t>(n) + static_cast<std::size_t>(j)];
    };
    int conjugate_breaks = 0;
    int negative_breaks = 0;
    for (int i = 0; i < n; ++i) {
      for (int j = 0; j < n; ++j) {
        conjugate_breaks += at(n - 1 - i, j) != conjugate(at(i, j)) ? 1 : 0;
        negative_breaks += at(n - 1 - i, n - 1 - j) != negative(at(i, j)) ? 1 : 0;
      }
    }
    EXPECT_LE(conjugate_breaks, n * n / 2000) << "size " << n << ", radius " << g.radius;
    EXPECT_LE(negative_breaks, n * n / 1000) << "size " << n << ", radius " << g.radius;
  }
}

}  // namespace

namespace {

// Whether every pixel of a row of centres lies exactly one pixel from the one before it.
bool evenly_spaced(const std::vector<double>& centres, double pixel) {
  for (std::size_t k = 1; k < centres.size(); ++k) {
    if (std::fabs(centres[k] - centres[k - 1]) != pixel) {
      return false;
    }
  }
  return true;
}

TEST(Basins, TilesCentrePixelsOnStartPointsDownToTheDeepestLevel) {
  // Level 0 is one tile over [-2, 2]: pixel k's centre is -2 + (k + 1/2) / 64.
  const Window top = tile(0, 0, 0, {0.5, -0.5});
  EXPECT_EQ(top.x0, complex(0.5, -0.5));
  EXPECT_EQ(top.re.front(), -2 + 1.0 / 128);
  EXPECT_EQ(top.re.back(), 2 - 1.0 / 128);
  EXPECT_EQ(top.im.front(), 2 - 1.0 / 128);
  EXPECT_EQ(top.im.back(), -2 + 1.0 / 128);
  // The last tiles of a level, next to Re x1 = 2 and Im x1 = -2, where doubles are coarsest: down to the
  // deepest level every centre stands one pixel from the next, and one level further they merge.
  for (const int level : {deepest_level, deepest_level + 1}) {
    const long long last = (1LL << level) - 1;
    const Window corner = tile(level, last, last, 0);
    const double pixel = std::ldexp(1.0, -6 - level);
    EXPECT_EQ(evenly_spaced(corner.re, pixel), level == deepest_level) << "level " << level;
    EXPECT_EQ(evenly_spaced(corner.im, pixel), level == deepest_level) << "level " << level;
  }
}

// A polynomial and its multiples by powers of two, however large or small, draw the same map: the search
// runs on the same scaled values, and the roots fall into the same classes.
TEST(Basins, APolynomialAndItsMultiplesByPowersOfTwoDrawTheSameMap) {
  const std::vector<complex> polynomials[] = {
      {{1, 0}, {0, 0}, {0, 0}, {0, 0}, {3, 0}, {0, -2}},  // z^5 + 3z - 2i
      {{1, 0}, {0, 0}, {0, 0}, {-1, 0}}};                 // z^3 - 1
  for (const std::vector<complex>& c : polynomials) {
    std::vector<std::uint8_t> wanted;
    for (const int k : {0, -1000, -40, 40, 1000}) {
      std::vector<complex> multiple;
      multiple.reserve(c.size());
      for (const complex a : c) {
        multiple.emplace_back(std::ldexp(a.real(), k), std::ldexp(a.imag(), k));
      }
      Window window = square(64, 2.0, {}, {0.25, 0.5});
      window.polynomial = std::make_shared<const MapPolynomial>(map_polynomial(from_coefficients(multiple)));
      std::vector<std::uint8_t> rgb;
      std::atomic<int> rows{0};
      draw(window, rgb, 2, rows);
      if (k == 0) {
        wanted = rgb;
      }
      EXPECT_TRUE(rgb == wanted) << "degree " << c.size() - 1 << ", times 2^" << k;
    }
  }
}

}  // namespace

namespace {

// The hues by the number of classes: today's four up to 4 classes, Okabe-Ito's seven (today's four
// first) up to 7, and from 8 on one list in which a class keeps its colour whatever the number.
TEST(Basins, ClassKeepsItsColourAsTheNumberOfClassesGrows) {
  const struct {
    int k;
    int classes;
    int same_as;  // the number of classes whose colour for k must be the same
  } cases[] = {{0, 1, 4}, {3, 4, 5}, {3, 7, 4}, {4, 5, 7}, {0, 8, 20}, {7, 8, 20}, {7, 8, 13}, {12, 13, 20}};
  for (const auto& c : cases) {
    const Outcome o{zero_class(c.k), 7};
    EXPECT_EQ(colour(o, c.classes), colour(o, c.same_as)) << c.k << " of " << c.classes;
  }
  // Okabe-Ito's last three, and the eight-class list, are new hues.
  EXPECT_NE(colour({zero_class(4), 1}, 7), colour({zero_class(4), 1}, 8));
  EXPECT_EQ(colour({End::gave_up, 1}, 20), (std::array<std::uint8_t, 3>{0, 0, 0}));
}

}  // namespace
