// The problem under study: f(z) = z^4 + 1, its derivative, and the settings every search uses.
#pragma once

#include <complex>

// Both tolerances are absolute and are compared with the modulus of a complex value.
inline constexpr double prec = 1e-12;   // on the last step, |x2 - x1|
inline constexpr double fprec = 1e-12;  // on the residual, |f(x2)|
inline constexpr int nprec = 10;        // significant digits of every real number in the report
// The row counter is tested against this limit after each row is written and before the next step, so
// a search that never converges stops after row 99 (the secant row and 98 Muller steps), not row 100.
inline constexpr int numiter = 100;

// z^4 + 1 as three complex products; the 1 is added to the real part alone, so that the imaginary part
// of the fourth power (and the sign of a zero there) passes through unchanged.
inline std::complex<double> f(std::complex<double> z) {
  std::complex<double> p = z * z;
  p = p * z;
  p = p * z;
  return {p.real() + 1.0, p.imag()};
}

// 4z^3. The search does not use it; it completes the definition of the problem.
inline std::complex<double> fd(std::complex<double> z) {
  const std::complex<double> w(4.0, 0.0);
  return ((w * z) * z) * z;
}
