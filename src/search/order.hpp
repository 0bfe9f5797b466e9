// The order of convergence a search shows in its own rows. With e_k = |x_k - x_(k-1)| the step that
// gave row k, near a root e_(k+1) ~ C e_k^q, so that
//
//     q ~ log(e_(k+1) / e_k) / log(e_k / e_(k-1)).
//
// The estimate is taken from the last three steps that still mean something: each shorter than the one
// before (the search closing in) and each at least 2^-40 of the point's modulus (about 1e-12: below it
// rounding, not the method, sets the step's size). Near a multiple root every method converges
// linearly, and q comes out near 1.
#pragma once

#include <cmath>
#include <complex>
#include <limits>

#include "search/complex_ops.hpp"

namespace muller::search {

// Fed each row of a search in turn; order() is then the estimate, or NaN when the rows give no three
// steps to estimate it from.
struct OrderEstimate {
  std::complex<double> previous;
  double steps[3] = {0, 0, 0};  // the last three meaningful steps, oldest first
  int count = 0;                // meaningful steps in a row, up to 3
  double q = std::numeric_limits<double>::quiet_NaN();

  // The first row's step is from the second start point, x1.
  explicit OrderEstimate(std::complex<double> x1) : previous(x1) {}

  void row(std::complex<double> x) {
    const double e = cx::abs(cx::sub<false>(x, previous));
    previous = x;
    if (!(std::isfinite(e) && e > 0 && e >= std::ldexp(cx::abs(x), -40))) {
      count = 0;  // rounding's step, or none: the estimate stays the last one made
      return;
    }
    if (count > 0 && e >= steps[2]) {
      count = 0;  // not closing in: a new run of steps starts here
    }
    steps[0] = steps[1];
    steps[1] = steps[2];
    steps[2] = e;
    count = count < 3 ? count + 1 : 3;
    if (count == 3) {
      q = std::log(steps[2] / steps[1]) / std::log(steps[1] / steps[0]);
    }
  }

  double order() const { return q; }
};

}  // namespace muller::search
