// Muller's method on f: the search itself, which hands each point it computes to its caller and formats
// nothing. The report and the map are two consumers of it.
//
// Through the last three points x0, x1, x2 (values f0, f1, f2) fit the quadratic in w = x - x2
//
//     A w^2 + B w + C,    Q = (x2 - x1)(x1 - x0)(x1 - x0)
//     A = ((x1 - x0) f2 + (x0 - x2) f1 + (x2 - x1) f0) / Q
//     B = ((x1 - x0)(2 x2 - x1 - x0) f2 - (x2 - x0)^2 f1 + (x2 - x1)^2 f0) / Q
//     C = (x2 - x0) f2 / (x1 - x0)
//
// (the interpolating quadratic scaled by (x2 - x0)/(x1 - x0), which leaves its zeros alone), and step to
// the zero nearer x2:
//
//     x3 = x2 - 2C / (B +- sqrt(B^2 - 4AC)),  the sign giving the denominator of larger modulus.
//
// The two start points give the third by a secant step, x2 = x1 - f1 (x1 - x0) / (f1 - f0).
#pragma once

#include <cmath>
#include <complex>

#include "problem.hpp"

// The digits of a search hold only where every operation rounds to double. The x87 unit of 32-bit x86
// keeps 80-bit intermediates instead; our CMake build selects SSE2 arithmetic there, and a hand-made
// build that does not is refused here rather than left to compute other digits.
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0
#error "double arithmetic here keeps excess precision: build with -msse2 -mfpmath=sse"
#endif

namespace search_detail {

using complex = std::complex<double>;

// A NaN modulus compares false here, so it never keeps a search going on its own.
inline bool residual_above_tolerance(complex f2) { return std::abs(f2) >= fprec; }
inline bool step_above_tolerance(complex x2, complex x1) { return std::abs(x2 - x1) >= prec; }

}  // namespace search_detail

// Seeks a zero of f from the start points x0 and x1 and calls row(k, x, fx) for each point it computes,
// k counting from 1: the secant point, then one point per Muller step (the start points are not
// passed). Returns true when both the residual |f(x2)| and the last step |x2 - x1| fell below their
// tolerances after the last row, and false when the row counter reached numiter first, after row 99.
// The last row is the search's end point either way; it may be non-finite, since start points are not
// validated and a division by zero runs on as NaNs or infinities.
template <class Row>
bool search(std::complex<double> x0, std::complex<double> x1, Row&& row) {
  using search_detail::complex;
  using search_detail::residual_above_tolerance;
  using search_detail::step_above_tolerance;
  // Constants enter the arithmetic as complex numbers, so that every product below is a full complex
  // product with its own handling of signed zeros, infinities and NaNs.
  const complex two(2.0, 0.0);
  const complex four(4.0, 0.0);

  int k = 1;
  complex f0 = f(x0);
  complex f1 = f(x1);
  complex x2 = x1 - (f1 * (x1 - x0)) / (f1 - f0);
  complex f2 = f(x2);
  row(k, x2, f2);

  for (k = 2; residual_above_tolerance(f2) || step_above_tolerance(x2, x1); ++k) {
    if (k >= numiter) {
      return false;
    }
    const complex Q = ((x2 - x1) * (x1 - x0)) * (x1 - x0);
    const complex A = (((x1 - x0) * f2 + (x0 - x2) * f1) + (x2 - x1) * f0) / Q;
    const complex B = ((((x1 - x0) * (((two * x2) - x1) - x0)) * f2 - ((x2 - x0) * (x2 - x0)) * f1) +
                       ((x2 - x1) * (x2 - x1)) * f0) /
                      Q;
    const complex C = ((x2 - x0) * f2) / (x1 - x0);
    const complex D = std::sqrt(B * B - (four * A) * C);
    // The factor -2 is written two ways on purpose: -(2, 0) is (-2, -0), with a negative-zero
    // imaginary part, and (-2, 0) has a positive one. The steps they give differ at most in the sign of
    // a zero part of E, and that sign can reach the report, where a zero part prints as 0 or -0; so each
    // branch keeps its own. Ties and NaN moduli take the B - D branch.
    complex E;
    if (std::abs(B + D) > std::abs(B - D)) {
      E = (-two * C) / (B + D);
    } else {
      E = (complex(-2.0, 0.0) * C) / (B - D);
    }
    const complex x3 = x2 + E;

    x0 = x1;
    f0 = f1;
    x1 = x2;
    f1 = f2;
    x2 = x3;
    f2 = f(x2);
    row(k, x2, f2);
  }
  return true;
}

// Whether a converged search's last row (x, fx) is a zero: only a finite point with a finite residual
// is, since a NaN or an infinity can pass the convergence test as well as a zero can. The report's
// status and the map's colour both follow this one rule.
inline bool finite_end(std::complex<double> x, std::complex<double> fx) {
  return std::isfinite(x.real()) && std::isfinite(x.imag()) && std::isfinite(fx.real()) &&
         std::isfinite(fx.imag());
}
