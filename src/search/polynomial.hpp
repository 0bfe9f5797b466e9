// A polynomial p of degree 1 to 20 with complex coefficients, given by its coefficients or by its roots,
// read from the user's text, and evaluated by one rule that reproduces f and fd bit for bit on z^4 + 1.
//
// Coefficients c_n, ..., c_0 (highest power first) are evaluated by sparse Horner:
//
//     p = c_n,  then for k = n-1, ..., 0:  p = p z,  Re p += Re c_k  if Re c_k != 0,  Im p += Im c_k  if Im
//     c_k != 0,
//
// except that a monic p (c_n = 1, n >= 1) starts its first step from z itself, without the product 1 z.
//
// Adding only a coefficient's nonzero parts is what f does with its 1 (on the real part alone): a zero
// added to a -0 part would turn it into +0, and 1 z would turn an infinite z's zero part into NaN, and
// either can reach a report or a map. Plain Horner differs from f only there; sparse Horner is exact
// wherever plain Horner is, so it is a definition, not an approximation. The derivative is the same rule
// on the coefficients n c_n, ..., 1 c_1; for z^4 + 1 that is 4 z z z, which is fd.
//
// Roots r_1, ..., r_n are evaluated as the product
//
//     p = (z - r_1)(z - r_2) ... (z - r_n),
//
// left to right, which keeps the relative accuracy near a multiple root that the expanded form loses.
// Every zero part of a root is +0 (-0 is read as 0), and z - (+0) is z exactly, signs of zeros included.
//
// Both forms run in cx's operations, with the NaN rule, so that every platform gets the same bits.
//
// The scale of p is a power of two 2^s: in the coefficient form, 2^s <= m < 2^(s+1) for m the largest part
// (real or imaginary) of its coefficients, s kept within -1022 to 1023; in the roots form, which is monic
// and has no other multiple, 1. The search runs on p 2^-s, whose coefficients are p's times an exact power
// of two, so its residual test |p 2^-s| < fprec measures |p| against p's scale, and p and any multiple of p
// by a power of two are searched on the same values, bit for bit: the same map at any scale. For z^4 + 1,
// and every polynomial whose largest part lies in [1, 2), s is 0 and the search runs on p itself.
#pragma once

#include <complex>
#include <vector>

#include "search/complex_ops.hpp"

namespace muller::search {

inline constexpr int max_degree = 20;

struct Polynomial {
  // The coefficients, highest power first, c.size() == degree + 1, the first nonzero; in the roots form,
  // the product expanded (used for the derivative and for the root finder's residuals, never to
  // evaluate p itself).
  std::vector<std::complex<double>> c;
  // The derivative's coefficients, k c_k for k = n, ..., 1, each part multiplied by k.
  std::vector<std::complex<double>> d;
  // The second derivative's: the same rule on d's, (k - 1) d_k for k = n - 1, ..., 1; none below degree 2.
  std::vector<std::complex<double>> dd;
  // The roots as given, in the roots form; empty in the coefficient form.
  std::vector<std::complex<double>> roots;
  // p's scale is 2^scale (0 in the roots form), and these are c, d and dd times 2^-scale, the
  // coefficients the searches evaluate: c, d and dd themselves when scale is 0.
  int scale = 0;
  std::vector<std::complex<double>> scaled;
  std::vector<std::complex<double>> scaled_d;
  std::vector<std::complex<double>> scaled_dd;

  int degree() const { return static_cast<int>(c.size()) - 1; }
  bool by_roots() const { return !roots.empty(); }
};

// z^4 + 1, the map's polynomial when the user gives none.
Polynomial default_polynomial();

// The polynomial from its coefficients (highest power first; the leading one nonzero, degree 1 to 20).
Polynomial from_coefficients(std::vector<std::complex<double>> c);
// The polynomial from its roots (1 to 20), expanded by cx's operations.
Polynomial from_roots(std::vector<std::complex<double>> roots);

namespace detail {

// Re p += Re c and Im p += Im c, each only where that part of c is nonzero.
inline std::complex<double> add_sparse(std::complex<double> p, std::complex<double> c) {
  const double re = c.real() != 0 ? cx::plus<true>(p.real(), c.real()) : p.real();
  const double im = c.imag() != 0 ? cx::plus<true>(p.imag(), c.imag()) : p.imag();
  return {re, im};
}

// Sparse Horner on c[0..n] (highest power first).
inline std::complex<double> horner(const std::complex<double>* c, int n, std::complex<double> z) {
  const bool monic = n >= 1 && c[0] == std::complex<double>(1.0, 0.0);
  std::complex<double> p = monic ? add_sparse(z, c[1]) : c[0];  // 1 z + c_{n-1}, without the product
  for (int k = monic ? 2 : 1; k <= n; ++k) {
    p = add_sparse(cx::mul(p, z), c[k]);
  }
  return p;
}

}  // namespace detail

// p(z), by the form p was given in.
inline std::complex<double> evaluate(const Polynomial& p, std::complex<double> z) {
  if (p.by_roots()) {
    std::complex<double> product = cx::sub<true>(z, p.roots[0]);
    for (std::size_t k = 1; k < p.roots.size(); ++k) {
      product = cx::mul(product, cx::sub<true>(z, p.roots[k]));
    }
    return product;
  }
  return detail::horner(p.c.data(), p.degree(), z);
}

// p(z) 2^-scale, the values the search runs on: the roots' product as evaluate() forms it, or sparse
// Horner on the scaled coefficients. Lane copy: LanePolynomial in map/kernel/search-inl.h.
inline std::complex<double> evaluate_scaled(const Polynomial& p, std::complex<double> z) {
  return p.by_roots() ? evaluate(p, z) : detail::horner(p.scaled.data(), p.degree(), z);
}

// p'(z), by sparse Horner on the derivative's coefficients.
inline std::complex<double> derivative(const Polynomial& p, std::complex<double> z) {
  return detail::horner(p.d.data(), p.degree() - 1, z);
}

// p''(z), by sparse Horner on the second derivative's coefficients; 0 for a polynomial of degree 1.
inline std::complex<double> second_derivative(const Polynomial& p, std::complex<double> z) {
  return p.dd.empty() ? std::complex<double>(0.0, 0.0) : detail::horner(p.dd.data(), p.degree() - 2, z);
}

// p'(z) 2^-scale and p''(z) 2^-scale, for the methods that use them beside p(z) 2^-scale. Lane copies:
// LanePolynomial of scaled_d and scaled_dd in map/kernel/search-inl.h.
inline std::complex<double> derivative_scaled(const Polynomial& p, std::complex<double> z) {
  return detail::horner(p.scaled_d.data(), p.degree() - 1, z);
}
inline std::complex<double> second_derivative_scaled(const Polynomial& p, std::complex<double> z) {
  return p.scaled_dd.empty() ? std::complex<double>(0.0, 0.0)
                             : detail::horner(p.scaled_dd.data(), p.degree() - 2, z);
}

}  // namespace muller::search
