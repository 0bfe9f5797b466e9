// A polynomial from its coefficients or its roots: the derivative's coefficients, and the roots'
// product expanded.
#include "search/polynomial.hpp"

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
  return p;
}

}  // namespace muller::search
