// The exact sign of a cross product and compensated Horner, on error-free transformations.
#include "search/exact.hpp"

#include <algorithm>
#include <cmath>

#include "search/complex_ops.hpp"

namespace muller::search {

namespace {

using complex = std::complex<double>;

// Error-free transformations: a sum or a product of two doubles as the rounded result and its exact
// error (Knuth's TwoSum; Dekker's product with Veltkamp's split, with no fused multiply-add).
struct TwoTerms {
  double high;
  double low;
};
TwoTerms two_sum(double x, double y) {
  const double s = x + y;
  const double v = s - x;
  return {s, (x - (s - v)) + (y - v)};
}
TwoTerms split(double x) {
  const double c = 134217729.0 * x;  // 2^27 + 1
  const double high = c - (c - x);
  return {high, x - high};
}
TwoTerms two_product(double x, double y) {
  const double p = x * y;
  const TwoTerms xs = split(x);
  const TwoTerms ys = split(y);
  const double error = ((xs.high * ys.high - p) + xs.high * ys.low + xs.low * ys.high) + xs.low * ys.low;
  return {p, error};
}

complex normalised(complex z) {
  const double larger = std::max(std::fabs(z.real()), std::fabs(z.imag()));
  if (larger == 0) {
    return z;
  }
  const int shift = -std::ilogb(larger);
  return {std::ldexp(z.real(), shift), std::ldexp(z.imag(), shift)};
}

}  // namespace

// The exact sign of a x b = a.re b.im - a.im b.re: each product split exactly into a sum of two doubles
// (Veltkamp's split, Dekker's product: no fused multiply-add), and the four terms summed into a
// nonoverlapping expansion (Shewchuk's Grow-Expansion), whose largest term carries the sign. Each vector is
// first scaled by a power of two to a larger part in [1, 2), which keeps every term normal and changes
// no sign.
int cross_sign(complex a, complex b) {
  a = normalised(a);
  b = normalised(b);
  const TwoTerms first = two_product(a.real(), b.imag());
  const TwoTerms second = two_product(-a.imag(), b.real());
  double expansion[4] = {first.low, first.high, 0, 0};  // increasing magnitude, nonoverlapping
  int length = 2;
  for (const double term : {second.low, second.high}) {
    double q = term;
    for (int k = 0; k < length; ++k) {
      const TwoTerms s = two_sum(q, expansion[k]);
      expansion[k] = s.low;
      q = s.high;
    }
    expansion[length++] = q;
  }
  for (int k = length - 1; k >= 0; --k) {
    if (expansion[k] != 0) {
      return expansion[k] > 0 ? 1 : -1;
    }
  }
  return 0;
}

// a(w) by compensated Horner (Graillat and Menissier-Morain's, for complex arithmetic): each step's
// product and sums are split exactly into their rounded values and their errors, and the errors run
// through a second Horner scheme that is added at the end. The value is then as accurate as Horner's in
// twice the precision, so that at a computed root it is the residual itself, not the rounding noise of
// the evaluation, which for a multiple root or an ill-conditioned one would be far larger.
complex compensated_horner(const std::vector<complex>& a, complex w) {
  complex value = a[0];
  complex error(0.0, 0.0);
  for (std::size_t k = 1; k < a.size(); ++k) {
    const TwoTerms p1 = two_product(value.real(), w.real());
    const TwoTerms p2 = two_product(value.imag(), w.imag());
    const TwoTerms p3 = two_product(value.real(), w.imag());
    const TwoTerms p4 = two_product(value.imag(), w.real());
    const TwoTerms re = two_sum(p1.high, -p2.high);
    const TwoTerms re_sum = two_sum(re.high, a[k].real());
    const TwoTerms im = two_sum(p3.high, p4.high);
    const TwoTerms im_sum = two_sum(im.high, a[k].imag());
    const complex step_error(((p1.low - p2.low) + re.low) + re_sum.low,
                             ((p3.low + p4.low) + im.low) + im_sum.low);
    error = cx::add<true>(cx::mul(error, w), step_error);
    value = {re_sum.high, im_sum.high};
  }
  return cx::add<true>(value, error);
}

}  // namespace muller::search
