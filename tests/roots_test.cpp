// The roots' classes: multiple roots made one class, distinct ones kept apart, and the order of their
// arguments decided exactly.
#include "search/roots.hpp"

#include <gtest/gtest.h>

#include <complex>
#include <limits>
#include <vector>

#include "cli/polynomial_text.hpp"

namespace cli = muller::cli;
using muller::cli::parse_polynomial;  // NOLINT(misc-unused-using-decls)

using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

using complex = std::complex<double>;

// The polynomial with these roots, in the coefficient form (expanded), so that its roots must be found.
Polynomial expanded(const std::vector<complex>& roots) { return from_coefficients(from_roots(roots).c); }

TEST(Roots, MultipleRootsMakeOneClassEach) {
  const complex i(0, 1);
  const struct {
    std::vector<complex> roots;
    std::vector<complex> classes;  // in the order of their arguments
  } cases[] = {
      {{1, 1, 1}, {1}},
      {{1, 1, 1, -1, -1, i}, {1, i, -1}},
      {{2, -3, i}, {2, i, -3}},
      {{0, i, -i}, {0, i, -i}},  // z^3 + z: a root at 0, whose coefficient form ends in a zero
  };
  for (const auto& c : cases) {
    for (const Polynomial& p : {expanded(c.roots), from_roots(c.roots)}) {
      const RootClasses found = classify(p);
      ASSERT_EQ(found.centres.size(), c.classes.size()) << "degree " << p.degree();
      for (std::size_t k = 0; k < c.classes.size(); ++k) {
        EXPECT_LT(std::abs(found.centres[k] - c.classes[k]), 1e-4) << "class " << k;
        EXPECT_EQ(nearest_class(found, c.classes[k] * 1.001), static_cast<int>(k));
      }
    }
  }
}

// Classes as the roots' inclusion discs tell them apart, whatever the polynomial's scale: an m-fold root
// given by its coefficients is one class up to m = 20, and separated roots stay apart however small the
// polynomial's values or the roots themselves.
TEST(Roots, ClassesAreWhatTheRootsCanTellApartAtAnyScale) {
  for (int m = 1; m <= max_degree; ++m) {
    const RootClasses found = classify(expanded(std::vector<complex>(static_cast<std::size_t>(m), 1.0)));
    ASSERT_EQ(found.centres.size(), 1u) << "(z - 1)^" << m;
    EXPECT_LT(std::abs(found.centres[0] - 1.0), 0.05) << "(z - 1)^" << m;
  }
  const struct {
    const char* text;
    std::size_t classes;
  } cases[] = {
      {"1e-13z^2 - 1e-13", 2},                   // roots 1 and -1, values below 1e-12 everywhere near them
      {"z^2 + 1e-300", 2},                       // roots +-1e-150 i
      {"z^20 - 1e-200", 20},                     // twenty roots on |z| = 1e-10
      {"z^2 - 3e-13z + 2e-26", 2},               // roots 1e-13 apart, at 1e-13 and 2e-13
      {"1e-300z^3 - 1e-300", 3},                 // z^3 - 1 at the scale of 1e-300
      {"z^6 - z^5 - 2z^4 + 2z^3 + z^2 - z", 3},  // z (z - 1)^3 (z + 1)^2, a root at 0 besides
  };
  for (const auto& c : cases) {
    const cli::Checked<Polynomial> p = parse_polynomial(c.text);
    ASSERT_TRUE(p.problem.empty()) << p.problem;
    EXPECT_EQ(classify(p.value).centres.size(), c.classes) << c.text;
  }
}

// A class's centre is the mean of its roots without overflow, up to the largest double.
TEST(Roots, CentresOfTheLargestRootsAreFinite) {
  const double largest = std::numeric_limits<double>::max();
  const RootClasses found = classify(from_roots({largest, largest, {-largest, largest}}));
  ASSERT_EQ(found.centres.size(), 2u);
  EXPECT_EQ(found.centres[0], complex(largest, 0));
  EXPECT_EQ(found.centres[1], complex(-largest, largest));
}

// Roots whose powers overflow a double, and roots far below 1: found all the same, to the last digits.
TEST(Roots, FindsRootsWherePOverflows) {
  const struct {
    const char* text;
    complex first;  // the root in the upper half-plane; the other is its opposite
  } cases[] = {{"z^2 + 1e308", {0, 1e154}}, {"1e-200z^2 + 1e200", {0, 1e200}}, {"z^2 + 1e-300", {0, 1e-150}}};
  for (const auto& c : cases) {
    const cli::Checked<Polynomial> p = parse_polynomial(c.text);
    ASSERT_TRUE(p.problem.empty()) << p.problem;
    const std::vector<complex> found = find_roots(p.value);
    ASSERT_EQ(found.size(), 2U) << c.text;
    const bool in_order = found[0].imag() > 0;
    EXPECT_LT(std::abs(found[in_order ? 0 : 1] - c.first), 1e-15 * std::abs(c.first)) << c.text;
    EXPECT_LT(std::abs(found[in_order ? 1 : 0] + c.first), 1e-15 * std::abs(c.first)) << c.text;
  }
}

TEST(Roots, Z4Plus1KeepsTheQuadrantsOrder) {
  const RootClasses found = classify(default_polynomial());
  const complex quadrants[] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};  // upper right first, then anticlockwise
  ASSERT_EQ(found.centres.size(), 4U);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(nearest_class(found, quadrants[k]), k);
    EXPECT_LT(std::abs(found.centres[static_cast<std::size_t>(k)] - quadrants[k] * std::sqrt(0.5)), 1e-15);
  }
}

TEST(Roots, ArgumentOrderIsExactWhereTheCrossProductRoundsToZero) {
  const double e = 0x1p-30;
  // (1 + e)(1 - e) - 1 = -e^2 rounds to 0 in double; tan of b's argument is 1 - e, of a's 1/(1 + e).
  const complex a(1 + e, 1);
  const complex b(1, 1 - e);
  EXPECT_TRUE(argument_before(b, a));
  EXPECT_FALSE(argument_before(a, b));
  // Half-planes: the positive real axis first, the negative imaginary side last.
  const complex in_order[] = {{1, 0}, {1, 1e-300}, {0, 1}, {-1, 0}, {-1, -1e-300}, {0, -1}, {1, -1e-300}};
  for (std::size_t k = 1; k < std::size(in_order); ++k) {
    EXPECT_TRUE(argument_before(in_order[k - 1], in_order[k])) << in_order[k - 1] << " " << in_order[k];
    EXPECT_FALSE(argument_before(in_order[k], in_order[k - 1])) << in_order[k] << " " << in_order[k - 1];
  }
}

}  // namespace
