// A polynomial from its coefficients or its roots: the derivative's coefficients, and the roots'
// product expanded.
#include "search/polynomial.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace muller::search {

namespace {

using complex = std::complex<double>;

// -0 parts read as 0, so that a polynomial has one set of bits whichever way a zero was written.
complex without_negative_zeros(complex z) {
  return {z.real() == 0 ? 0.0 : z.real(), z.imag() == 0 ? 0.0 : z.imag()};
}

}  // namespace

Polynomial default_polynomial() { return from_coefficients({{1, 0}, {0, 0}, {0, 0}, {0, 0}, {1, 0}}); }

Polynomial from_coefficients(std::vector<std::complex<double>> c) {
  Polynomial p;
  for (complex& coefficient : c) {
    coefficient = without_negative_zeros(coefficient);
  }
  p.c = std::move(c);
  // Each part times its power, the rule of the derivative: once for d, again on d for dd.
  const auto derived = [](const std::vector<complex>& from) {
    std::vector<complex> to;
    const std::size_t n = from.size() - 1;
    for (std::size_t j = 0; j < n; ++j) {
      const auto power = static_cast<double>(n - j);
      to.emplace_back(power * from[j].real(), power * from[j].imag());
    }
    return to;
  };
  p.d = derived(p.c);
  p.dd = p.d.size() > 1 ? derived(p.d) : std::vector<complex>{};
  double largest = 0;
  for (const complex coefficient : p.c) {
    largest = std::max({largest, std::fabs(coefficient.real()), std::fabs(coefficient.imag())});
  }
  // Within -1022 to 1023, 2^scale and 2^-scale are both doubles, and the scaled coefficients exact
  // wherever they are normal (the derivatives' too: scaling by a power of two and rounding commute).
  p.scale = std::isfinite(largest) ? std::clamp(std::ilogb(largest), -1022, 1023) : 1023;
  const double factor = std::ldexp(1.0, -p.scale);
  const auto scaled = [factor](const std::vector<complex>& from) {
    std::vector<complex> to;
    to.reserve(from.size());
    for (const complex a : from) {
      to.emplace_back(a.real() * factor, a.imag() * factor);
    }
    return to;
  };
  p.scaled = scaled(p.c);
  p.scaled_d = scaled(p.d);
  p.scaled_dd = scaled(p.dd);
  return p;
}

Polynomial from_roots(std::vector<std::complex<double>> roots) {
  // Multiplies in one factor (z - r) at a time: c_k <- c_k - r c_{k-1}.
  std::vector<complex> c{{1.0, 0.0}};
  for (complex& r : roots) {
    r = without_negative_zeros(r);
    c.emplace_back(0.0, 0.0);
    for (std::size_t k = c.size() - 1; k >= 1; --k) {
      c[k] = cx::sub<true>(c[k], cx::mul(r, c[k - 1]));
    }
  }
  Polynomial p = from_coefficients(std::move(c));
  p.roots = std::move(roots);
  p.scale = 0;  // evaluated as the product, and monic: its own scale
  p.scaled = p.c;
  p.scaled_d = p.d;
  p.scaled_dd = p.dd;
  return p;
}

}  // namespace muller::search
