// The problem under study: f(z) = z^4 + 1, its derivative, and the settings every search uses.
#pragma once

#include <complex>

#include "search/complex_ops.hpp"

namespace muller::search {

// Both tolerances are absolute and are compared with the modulus of a complex value.
inline constexpr double prec = 1e-12;   // on the last step, |x2 - x1|
inline constexpr double fprec = 1e-12;  // on the residual, |f(x2)|
inline constexpr int nprec = 10;        // significant digits of every real number in the report
// The row counter is tested against this limit after each row is written and before the next step, so
// a search that never converges stops after row 99 (the secant row and 98 Muller steps), not row 100.
inline constexpr int numiter = 100;

// z^4 + 1 as three complex products; the 1 is added to the real part alone, so that the imaginary part
// of the fourth power (and the sign of a zero there) passes through unchanged. Lane copy: F in
// map/kernel/search-inl.h.
inline std::complex<double> f(std::complex<double> z) {
  std::complex<double> p = cx::mul(z, z);
  p = cx::mul(p, z);
  p = cx::mul(p, z);
  return cx::add_one(p);
}

// 4z^3. Muller's search does not use it; Newton's and Halley's do (search/methods.hpp). Lane copy: FD in
// map/kernel/search-inl.h.
inline std::complex<double> fd(std::complex<double> z) {
  const std::complex<double> w(4.0, 0.0);
  return cx::mul(cx::mul(cx::mul(w, z), z), z);
}

}  // namespace muller::search
