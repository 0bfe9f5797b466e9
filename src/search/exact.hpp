// Computations in more than double precision, from double operations alone: the exact sign of a cross
// product, and a polynomial's value as accurate as Horner's in twice the precision. Both rest on
// error-free transformations, which hold on every IEEE platform once contraction is off.
#pragma once

#include <complex>
#include <vector>

namespace muller::search {

// The sign (-1, 0 or 1) of a x b = a.re b.im - a.im b.re, exactly, for finite a and b.
int cross_sign(std::complex<double> a, std::complex<double> b);

// a(w) for coefficients a (highest power first) by compensated Horner, within about one rounding of the
// exact value plus the rounding of Horner's scheme in twice the precision.
std::complex<double> compensated_horner(const std::vector<std::complex<double>>& a, std::complex<double> w);

}  // namespace muller::search
