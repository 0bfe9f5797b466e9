// The search's complex arithmetic (namespace cx), written with IEEE-754 basic operations alone (+, -, *,
// /, the square root of a double, comparisons, fabs, copysign, scaling by powers of two), which round
// alike on every IEEE platform once contraction is off and no excess precision is kept, as the build
// ensures. The standard library's complex division, square root and modulus differ in their last bits
// from one platform and library to the next; these compute, on every platform, what GCC 12's runtime
// and glibc 2.36 compute on x86-64.
//
// The map's vector kernel runs the plain paths of the products, quotients, moduli, square roots and
// comparisons below in its lanes, operation for operation (map/kernel/lanes-inl.h): each one here names
// its lane copy, and a change to one must be made to the other (tests/kernel_test.cpp holds them
// together).
#pragma once

#include <cmath>
#include <complex>
#include <limits>

namespace muller::cx {

using complex = std::complex<double>;

// ---- NaNs
// IEEE 754 leaves the sign of a NaN to the processor, and the report shows it ("nan" or "-nan"). So one
// rule decides it everywhere, the one x86-64 follows in hardware: an operation whose result is a NaN
// gives its first operand if that is a NaN, else its second if that is, else a NaN with the sign bit
// set. Other processors make a positive NaN from numbers (0 * inf), and some one canonical NaN whatever
// the operands. (No operation here ever meets a signalling NaN, which x86-64 would quieten.)
inline double nan_result(double a, double b) {
  return std::isnan(a) ? a : std::isnan(b) ? b : -std::numeric_limits<double>::quiet_NaN();
}

// The four operations on doubles, with the rule applied when ruled is true. The complex operations below
// take the same choice: a caller runs them plain (ruled false) and runs them again ruled only where a
// NaN may have arisen, since whether a result is a NaN does not depend on the rule, only which NaN.
template <bool ruled>
double plus(double a, double b) {
  const double r = a + b;
  return ruled && std::isnan(r) ? nan_result(a, b) : r;
}
template <bool ruled>
double minus(double a, double b) {
  const double r = a - b;
  return ruled && std::isnan(r) ? nan_result(a, b) : r;
}
template <bool ruled>
double times(double a, double b) {
  const double r = a * b;
  return ruled && std::isnan(r) ? nan_result(a, b) : r;
}
template <bool ruled>
double over(double a, double b) {
  const double r = a / b;
  return ruled && std::isnan(r) ? nan_result(a, b) : r;
}

inline bool has_nan(complex z) { return std::isnan(z.real()) || std::isnan(z.imag()); }
inline bool finite(complex z) { return std::isfinite(z.real()) && std::isfinite(z.imag()); }

// ---- Sums and differences, part by part.
template <bool ruled>
complex add(complex z, complex w) {
  return {plus<ruled>(z.real(), w.real()), plus<ruled>(z.imag(), w.imag())};
}
template <bool ruled>
complex sub(complex z, complex w) {
  return {minus<ruled>(z.real(), w.real()), minus<ruled>(z.imag(), w.imag())};
}
// z + 1, on the real part alone, so that the imaginary part and the sign of a zero there pass unchanged.
inline complex add_one(complex z) { return {plus<true>(z.real(), 1.0), z.imag()}; }

// ---- Products
// (a + ib)(c + id) = (ac - bd) + i(ad + bc), each product and the sum rounded once.
template <bool ruled>
complex product_formula(double a, double b, double c, double d) {
  return {minus<ruled>(times<ruled>(a, c), times<ruled>(b, d)),
          plus<ruled>(times<ruled>(a, d), times<ruled>(b, c))};
}

// An infinite part as 1 and any other as 0, each with its sign: Annex G's "box" around an infinity.
inline double box(double v) { return std::copysign(std::isinf(v) ? 1.0 : 0.0, v); }

// When both parts of a product come out NaN an infinite factor or an overflow may be behind it, and C's
// rules for complex arithmetic (Annex G) want an infinity: an infinite factor is boxed, NaNs in the other
// factor become signed zeros, and the product is taken again, times infinity.
template <bool ruled>
[[gnu::cold, gnu::noinline]] complex product_recovered(double a, double b, double c, double d) {
  const auto nan_to_zero = [](double v) { return std::isnan(v) ? std::copysign(0.0, v) : v; };
  const bool z_infinite = std::isinf(a) || std::isinf(b);
  const bool w_infinite = std::isinf(c) || std::isinf(d);
  if (z_infinite || w_infinite) {
    a = z_infinite ? box(a) : nan_to_zero(a);
    b = z_infinite ? box(b) : nan_to_zero(b);
    c = w_infinite ? box(c) : nan_to_zero(c);
    d = w_infinite ? box(d) : nan_to_zero(d);
  } else if (std::isinf(a * c) || std::isinf(b * d) || std::isinf(a * d) || std::isinf(b * c)) {
    a = nan_to_zero(a);  // an overflow, which NaNs in the other parts hid
    b = nan_to_zero(b);
    c = nan_to_zero(c);
    d = nan_to_zero(d);
  } else {
    return product_formula<ruled>(a, b, c, d);
  }
  const double inf = std::numeric_limits<double>::infinity();
  const complex p = product_formula<ruled>(a, b, c, d);
  return {times<ruled>(inf, p.real()), times<ruled>(inf, p.imag())};
}

template <bool ruled>
complex product(double a, double b, double c, double d) {
  const complex p = product_formula<ruled>(a, b, c, d);
  if (!std::isnan(p.real()) || !std::isnan(p.imag())) {
    return p;
  }
  return product_recovered<ruled>(a, b, c, d);
}

// Lane copy: operator* on Z in map/kernel/lanes-inl.h.
template <bool ruled>
complex mul(complex z, complex w) {
  return product<ruled>(z.real(), z.imag(), w.real(), w.imag());
}

// A product on its own, for a caller that has nothing else to run again: plain, and ruled if need be.
[[gnu::cold, gnu::noinline]] inline complex ruled_mul(complex z, complex w) { return mul<true>(z, w); }
inline complex mul(complex z, complex w) {
  const complex r = mul<false>(z, w);
  return has_nan(r) ? ruled_mul(z, w) : r;
}

// ---- Quotients
// The NaN + iNaN that the quotient below gives where the true quotient is an infinity or a zero,
// recovered as Annex G asks: nonzero over zero is an infinity, infinite over finite an infinity, finite
// over infinite a zero. a, b, c and d are the operands as scaled; x and y the quotient found.
template <bool ruled>
[[gnu::cold, gnu::noinline]] complex quotient_recovered(double a, double b, double c, double d, double x,
                                                        double y) {
  const double inf = std::numeric_limits<double>::infinity();
  // k (a + ib)(c - id), the numerator of a quotient by c + id, times an infinity or a zero.
  const auto times_conjugate = [&](double k) {
    return complex(times<ruled>(k, plus<ruled>(times<ruled>(a, c), times<ruled>(b, d))),
                   times<ruled>(k, minus<ruled>(times<ruled>(b, c), times<ruled>(a, d))));
  };
  if (c == 0.0 && d == 0.0 && (!std::isnan(a) || !std::isnan(b))) {
    return {times<ruled>(std::copysign(inf, c), a), times<ruled>(std::copysign(inf, c), b)};
  }
  if ((std::isinf(a) || std::isinf(b)) && std::isfinite(c) && std::isfinite(d)) {
    a = box(a);
    b = box(b);
    return times_conjugate(inf);
  }
  if ((std::isinf(c) || std::isinf(d)) && std::isfinite(a) && std::isfinite(b)) {
    c = box(c);
    d = box(d);
    return times_conjugate(0.0);
  }
  return {x, y};
}

// Smith's method: for |c| >= |d|, with r = d/c and t = c + d r,
//     (a + ib) / (c + id) = ((a + b r) + i (b - a r)) / t,
// and the mirror image for |c| < |d|; the ratio r has modulus at most 1, so no square is formed and the
// denominator overflows only where the quotient does. Around it, the scalings that keep the operands in
// range, all by powers of two and so exact: a larger denominator part at or above half the largest
// double halves every operand (t can then not overflow); one below the machine epsilon, or a tiny
// numerator part beside a moderate denominator, scales every operand up by 2^52, away from the
// subnormals. When r itself is subnormal, b r would lose its digits, so the terms are formed as
// d (b / c) instead.
template <bool ruled>
complex quotient(double a, double b, double c, double d) {
  constexpr double big = std::numeric_limits<double>::max() / 2;
  constexpr double least_normal = std::numeric_limits<double>::min();
  constexpr double epsilon = std::numeric_limits<double>::epsilon();
  constexpr double up = 1 / epsilon;  // 2^52
  constexpr double moderate = big * epsilon;
  // Scales every operand by the same power of two, which leaves the quotient alone.
  const auto scale = [&](double factor) {
    a = times<ruled>(a, factor);
    b = times<ruled>(b, factor);
    c = times<ruled>(c, factor);
    d = times<ruled>(d, factor);
  };
  // Whether the numerator is tiny beside a moderate denominator part.
  const auto tiny_numerator = [&](double larger) {
    return (std::fabs(a) < least_normal && std::fabs(b) < moderate && larger < moderate) ||
           (std::fabs(b) < least_normal && std::fabs(a) < moderate && larger < moderate);
  };
  double x;
  double y;
  if (std::fabs(c) < std::fabs(d)) {
    if (std::fabs(d) >= big) {
      scale(0.5);
    }
    if (std::fabs(d) < epsilon || tiny_numerator(std::fabs(d))) {
      scale(up);
    }
    const double ratio = over<ruled>(c, d);
    const double denom = plus<ruled>(times<ruled>(c, ratio), d);
    if (std::fabs(ratio) > least_normal) {
      x = over<ruled>(plus<ruled>(times<ruled>(a, ratio), b), denom);
      y = over<ruled>(minus<ruled>(times<ruled>(b, ratio), a), denom);
    } else {
      x = over<ruled>(plus<ruled>(times<ruled>(c, over<ruled>(a, d)), b), denom);
      y = over<ruled>(minus<ruled>(times<ruled>(c, over<ruled>(b, d)), a), denom);
    }
  } else {
    if (std::fabs(c) >= big) {
      scale(0.5);
    }
    if (std::fabs(c) < epsilon || tiny_numerator(std::fabs(c))) {
      scale(up);
    }
    const double ratio = over<ruled>(d, c);
    const double denom = plus<ruled>(times<ruled>(d, ratio), c);
    if (std::fabs(ratio) > least_normal) {
      x = over<ruled>(plus<ruled>(times<ruled>(b, ratio), a), denom);
      y = over<ruled>(minus<ruled>(b, times<ruled>(a, ratio)), denom);
    } else {
      x = over<ruled>(plus<ruled>(a, times<ruled>(d, over<ruled>(b, c))), denom);
      y = over<ruled>(minus<ruled>(b, times<ruled>(d, over<ruled>(a, c))), denom);
    }
  }
  if (!std::isnan(x) || !std::isnan(y)) {
    return {x, y};
  }
  return quotient_recovered<ruled>(a, b, c, d, x, y);
}

// Lane copy: Quotient in map/kernel/lanes-inl.h.
template <bool ruled>
complex div(complex z, complex w) {
  return quotient<ruled>(z.real(), z.imag(), w.real(), w.imag());
}

// ---- Modulus
// |x + iy| for 0 <= y <= x, with x^2, y^2 and (x - y)^2 in range: h = sqrt(x^2 + y^2) is within about
// one ulp, and one Newton-like step with the rounding error of the squares, recovered exactly as in
// Borges, "An Improved Algorithm for hypot(a,b)" (2019), brings it well below one ulp (two forms, for x
// near y and for x far from it).
inline double hypot_kernel(double x, double y) {
  double h = std::sqrt(x * x + y * y);
  double t1;
  double t2;
  if (h <= 2.0 * y) {
    const double delta = h - y;
    t1 = x * (2.0 * delta - x);
    t2 = (delta - 2.0 * (x - y)) * delta;
  } else {
    const double delta = h - x;
    t1 = 2.0 * delta * (x - 2.0 * y);
    t2 = (4.0 * delta - y) * y + delta * delta;
  }
  h -= (t1 + t2) / (2.0 * h);
  return h;
}

// |z|: an infinite part gives infinity even beside a NaN; parts far apart give the larger (the smaller
// is below half an ulp of it); huge and tiny parts are scaled by 2^-600 or 2^600 around the kernel.
// Lane copy: Modulus in map/kernel/lanes-inl.h.
inline double abs(complex z) {
  constexpr double scale = 0x1p-600;
  constexpr double large = 0x1p+511;
  constexpr double tiny = 0x1p-459;
  constexpr double apart = 0x1p-54;
  const double re = z.real();
  const double im = z.imag();
  if (!std::isfinite(re) || !std::isfinite(im)) {
    return std::isinf(re) || std::isinf(im) ? std::numeric_limits<double>::infinity() : re + im;
  }
  const double x = std::fabs(re) < std::fabs(im) ? std::fabs(im) : std::fabs(re);
  const double y = std::fabs(re) < std::fabs(im) ? std::fabs(re) : std::fabs(im);
  if (x > large) {
    return y <= x * apart ? x + y : hypot_kernel(x * scale, y * scale) / scale;
  }
  if (y < tiny) {
    return x >= y / apart ? x + y : hypot_kernel(x / scale, y / scale) * scale;
  }
  return y <= x * apart ? x + y : hypot_kernel(x, y);
}

// ---- Square root
// The principal root r + is of x + iy by the half-angle formulas over the modulus m = |x + iy|:
//     x > 0:   r = sqrt((m + x) / 2),  s = y / (2r)
//     x <= 0:  s = sqrt((m - x) / 2),  r = |y| / (2s)
// each choosing the form without cancellation (2 r s = y), and the sign of s taken from y. Operands
// above a quarter of the largest double are scaled by 1/4 (the root by 1/2) so that m + x cannot
// overflow; operands both below twice the least normal are scaled by 2^54 (the root by 2^27). Zero and
// non-finite parts are settled first, as Annex G gives them, and apart:
inline complex sqrt_of_special(double x, double y) {
  constexpr double inf = std::numeric_limits<double>::infinity();
  constexpr double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr double least_normal = std::numeric_limits<double>::min();
  if (std::isinf(y)) {
    return {inf, y};
  }
  if (std::isinf(x)) {
    if (x < 0) {
      return {std::isnan(y) ? nan : 0.0, std::copysign(inf, y)};
    }
    return {x, std::isnan(y) ? nan : std::copysign(0.0, y)};
  }
  if (std::isnan(x) || std::isnan(y)) {
    return {nan, nan};
  }
  if (y == 0) {
    if (x < 0) {
      return {0.0, std::copysign(std::sqrt(-x), y)};
    }
    return {std::fabs(std::sqrt(x)), std::copysign(0.0, y)};
  }
  // x == 0
  const double r =
      std::fabs(y) >= 2 * least_normal ? std::sqrt(0.5 * std::fabs(y)) : 0.5 * std::sqrt(2 * std::fabs(y));
  return {r, std::copysign(r, y)};
}

// Lane copy: Root in map/kernel/lanes-inl.h.
inline complex sqrt(complex z) {
  constexpr double quarter_max = std::numeric_limits<double>::max() / 4;
  constexpr double least_normal = std::numeric_limits<double>::min();
  double x = z.real();
  double y = z.imag();
  if (!std::isfinite(x) || !std::isfinite(y) || x == 0 || y == 0) {
    return sqrt_of_special(x, y);
  }
  // How the root is scaled back: 1 where the operand was taken by 1/4 (the root times 2), -27 where it
  // was taken by 2^54 (the root times 2^-27).
  int scale = 0;
  if (std::fabs(x) > quarter_max) {
    scale = 1;
    x *= 0.25;
    y *= 0.25;
  } else if (std::fabs(y) > quarter_max) {
    scale = 1;
    x = std::fabs(x) >= 4 * least_normal ? x * 0.25 : 0.0;
    y *= 0.25;
  } else if (std::fabs(x) < 2 * least_normal && std::fabs(y) < 2 * least_normal) {
    scale = -27;
    x *= 0x1p54;
    y *= 0x1p54;
  }
  const double m = abs({x, y});
  double r;
  double s;
  if (x > 0) {
    r = std::sqrt(0.5 * (m + x));
    if (scale == 1 && std::fabs(y) < 1) {
      // y / (2r) formed before r is scaled back, so that it does not underflow on the way.
      s = y / r;
      r *= 2;
      scale = 0;
    } else {
      s = 0.5 * (y / r);
    }
  } else {
    s = std::sqrt(0.5 * (m - x));
    if (scale == 1 && std::fabs(y) < 1) {
      r = std::fabs(y / s);
      s *= 2;
      scale = 0;
    } else {
      r = std::fabs(0.5 * (y / s));
    }
  }
  if (scale == 1) {
    r *= 2;
    s *= 2;
  } else if (scale == -27) {
    r *= 0x1p-27;
    s *= 0x1p-27;
  }
  return {r, std::copysign(s, y)};
}

// ---- Comparisons of moduli
// The search only compares moduli, so it decides from squared norms n = x^2 + y^2 wherever that is
// safe, and takes the modulus above only in a narrow band. Argument: for normal squares, the computed n
// is within 2^-52 of |z|^2 relatively (two roundings of 2^-53), and abs() is within one ulp (2^-52) of
// |z|. A computed n beyond t^2 (1 + 2^-30) therefore means |z| > t (1 + 2^-32) and abs(z) >= t; below
// t^2 (1 - 2^-30), abs(z) < t; the same margin separates two moduli. Squares that underflow err by at
// most 2^-1074 each, nothing beside a norm of 2^-900 or more. A NaN norm goes to abs(), as does an
// infinite one where it is to be weighed against another. The band took 0.004 % of the search's
// comparisons on a 1024 x 1024 map, radius 2.
constexpr double margin = 0x1p-30;

inline double norm(complex z) { return z.real() * z.real() + z.imag() * z.imag(); }

// |z| >= t, for a t whose square is at least 2^-900 and finite. Lane copy: AtLeast in
// map/kernel/lanes-inl.h.
inline bool abs_at_least(complex z, double t) {
  const double n = norm(z);
  if (n > t * t * (1 + margin)) {
    return true;  // an infinite norm too: an infinite part, or |z| above 1e154
  }
  if (n < t * t * (1 - margin)) {
    return false;
  }
  return abs(z) >= t;  // the band, and NaN
}

// |z| > |w|. Lane copy: Greater in map/kernel/lanes-inl.h.
inline bool abs_greater(complex z, complex w) {
  constexpr double largest = std::numeric_limits<double>::max();
  constexpr double smallest_safe = 0x1p-900;
  const double nz = norm(z);
  const double nw = norm(w);
  if (nz <= largest && nw <= largest && (nz >= smallest_safe || nw >= smallest_safe)) {
    if (nz > nw * (1 + margin)) {
      return true;
    }
    if (nz < nw * (1 - margin)) {
      return false;
    }
  }
  return abs(z) > abs(w);
}

}  // namespace muller::cx
