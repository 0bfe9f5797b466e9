// The secant method, Newton's and Halley's beside Muller's (search.hpp), on f or any polynomial: the
// same stopping rule and limit, each handing its rows to its caller and formatting nothing.
//
//     secant:  x2 = x1 - f1 (x1 - x0) / (f1 - f0), then x0 <- x1, x1 <- x2   (Muller's first step, again)
//     Newton:  x2 = x1 - p(x1) / p'(x1)                                       (from x1; x0 unused)
//     Halley:  x2 = x1 - 2 p p' / (2 p'^2 - p p''), all at x1                 (from x1; x0 unused)
//
// At a simple root they converge with orders (1 + sqrt 5) / 2 = 1.618 (secant), 1.839 (Muller), 2
// (Newton) and 3 (Halley); at a multiple root each slows to linear. A zero derivative or denominator
// divides by zero, as equal start points do in Muller's: the search runs on in non-finite values and
// ends as a non-finite search does, never on a root.
#pragma once

#include <cmath>
#include <complex>
#include <cstring>
#include <string>
#include <utility>

#include "search/complex_ops.hpp"
#include "search/polynomial.hpp"
#include "search/problem.hpp"
#include "search/search.hpp"

namespace muller::search {

enum class Method { secant, muller, newton, halley };
inline constexpr Method methods[] = {Method::secant, Method::muller, Method::newton, Method::halley};

// A method's names: in options and addresses ("secant"), in a report's title ("Secante") and in its
// summary and failure lines ("secante"), ASCII as the report is.
struct MethodNames {
  const char* key;
  const char* title;
  const char* word;
};
inline MethodNames names(Method m) {
  static constexpr MethodNames all[] = {{"secant", "Secante", "secante"},
                                        {"muller", "Muller", "muller"},
                                        {"newton", "Newton", "newton"},
                                        {"halley", "Halley", "halley"}};
  return all[static_cast<int>(m)];
}
// The method named key, or false.
inline bool method_named(const std::string& key, Method& m) {
  for (const Method candidate : methods) {
    if (key == names(candidate).key) {
      m = candidate;
      return true;
    }
  }
  return false;
}

// What the methods evaluate: p, and for Newton's and Halley's p' and p''. z^4 + 1 by f, fd and 12 z^2
// (the second derivative's coefficients 12, 0, 0 by sparse Horner: (12 z) z), and any polynomial by its
// coefficients' rule, scaled: the methods run on p 2^-scale (search/polynomial.hpp), so that the
// residual test measures p against its scale and p's multiples by powers of two take the same steps, and
// each row's value is handed back times 2^scale, p's own wherever it is in range. Lane copies: FD and
// FDD, and LanePolynomial of scaled_d and scaled_dd, in map/kernel/search-inl.h.
// NOLINTBEGIN(readability-convert-member-functions-to-static): members like OfPolynomial's, for one template
struct Z4Plus1 {
  std::complex<double> value(std::complex<double> z) const { return f(z); }
  std::complex<double> first(std::complex<double> z) const { return fd(z); }
  std::complex<double> second(std::complex<double> z) const {
    return cx::mul(cx::mul(std::complex<double>(12.0, 0.0), z), z);
  }
  int scale() const { return 0; }
};
// NOLINTEND(readability-convert-member-functions-to-static)
struct OfPolynomial {
  const Polynomial& p;
  std::complex<double> value(std::complex<double> z) const { return evaluate_scaled(p, z); }
  std::complex<double> first(std::complex<double> z) const { return derivative_scaled(p, z); }
  std::complex<double> second(std::complex<double> z) const { return second_derivative_scaled(p, z); }
  int scale() const { return p.scale; }
};

namespace detail {

// Newton's step, and Halley's, each run plain and, when it cannot vouch for its result, ruled (as the
// steps of search.hpp are). Lane copies: NewtonStep and HalleyStep in map/kernel/search-inl.h.
template <bool ruled>
complex newton_step(complex x, complex fx, complex dx) {
  const complex x2 = cx::sub<ruled>(x, cx::div<ruled>(fx, dx));
  return ruled || (finite(dx) && finite(x2)) ? x2 : unvouched;
}

template <bool ruled>
complex halley_step(complex x, complex fx, complex dx, complex ddx) {
  const complex two(2.0, 0.0);
  const complex divisor =
      cx::sub<ruled>(cx::mul<ruled>(two, cx::mul<ruled>(dx, dx)), cx::mul<ruled>(fx, ddx));
  const complex x2 = cx::sub<ruled>(x, cx::div<ruled>(cx::mul<ruled>(two, cx::mul<ruled>(fx, dx)), divisor));
  return ruled || (finite(divisor) && finite(x2)) ? x2 : unvouched;
}

[[gnu::cold, gnu::noinline]] inline complex ruled_newton_step(complex x, complex fx, complex dx) {
  return newton_step<true>(x, fx, dx);
}
[[gnu::cold, gnu::noinline]] inline complex ruled_halley_step(complex x, complex fx, complex dx,
                                                              complex ddx) {
  return halley_step<true>(x, fx, dx, ddx);
}

// The next point of the secant, Newton's or Halley's method from x1 (and x0 for the secant).
template <class E>
complex next_point(Method m, const E& e, complex x0, complex x1, complex f0, complex f1) {
  complex x2;
  if (m == Method::secant) {
    x2 = secant_step<false>(x0, x1, f0, f1);
    return finite(x2) ? x2 : ruled_secant_step(x0, x1, f0, f1);
  }
  const complex d1 = e.first(x1);
  if (m == Method::newton) {
    x2 = newton_step<false>(x1, f1, d1);
    return finite(x2) ? x2 : ruled_newton_step(x1, f1, d1);
  }
  const complex dd1 = e.second(x1);
  x2 = halley_step<false>(x1, f1, d1, dd1);
  return finite(x2) ? x2 : ruled_halley_step(x1, f1, d1, dd1);
}

}  // namespace detail

// The search by method m over e (Z4Plus1, OfPolynomial, or anything with value, first and second) from
// x0 and x1, with search_over's contract: row(k, x, p(x)) for each point computed from k = 1, true
// when the residual and the last step fell below their tolerances, false after row 99. Muller's method
// is search_over itself.
template <class E, class Row>
bool search_by(Method m, const E& e, std::complex<double> x0, std::complex<double> x1, Row&& given) {
  using detail::complex;
  const double back = std::ldexp(1.0, e.scale());
  const auto row = [&given, &e, back](int k, complex x, complex fx) {
    given(k, x,
          e.scale() == 0 ? fx : complex(cx::times<true>(fx.real(), back), cx::times<true>(fx.imag(), back)));
  };
  if (m == Method::muller) {
    return search_over([&e](complex z) { return e.value(z); }, x0, x1, row);
  }
  complex f0 = m == Method::secant ? e.value(x0) : complex();
  complex f1 = e.value(x1);
  complex x2 = detail::next_point(m, e, x0, x1, f0, f1);
  complex f2 = e.value(x2);
  row(1, x2, f2);
  for (int k = 2; detail::goes_on(x1, x2, f2); ++k) {
    if (k >= numiter) {
      return false;
    }
    x0 = x1;
    f0 = f1;
    x1 = x2;
    f1 = f2;
    x2 = detail::next_point(m, e, x0, x1, f0, f1);
    f2 = e.value(x2);
    row(k, x2, f2);
  }
  return true;
}

}  // namespace muller::search
