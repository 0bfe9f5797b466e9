// Muller's method on f, or on any function given to it: the search itself, which hands each point it
// computes to its caller and formats nothing. The report and the map are two consumers of it.
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
#include <limits>
#include <utility>

#include "search/complex_ops.hpp"
#include "search/problem.hpp"

// The digits of a search hold only where every operation rounds to double. The x87 unit of 32-bit x86
// keeps 80-bit intermediates instead; our CMake build selects SSE2 arithmetic there, and a hand-made
// build that does not is refused here rather than left to compute other digits.
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ != 0
#error "double arithmetic here keeps excess precision: build with -msse2 -mfpmath=sse"
#endif

namespace muller::search {

namespace detail {

using complex = std::complex<double>;
using cx::finite;

// What a step returns, run without the NaN rule, when it cannot vouch for its result.
inline constexpr complex unvouched(std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::quiet_NaN());

// Each step below is written once and run twice at most: first with plain arithmetic (ruled false), and
// again with the NaN rule of complex_ops.hpp only when the first run returns unvouched. Without the rule
// a NaN's sign is the processor's, and it must not reach a row. Every value a step computes flows into
// its result, so a NaN shows there, except through a quotient, which turns a NaN in its divisor into a
// zero when the divisor's other part is infinite; so the plain run vouches for its result when that and
// every divisor are finite, and then no NaN arose and the ruled run would give the same bits.

// The secant step from the two start points: x2 = x1 - f1 (x1 - x0) / (f1 - f0). Lane copy: SecantStep
// in map/kernel/search-inl.h.
template <bool ruled>
complex secant_step(complex x0, complex x1, complex f0, complex f1) {
  const complex divisor = cx::sub<ruled>(f1, f0);
  const complex x2 = cx::sub<ruled>(x1, cx::div<ruled>(cx::mul<ruled>(f1, cx::sub<ruled>(x1, x0)), divisor));
  return ruled || (finite(divisor) && finite(x2)) ? x2 : unvouched;
}

// One Muller step: the quadratic through (x0, f0), (x1, f1), (x2, f2) and its zero x3 nearer x2. Lane
// copy: MullerStep in map/kernel/search-inl.h.
template <bool ruled>
complex muller_step(complex x0, complex x1, complex x2, complex f0, complex f1, complex f2) {
  const auto add = [](complex z, complex w) { return cx::add<ruled>(z, w); };
  const auto sub = [](complex z, complex w) { return cx::sub<ruled>(z, w); };
  const auto mul = [](complex z, complex w) { return cx::mul<ruled>(z, w); };
  const auto div = [](complex z, complex w) { return cx::div<ruled>(z, w); };
  // Constants enter the arithmetic as complex numbers, so that every product below is a full complex
  // product with its own handling of signed zeros, infinities and NaNs.
  const complex two(2.0, 0.0);
  const complex four(4.0, 0.0);

  const complex h0 = sub(x1, x0);
  const complex h1 = sub(x2, x1);
  const complex h2 = sub(x2, x0);
  const complex Q = mul(mul(h1, h0), h0);
  const complex A = div(add(add(mul(h0, f2), mul(sub(x0, x2), f1)), mul(h1, f0)), Q);
  const complex spread = sub(sub(mul(two, x2), x1), x0);  // 2 x2 - x1 - x0
  const complex B = div(add(sub(mul(mul(h0, spread), f2), mul(mul(h2, h2), f1)), mul(mul(h1, h1), f0)), Q);
  const complex C = div(mul(h2, f2), h0);
  const complex D = cx::sqrt(sub(mul(B, B), mul(mul(four, A), C)));
  // The factor -2 is written two ways on purpose: -(2, 0) is (-2, -0), with a negative-zero
  // imaginary part, and (-2, 0) has a positive one. The steps they give differ at most in the sign of
  // a zero part of E, and that sign can reach the report, where a zero part prints as 0 or -0; so each
  // branch keeps its own. Ties and NaN moduli take the B - D branch.
  const complex sum = add(B, D);
  const complex difference = sub(B, D);
  const bool plus = cx::abs_greater(sum, difference);
  const complex divisor = plus ? sum : difference;
  const complex E = div(mul(plus ? -two : complex(-2.0, 0.0), C), divisor);
  const complex x3 = add(x2, E);
  return ruled || (finite(Q) && finite(h0) && finite(divisor) && finite(x3)) ? x3 : unvouched;
}

// The ruled runs, kept out of the search's loop: they are rare.
[[gnu::cold, gnu::noinline]] inline complex ruled_secant_step(complex x0, complex x1, complex f0,
                                                              complex f1) {
  return secant_step<true>(x0, x1, f0, f1);
}
[[gnu::cold, gnu::noinline]] inline complex ruled_muller_step(complex x0, complex x1, complex x2, complex f0,
                                                              complex f1, complex f2) {
  return muller_step<true>(x0, x1, x2, f0, f1, f2);
}

// The convergence test, after each row: the search goes on while the residual |p(x2)| or else the last
// step |x2 - x1| is at or above its tolerance. Moduli only, which a NaN's sign cannot change; a NaN
// modulus compares false, so it never keeps a search going on its own. Lane copy: Stops in
// map/kernel/search-inl.h.
inline bool residual_large(complex f2) { return cx::abs_at_least(f2, fprec); }
inline bool step_large(complex x1, complex x2) { return cx::abs_at_least(cx::sub<false>(x2, x1), prec); }
inline bool goes_on(complex x1, complex x2, complex f2) { return residual_large(f2) || step_large(x1, x2); }

}  // namespace detail

// Seeks a zero of p (any callable from complex to complex: f, or a polynomial's evaluation) from the
// start points x0 and x1 and calls row(k, x, fx) for each point it computes, k counting from 1: the
// secant point, then one point per Muller step (the start points are not passed). Returns true when both the
// residual |p(x2)| and the last step |x2 - x1| fell below their tolerances after the last row, and false when
// the row counter reached numiter first, after row 99. The last row is the search's end point either way; it
// may be non-finite, since start points are not validated and a division by zero runs on as NaNs or
// infinities.
template <class P, class Row>
bool search_over(P&& p, std::complex<double> x0, std::complex<double> x1, Row&& row) {
  using cx::finite;
  using detail::complex;

  int k = 1;
  complex f0 = p(x0);
  complex f1 = p(x1);
  complex x2 = detail::secant_step<false>(x0, x1, f0, f1);
  if (!finite(x2)) {
    x2 = detail::ruled_secant_step(x0, x1, f0, f1);
  }
  complex f2 = p(x2);
  row(k, x2, f2);

  for (k = 2; detail::goes_on(x1, x2, f2); ++k) {
    if (k >= numiter) {
      return false;
    }
    complex x3 = detail::muller_step<false>(x0, x1, x2, f0, f1, f2);
    if (!finite(x3)) {
      x3 = detail::ruled_muller_step(x0, x1, x2, f0, f1, f2);
    }
    x0 = x1;
    f0 = f1;
    x1 = x2;
    f1 = f2;
    x2 = x3;
    f2 = p(x2);
    row(k, x2, f2);
  }
  return true;
}

// The search over f = z^4 + 1, the one the report runs.
template <class Row>
bool search(std::complex<double> x0, std::complex<double> x1, Row&& row) {
  return search_over([](std::complex<double> z) { return f(z); }, x0, x1, std::forward<Row>(row));
}

// Whether a converged search's last row (x, fx) is a zero: only a finite point with a finite residual
// is, since a NaN or an infinity can pass the convergence test as well as a zero can. The report's
// status and the map's colour both follow this one rule.
inline bool finite_end(std::complex<double> x, std::complex<double> fx) {
  return cx::finite(x) && cx::finite(fx);
}

}  // namespace muller::search
