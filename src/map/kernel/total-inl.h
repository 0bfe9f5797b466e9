// The lanes' arithmetic on every value, compiled once for each instruction set: the search's complex
// operations (search/complex_ops.hpp) with the NaN rule, the recoveries of infinities and the rare
// scalings, lane by lane, each computing what its scalar twin computes with ruled true, bit for bit, NaN
// signs included. lanes-inl.h computes the common case faster and leaves the rest to these: a lane whose
// values overflow, or whose quotient, modulus or root needs a scaling, goes on here instead of leaving
// the lanes, so that every search of the map ends in its lane.
//
// The slow path of the lanes: its larger operations are not inlined, so that the drawer of each method
// on each instruction set stays a size the compiler handles in reasonable time.
//
// The scalar search runs each step plain and again ruled only when the plain run cannot vouch for its
// result, and the ruled run gives the plain run's bits wherever the plain run vouches; its evaluations
// of p are ruled where a NaN arose. So the search's rows are these operations' results throughout.
#if defined(MULLER_MAP_KERNEL_TOTAL_INL_H_) == defined(HWY_TARGET_TOGGLE)  // NOLINT(llvm-header-guard)
#ifdef MULLER_MAP_KERNEL_TOTAL_INL_H_
#undef MULLER_MAP_KERNEL_TOTAL_INL_H_
#else
#define MULLER_MAP_KERNEL_TOTAL_INL_H_
#endif

#include <hwy/highway.h>

#include <limits>

#include "map/kernel/lanes-inl.h"
#include "search/complex_ops.hpp"

HWY_BEFORE_NAMESPACE();
namespace muller::map::kernel {
namespace HWY_NAMESPACE {

// ---- Doubles. cx::plus, minus, times and over with ruled true: a NaN result is the first operand if
// that is a NaN, else the second if that is, else a NaN with the sign bit set (cx::nan_result).
HWY_INLINE WM IsNaN(const W& a) { return Not(a == a); }
HWY_INLINE WM IsInf(const W& a) { return Abs(a) == Splat(std::numeric_limits<double>::infinity()); }
HWY_INLINE W Ruled(const W& r, const W& a, const W& b) {
  const W made = Splat(-std::numeric_limits<double>::quiet_NaN());
  return Select(IsNaN(r), Select(IsNaN(a), a, Select(IsNaN(b), b, made)), r);
}
HWY_INLINE W Plus(const W& a, const W& b) { return Ruled(a + b, a, b); }
HWY_INLINE W Minus(const W& a, const W& b) { return Ruled(a - b, a, b); }
HWY_INLINE W Times(const W& a, const W& b) { return Ruled(a * b, a, b); }
HWY_INLINE W Over(const W& a, const W& b) { return Ruled(a / b, a, b); }

// cx::box: an infinite part as 1 and any other as 0, each with its sign.
HWY_INLINE W Box(const W& v) { return CopySign(Select(IsInf(v), Splat(1.0), Splat(0.0)), v); }
// A NaN as a zero of its sign, other values as they are.
HWY_INLINE W NanToZero(const W& v) { return Select(IsNaN(v), CopySign(Splat(0.0), v), v); }

// ---- Complex values.
HWY_INLINE Z AddR(const Z& z, const Z& w) { return {Plus(z.re, w.re), Plus(z.im, w.im)}; }
HWY_INLINE Z SubR(const Z& z, const Z& w) { return {Minus(z.re, w.re), Minus(z.im, w.im)}; }

// cx::product_formula.
HWY_INLINE Z ProductFormula(const W& a, const W& b, const W& c, const W& d) {
  return {Minus(Times(a, c), Times(b, d)), Plus(Times(a, d), Times(b, c))};
}

// cx::mul, ruled, with product_recovered where both parts come out NaN.
HWY_NOINLINE Z MulR(const Z& z, const Z& w) {
  const Z p = ProductFormula(z.re, z.im, w.re, w.im);
  const WM both_nan = IsNaN(p.re) & IsNaN(p.im);
  if (AllFalse(both_nan)) {
    return p;
  }
  const WM z_infinite = IsInf(z.re) | IsInf(z.im);
  const WM w_infinite = IsInf(w.re) | IsInf(w.im);
  const WM overflow = Not(z_infinite | w_infinite) &
                      (IsInf(z.re * w.re) | IsInf(z.im * w.im) | IsInf(z.re * w.im) | IsInf(z.im * w.re));
  const WM recovered = both_nan & (z_infinite | w_infinite | overflow);
  const W a = Select(z_infinite, Box(z.re), NanToZero(z.re));
  const W b = Select(z_infinite, Box(z.im), NanToZero(z.im));
  const W c = Select(w_infinite, Box(w.re), NanToZero(w.re));
  const W d = Select(w_infinite, Box(w.im), NanToZero(w.im));
  const Z q = ProductFormula(a, b, c, d);
  const W inf = Splat(std::numeric_limits<double>::infinity());
  return Select(recovered, Z{Times(inf, q.re), Times(inf, q.im)}, p);
}

// cx::quotient, ruled: its scalings, both of its mirror-image branches and both forms of each (the ratio
// normal or not), and quotient_recovered where both parts come out NaN.
HWY_NOINLINE Z DivR(const Z& z, const Z& w) {
  constexpr double big = std::numeric_limits<double>::max() / 2;
  constexpr double least_normal = std::numeric_limits<double>::min();
  constexpr double epsilon = std::numeric_limits<double>::epsilon();
  constexpr double moderate = big * epsilon;
  const WM swap = Abs(w.re) < Abs(w.im);
  const W larger = Select(swap, Abs(w.im), Abs(w.re));
  const WM halve = larger >= Splat(big);
  const W abs_a = Abs(z.re);
  const W abs_b = Abs(z.im);
  const WM tiny_numerator =
      ((abs_a < Splat(least_normal)) & (abs_b < Splat(moderate)) & (larger < Splat(moderate))) |
      ((abs_b < Splat(least_normal)) & (abs_a < Splat(moderate)) & (larger < Splat(moderate)));
  const WM scale_up = Not(halve) & ((larger < Splat(epsilon)) | tiny_numerator);
  // Scaling by 1 changes no value, a NaN's bits included (the rule gives back a NaN operand as it is).
  const W factor = Select(halve, Splat(0.5), Select(scale_up, Splat(1 / epsilon), Splat(1.0)));
  const W a = Times(z.re, factor);
  const W b = Times(z.im, factor);
  const W c = Times(w.re, factor);
  const W d = Times(w.im, factor);
  const W p = Select(swap, c, d);  // the smaller part of the divisor, and the larger
  const W q = Select(swap, d, c);
  const W ratio = Over(p, q);
  const W denom = Plus(Times(p, ratio), q);
  // Swapped (|c| < |d|):  x = (a r + b) / t,        y = (b r - a) / t;
  //                       or (c (a / d) + b) / t,   (c (b / d) - a) / t for a ratio that is not normal.
  // Not:                  x = (b r + a) / t,        y = (b - a r) / t;
  //                       or (a + d (b / c)) / t,   (b - d (a / c)) / t.
  const WM normal = Abs(ratio) > Splat(least_normal);
  const W x_swapped = Select(normal, Plus(Times(a, ratio), b), Plus(Times(c, Over(a, d)), b));
  const W y_swapped = Select(normal, Minus(Times(b, ratio), a), Minus(Times(c, Over(b, d)), a));
  const W x_not = Select(normal, Plus(Times(b, ratio), a), Plus(a, Times(d, Over(b, c))));
  const W y_not = Select(normal, Minus(b, Times(a, ratio)), Minus(b, Times(d, Over(a, c))));
  const W x = Over(Select(swap, x_swapped, x_not), denom);
  const W y = Over(Select(swap, y_swapped, y_not), denom);
  const WM both_nan = IsNaN(x) & IsNaN(y);
  if (AllFalse(both_nan)) {
    return {x, y};
  }
  // quotient_recovered, on the operands as scaled: nonzero over zero is an infinity, infinite over
  // finite an infinity, finite over infinite a zero; each k (a + ib)(c - id) for k infinite or zero.
  const W inf = Splat(std::numeric_limits<double>::infinity());
  const WM finite_a_b = IsFinite(a) & IsFinite(b);
  const WM finite_c_d = IsFinite(c) & IsFinite(d);
  const WM over_zero = (c == Splat(0.0)) & (d == Splat(0.0)) & Not(IsNaN(a) & IsNaN(b));
  const WM infinite_over_finite = Not(over_zero) & (IsInf(a) | IsInf(b)) & finite_c_d;
  const WM finite_over_infinite = Not(over_zero | infinite_over_finite) & (IsInf(c) | IsInf(d)) & finite_a_b;
  const W signed_inf = CopySign(inf, c);
  const Z zero_divisor{Times(signed_inf, a), Times(signed_inf, b)};
  const W ab = Select(infinite_over_finite, Box(a), a);
  const W bb = Select(infinite_over_finite, Box(b), b);
  const W cb = Select(finite_over_infinite, Box(c), c);
  const W db = Select(finite_over_infinite, Box(d), d);
  const W k = Select(infinite_over_finite, inf, Splat(0.0));
  const Z conjugate{Times(k, Plus(Times(ab, cb), Times(bb, db))),
                    Times(k, Minus(Times(bb, cb), Times(ab, db)))};
  const Z recovered = Select(over_zero, zero_divisor,
                             Select(infinite_over_finite | finite_over_infinite, conjugate, Z{x, y}));
  return Select(both_nan, recovered, Z{x, y});
}

// cx::hypot_kernel, for 0 <= y <= x with squares in range.
HWY_INLINE W HypotKernel(const W& x, const W& y) {
  const W two = Splat(2.0);
  const W h = Sqrt(x * x + y * y);
  const W near_delta = h - y;
  const W far_delta = h - x;
  const WM near = h <= two * y;
  const W t1 = Select(near, x * (two * near_delta - x), two * far_delta * (x - two * y));
  const W t2 = Select(near, (near_delta - two * (x - y)) * near_delta,
                      (Splat(4.0) * far_delta - y) * y + far_delta * far_delta);
  return h - (t1 + t2) / (two * h);
}

// cx::abs on every value: infinities and NaNs, and huge and tiny parts scaled by 2^-600 or 2^600.
HWY_NOINLINE W AbsT(const Z& z) {
  const W scale = Splat(0x1p-600);
  const W apart = Splat(0x1p-54);
  const WM swap = Abs(z.re) < Abs(z.im);
  const W x = Select(swap, Abs(z.im), Abs(z.re));
  const W y = Select(swap, Abs(z.re), Abs(z.im));
  const WM large = x > Splat(0x1p+511);
  const WM tiny = Not(large) & (y < Splat(0x1p-459));
  const W xs = Select(large, x * scale, Select(tiny, x / scale, x));
  const W ys = Select(large, y * scale, Select(tiny, y / scale, y));
  const W kernel = HypotKernel(xs, ys);
  const W unscaled = Select(large, kernel / scale, Select(tiny, kernel * scale, kernel));
  const WM sum = (tiny & (x >= y / apart)) | (Not(tiny) & (y <= x * apart));
  const W finite = Select(sum, x + y, unscaled);
  const W inf = Splat(std::numeric_limits<double>::infinity());
  const W not_finite = Select(IsInf(z.re) | IsInf(z.im), inf, z.re + z.im);
  return Select(IsFinite(z.re) & IsFinite(z.im), finite, not_finite);
}

// cx::abs_at_least, from the squared norm and, in the band or for a NaN, from the modulus.
HWY_NOINLINE WM AtLeastT(const Z& z, double t) {
  const W n = z.re * z.re + z.im * z.im;
  const WM above = n > Splat(t * t * (1 + cx::margin));
  const WM below = n < Splat(t * t * (1 - cx::margin));
  const WM undecided = Not(above | below);
  if (AllFalse(undecided)) {
    return above;
  }
  return above | (undecided & (AbsT(z) >= Splat(t)));
}

// cx::abs_greater on every value.
HWY_NOINLINE WM GreaterT(const Z& z, const Z& w) {
  const W nz = z.re * z.re + z.im * z.im;
  const W nw = w.re * w.re + w.im * w.im;
  const W largest = Splat(std::numeric_limits<double>::max());
  const W smallest_safe = Splat(0x1p-900);
  const WM safe = (nz <= largest) & (nw <= largest) & ((nz >= smallest_safe) | (nw >= smallest_safe));
  const WM greater = safe & (nz > nw * Splat(1 + cx::margin));
  const WM less = safe & (nz < nw * Splat(1 - cx::margin));
  const WM undecided = Not(greater | less);
  if (AllFalse(undecided)) {
    return greater;
  }
  return greater | (undecided & (AbsT(z) > AbsT(w)));
}

// cx::sqrt on every value: sqrt_of_special for zero and non-finite parts, and the scalings by 1/4 and
// 2^54 around the half-angle formulas.
HWY_NOINLINE Z SqrtT(const Z& z) {
  constexpr double quarter_max = std::numeric_limits<double>::max() / 4;
  constexpr double least_normal = std::numeric_limits<double>::min();
  const W zero = Splat(0.0);
  const W inf = Splat(std::numeric_limits<double>::infinity());
  const W nan = Splat(std::numeric_limits<double>::quiet_NaN());
  const W x0 = z.re;
  const W y0 = z.im;
  // sqrt_of_special, its cases in its order.
  const WM y_inf = IsInf(y0);
  const WM x_inf = IsInf(x0);
  const WM any_nan = IsNaN(x0) | IsNaN(y0);
  const W r_diag = Select(Abs(y0) >= Splat(2 * least_normal), Sqrt(Splat(0.5) * Abs(y0)),
                          Splat(0.5) * Sqrt(Splat(2.0) * Abs(y0)));
  Z special{r_diag, CopySign(r_diag, y0)};  // x == 0
  special =
      Select(y0 == zero,
             Select(x0 < zero, Z{zero, CopySign(Sqrt(Abs(x0)), y0)}, Z{Abs(Sqrt(x0)), CopySign(zero, y0)}),
             special);  // y == 0
  special = Select(any_nan, Z{nan, nan}, special);
  special = Select(x_inf,
                   Select(x0 < zero, Z{Select(IsNaN(y0), nan, zero), CopySign(inf, y0)},
                          Z{x0, Select(IsNaN(y0), nan, CopySign(zero, y0))}),
                   special);
  special = Select(y_inf, Z{inf, y0}, special);
  const WM is_special = Not(IsFinite(x0) & IsFinite(y0)) | (x0 == zero) | (y0 == zero);
  // The main path, scaled as sqrt scales.
  const WM quarter = Abs(x0) > Splat(quarter_max);
  const WM quarter_y = Not(quarter) & (Abs(y0) > Splat(quarter_max));
  const WM up =
      Not(quarter | quarter_y) & (Abs(x0) < Splat(2 * least_normal)) & (Abs(y0) < Splat(2 * least_normal));
  const W x = Select(quarter, x0 * Splat(0.25),
                     Select(quarter_y, Select(Abs(x0) >= Splat(4 * least_normal), x0 * Splat(0.25), zero),
                            Select(up, x0 * Splat(0x1p54), x0)));
  const W y = Select(quarter | quarter_y, y0 * Splat(0.25), Select(up, y0 * Splat(0x1p54), y0));
  const WM scaled_down = quarter | quarter_y;  // scale 1: the root times 2
  const W m = AbsT(Z{x, y});
  const WM positive = x > zero;
  const W root = Sqrt(Select(positive, Splat(0.5) * (m + x), Splat(0.5) * (m - x)));
  const WM early = scaled_down & (Abs(y) < Splat(1.0));  // y / (2r) formed before r is scaled back
  // x > 0: r = root, s = y / (2r);  x <= 0: s = root, r = |y / (2s)|.
  const W other = Select(early, y / root, Splat(0.5) * (y / root));
  W r = Select(positive, root, Abs(other));
  W s = Select(positive, other, root);
  r = Select(early, Select(positive, r * Splat(2.0), r), r);
  s = Select(early, Select(positive, s, s * Splat(2.0)), s);
  const WM times_two = scaled_down & Not(early);
  r = Select(times_two, r * Splat(2.0), Select(up, r * Splat(0x1p-27), r));
  s = Select(times_two, s * Splat(2.0), Select(up, s * Splat(0x1p-27), s));
  const Z main{r, CopySign(s, y)};
  return Select(is_special, special, main);
}

}  // namespace HWY_NAMESPACE
}  // namespace muller::map::kernel
HWY_AFTER_NAMESPACE();

#endif  // MULLER_MAP_KERNEL_TOTAL_INL_H_
