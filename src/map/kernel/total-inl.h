// The lanes' arithmetic on every value, compiled once for each instruction set: the search's complex
// operations (search/complex_ops.hpp) with the NaN rule, the recoveries of infinities and the rare
// scalings, lane by lane, each computing what its scalar twin computes with ruled true, bit for bit, NaN
// signs included. lanes-inl.h computes the common case faster and leaves the rest to these: a lane whose
// values overflow, or whose quotient, modulus or root needs a scaling, goes on here instead of leaving
// the lanes, so that every search of the map ends in its lane.
//
// The scalar search runs each step plain and again ruled only when the plain run cannot vouch for its
// result, and the ruled run gives the plain run's bits wherever the plain run vouches; its evaluations
// of p are ruled where a NaN arose. So the search's rows are these operations' results throughout.
//
// This is the slow path: it works on one hardware vector at a time (the drawer calls it for the vectors
// of a group that have such a lane, not for the whole group), and its larger operations are not
// inlined, so that it costs the compiler little beside the fast path.
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
namespace total {

// ---- One hardware vector of doubles.
HWY_INLINE V C(double x) { return hn::Set(Tag(), x); }
HWY_INLINE V AbsV(V a) { return hn::Abs(a); }
HWY_INLINE M NaNV(V a) { return hn::Not(hn::Eq(a, a)); }
HWY_INLINE M InfV(V a) { return hn::Eq(hn::Abs(a), C(std::numeric_limits<double>::infinity())); }
HWY_INLINE M FiniteV(V a) { return hn::Le(hn::Abs(a), C(std::numeric_limits<double>::max())); }
HWY_INLINE V Sel(M m, V yes, V no) { return hn::IfThenElse(m, yes, no); }
HWY_INLINE M OrM(M a, M b) { return hn::Or(a, b); }
HWY_INLINE M AndM(M a, M b) { return hn::And(a, b); }
HWY_INLINE M NotM(M a) { return hn::Not(a); }

// cx::plus, minus, times and over with ruled true: a NaN result is the first operand if that is a NaN,
// else the second if that is, else a NaN with the sign bit set (cx::nan_result).
HWY_INLINE V Ruled(V r, V a, V b) {
  return Sel(NaNV(r), Sel(NaNV(a), a, Sel(NaNV(b), b, C(-std::numeric_limits<double>::quiet_NaN()))), r);
}
HWY_INLINE V Plus(V a, V b) { return Ruled(hn::Add(a, b), a, b); }
HWY_INLINE V Minus(V a, V b) { return Ruled(hn::Sub(a, b), a, b); }
HWY_INLINE V Times(V a, V b) { return Ruled(hn::Mul(a, b), a, b); }
HWY_INLINE V Over(V a, V b) { return Ruled(hn::Div(a, b), a, b); }

// cx::box: an infinite part as 1 and any other as 0, each with its sign; and a NaN as a zero of its sign.
HWY_INLINE V Box(V v) { return hn::CopySign(Sel(InfV(v), C(1.0), C(0.0)), v); }
HWY_INLINE V NanToZero(V v) { return Sel(NaNV(v), hn::CopySign(C(0.0), v), v); }

// ---- Complex values in one hardware vector.
struct Z1 {
  V re;
  V im;
};
HWY_INLINE Z1 Sel(M m, const Z1& yes, const Z1& no) { return {Sel(m, yes.re, no.re), Sel(m, yes.im, no.im)}; }
HWY_INLINE Z1 Add(const Z1& z, const Z1& w) { return {Plus(z.re, w.re), Plus(z.im, w.im)}; }
HWY_INLINE Z1 Sub(const Z1& z, const Z1& w) { return {Minus(z.re, w.re), Minus(z.im, w.im)}; }
HWY_INLINE Z1 Constant(double re, double im) { return {C(re), C(im)}; }

// cx::product_formula.
HWY_INLINE Z1 ProductFormula(V a, V b, V c, V d) {
  return {Minus(Times(a, c), Times(b, d)), Plus(Times(a, d), Times(b, c))};
}

// cx::mul, ruled, with product_recovered where both parts come out NaN.
inline HWY_NOINLINE Z1 Mul(const Z1& z, const Z1& w) {
  const Z1 p = ProductFormula(z.re, z.im, w.re, w.im);
  const M both_nan = AndM(NaNV(p.re), NaNV(p.im));
  if (hn::AllFalse(Tag(), both_nan)) {
    return p;
  }
  const M z_infinite = OrM(InfV(z.re), InfV(z.im));
  const M w_infinite = OrM(InfV(w.re), InfV(w.im));
  const M overflow =
      AndM(NotM(OrM(z_infinite, w_infinite)), OrM(OrM(InfV(hn::Mul(z.re, w.re)), InfV(hn::Mul(z.im, w.im))),
                                                  OrM(InfV(hn::Mul(z.re, w.im)), InfV(hn::Mul(z.im, w.re)))));
  const M recovered = AndM(both_nan, OrM(OrM(z_infinite, w_infinite), overflow));
  const Z1 q = ProductFormula(
      Sel(z_infinite, Box(z.re), NanToZero(z.re)), Sel(z_infinite, Box(z.im), NanToZero(z.im)),
      Sel(w_infinite, Box(w.re), NanToZero(w.re)), Sel(w_infinite, Box(w.im), NanToZero(w.im)));
  const V inf = C(std::numeric_limits<double>::infinity());
  return Sel(recovered, Z1{Times(inf, q.re), Times(inf, q.im)}, p);
}

// cx::quotient, ruled: its scalings, both of its mirror-image branches and both forms of each (the ratio
// normal or not), and quotient_recovered where both parts come out NaN.
inline HWY_NOINLINE Z1 Div(const Z1& z, const Z1& w) {
  constexpr double big = std::numeric_limits<double>::max() / 2;
  constexpr double least_normal = std::numeric_limits<double>::min();
  constexpr double epsilon = std::numeric_limits<double>::epsilon();
  constexpr double moderate = big * epsilon;
  const M swap = hn::Lt(AbsV(w.re), AbsV(w.im));
  const V larger = Sel(swap, AbsV(w.im), AbsV(w.re));
  const M halve = hn::Ge(larger, C(big));
  const V abs_a = AbsV(z.re);
  const V abs_b = AbsV(z.im);
  const M moderate_larger = hn::Lt(larger, C(moderate));
  const M tiny_numerator =
      OrM(AndM(AndM(hn::Lt(abs_a, C(least_normal)), hn::Lt(abs_b, C(moderate))), moderate_larger),
          AndM(AndM(hn::Lt(abs_b, C(least_normal)), hn::Lt(abs_a, C(moderate))), moderate_larger));
  const M scale_up = AndM(NotM(halve), OrM(hn::Lt(larger, C(epsilon)), tiny_numerator));
  // Scaling by 1 changes no value, a NaN's bits included (the rule gives back a NaN operand as it is).
  const V factor = Sel(halve, C(0.5), Sel(scale_up, C(1 / epsilon), C(1.0)));
  const V a = Times(z.re, factor);
  const V b = Times(z.im, factor);
  const V c = Times(w.re, factor);
  const V d = Times(w.im, factor);
  const V p = Sel(swap, c, d);  // the smaller part of the divisor, and the larger
  const V q = Sel(swap, d, c);
  const V ratio = Over(p, q);
  const V denom = Plus(Times(p, ratio), q);
  // Swapped (|c| < |d|):  x = (a r + b) / t,        y = (b r - a) / t;
  //                       or (c (a / d) + b) / t,   (c (b / d) - a) / t for a ratio that is not normal.
  // Not:                  x = (b r + a) / t,        y = (b - a r) / t;
  //                       or (a + d (b / c)) / t,   (b - d (a / c)) / t.
  const M normal = hn::Gt(AbsV(ratio), C(least_normal));
  const V x_swapped = Sel(normal, Plus(Times(a, ratio), b), Plus(Times(c, Over(a, d)), b));
  const V y_swapped = Sel(normal, Minus(Times(b, ratio), a), Minus(Times(c, Over(b, d)), a));
  const V x_not = Sel(normal, Plus(Times(b, ratio), a), Plus(a, Times(d, Over(b, c))));
  const V y_not = Sel(normal, Minus(b, Times(a, ratio)), Minus(b, Times(d, Over(a, c))));
  const Z1 found{Over(Sel(swap, x_swapped, x_not), denom), Over(Sel(swap, y_swapped, y_not), denom)};
  const M both_nan = AndM(NaNV(found.re), NaNV(found.im));
  if (hn::AllFalse(Tag(), both_nan)) {
    return found;
  }
  // quotient_recovered, on the operands as scaled: nonzero over zero is an infinity, infinite over
  // finite an infinity, finite over infinite a zero; each k (a + ib)(c - id) for k infinite or zero.
  const V inf = C(std::numeric_limits<double>::infinity());
  const M over_zero = AndM(AndM(hn::Eq(c, C(0.0)), hn::Eq(d, C(0.0))), NotM(AndM(NaNV(a), NaNV(b))));
  const M infinite_over_finite =
      AndM(AndM(NotM(over_zero), OrM(InfV(a), InfV(b))), AndM(FiniteV(c), FiniteV(d)));
  const M finite_over_infinite = AndM(AndM(NotM(OrM(over_zero, infinite_over_finite)), OrM(InfV(c), InfV(d))),
                                      AndM(FiniteV(a), FiniteV(b)));
  const V signed_inf = hn::CopySign(inf, c);
  const Z1 zero_divisor{Times(signed_inf, a), Times(signed_inf, b)};
  const V ab = Sel(infinite_over_finite, Box(a), a);
  const V bb = Sel(infinite_over_finite, Box(b), b);
  const V cb = Sel(finite_over_infinite, Box(c), c);
  const V db = Sel(finite_over_infinite, Box(d), d);
  const V k = Sel(infinite_over_finite, inf, C(0.0));
  const Z1 conjugate{Times(k, Plus(Times(ab, cb), Times(bb, db))),
                     Times(k, Minus(Times(bb, cb), Times(ab, db)))};
  const Z1 recovered =
      Sel(over_zero, zero_divisor, Sel(OrM(infinite_over_finite, finite_over_infinite), conjugate, found));
  return Sel(both_nan, recovered, found);
}

// cx::hypot_kernel, for 0 <= y <= x with squares in range.
HWY_INLINE V HypotKernel(V x, V y) {
  const V two = C(2.0);
  const V h = hn::Sqrt(hn::Add(hn::Mul(x, x), hn::Mul(y, y)));
  const V near_delta = hn::Sub(h, y);
  const V far_delta = hn::Sub(h, x);
  const M near = hn::Le(h, hn::Mul(two, y));
  const V t1 = Sel(near, hn::Mul(x, hn::Sub(hn::Mul(two, near_delta), x)),
                   hn::Mul(hn::Mul(two, far_delta), hn::Sub(x, hn::Mul(two, y))));
  const V t2 =
      Sel(near, hn::Mul(hn::Sub(near_delta, hn::Mul(two, hn::Sub(x, y))), near_delta),
          hn::Add(hn::Mul(hn::Sub(hn::Mul(C(4.0), far_delta), y), y), hn::Mul(far_delta, far_delta)));
  return hn::Sub(h, hn::Div(hn::Add(t1, t2), hn::Mul(two, h)));
}

// cx::abs on every value: infinities and NaNs, and huge and tiny parts scaled by 2^-600 or 2^600.
inline HWY_NOINLINE V Modulus(const Z1& z) {
  const V scale = C(0x1p-600);
  const V apart = C(0x1p-54);
  const M swap = hn::Lt(AbsV(z.re), AbsV(z.im));
  const V x = Sel(swap, AbsV(z.im), AbsV(z.re));
  const V y = Sel(swap, AbsV(z.re), AbsV(z.im));
  const M large = hn::Gt(x, C(0x1p+511));
  const M tiny = AndM(NotM(large), hn::Lt(y, C(0x1p-459)));
  const V kernel = HypotKernel(Sel(large, hn::Mul(x, scale), Sel(tiny, hn::Div(x, scale), x)),
                               Sel(large, hn::Mul(y, scale), Sel(tiny, hn::Div(y, scale), y)));
  const V unscaled = Sel(large, hn::Div(kernel, scale), Sel(tiny, hn::Mul(kernel, scale), kernel));
  const M sum = OrM(AndM(tiny, hn::Ge(x, hn::Div(y, apart))), AndM(NotM(tiny), hn::Le(y, hn::Mul(x, apart))));
  const V finite = Sel(sum, hn::Add(x, y), unscaled);
  const V not_finite =
      Sel(OrM(InfV(z.re), InfV(z.im)), C(std::numeric_limits<double>::infinity()), hn::Add(z.re, z.im));
  return Sel(AndM(FiniteV(z.re), FiniteV(z.im)), finite, not_finite);
}

// cx::abs_at_least, from the squared norm and, in the band or for a NaN, from the modulus.
HWY_INLINE M AtLeast(const Z1& z, double t) {
  const V n = hn::Add(hn::Mul(z.re, z.re), hn::Mul(z.im, z.im));
  const M above = hn::Gt(n, C(t * t * (1 + cx::margin)));
  const M below = hn::Lt(n, C(t * t * (1 - cx::margin)));
  const M undecided = NotM(OrM(above, below));
  if (hn::AllFalse(Tag(), undecided)) {
    return above;
  }
  return OrM(above, AndM(undecided, hn::Ge(Modulus(z), C(t))));
}

// cx::abs_greater on every value.
HWY_INLINE M Greater(const Z1& z, const Z1& w) {
  const V nz = hn::Add(hn::Mul(z.re, z.re), hn::Mul(z.im, z.im));
  const V nw = hn::Add(hn::Mul(w.re, w.re), hn::Mul(w.im, w.im));
  const V largest = C(std::numeric_limits<double>::max());
  const V smallest_safe = C(0x1p-900);
  const M safe = AndM(AndM(hn::Le(nz, largest), hn::Le(nw, largest)),
                      OrM(hn::Ge(nz, smallest_safe), hn::Ge(nw, smallest_safe)));
  const M greater = AndM(safe, hn::Gt(nz, hn::Mul(nw, C(1 + cx::margin))));
  const M less = AndM(safe, hn::Lt(nz, hn::Mul(nw, C(1 - cx::margin))));
  const M undecided = NotM(OrM(greater, less));
  if (hn::AllFalse(Tag(), undecided)) {
    return greater;
  }
  return OrM(greater, AndM(undecided, hn::Gt(Modulus(z), Modulus(w))));
}

// cx::sqrt on every value: sqrt_of_special for zero and non-finite parts, and the scalings by 1/4 and
// 2^54 around the half-angle formulas.
inline HWY_NOINLINE Z1 Root(const Z1& z) {
  constexpr double quarter_max = std::numeric_limits<double>::max() / 4;
  constexpr double least_normal = std::numeric_limits<double>::min();
  const V zero = C(0.0);
  const V inf = C(std::numeric_limits<double>::infinity());
  const V nan = C(std::numeric_limits<double>::quiet_NaN());
  const V x0 = z.re;
  const V y0 = z.im;
  // sqrt_of_special, its cases in their order (the last selected first).
  const V r_diag = Sel(hn::Ge(AbsV(y0), C(2 * least_normal)), hn::Sqrt(hn::Mul(C(0.5), AbsV(y0))),
                       hn::Mul(C(0.5), hn::Sqrt(hn::Mul(C(2.0), AbsV(y0)))));
  Z1 special{r_diag, hn::CopySign(r_diag, y0)};  // x == 0
  special = Sel(hn::Eq(y0, zero),
                Sel(hn::Lt(x0, zero), Z1{zero, hn::CopySign(hn::Sqrt(AbsV(x0)), y0)},
                    Z1{AbsV(hn::Sqrt(x0)), hn::CopySign(zero, y0)}),
                special);  // y == 0
  special = Sel(OrM(NaNV(x0), NaNV(y0)), Z1{nan, nan}, special);
  special = Sel(InfV(x0),
                Sel(hn::Lt(x0, zero), Z1{Sel(NaNV(y0), nan, zero), hn::CopySign(inf, y0)},
                    Z1{x0, Sel(NaNV(y0), nan, hn::CopySign(zero, y0))}),
                special);
  special = Sel(InfV(y0), Z1{inf, y0}, special);
  const M is_special = OrM(NotM(AndM(FiniteV(x0), FiniteV(y0))), OrM(hn::Eq(x0, zero), hn::Eq(y0, zero)));
  // The main path, scaled as sqrt scales.
  const M quarter = hn::Gt(AbsV(x0), C(quarter_max));
  const M quarter_y = AndM(NotM(quarter), hn::Gt(AbsV(y0), C(quarter_max)));
  const M up = AndM(NotM(OrM(quarter, quarter_y)),
                    AndM(hn::Lt(AbsV(x0), C(2 * least_normal)), hn::Lt(AbsV(y0), C(2 * least_normal))));
  const M scaled_down = OrM(quarter, quarter_y);  // the root times 2 at the end
  const V x = Sel(quarter, hn::Mul(x0, C(0.25)),
                  Sel(quarter_y, Sel(hn::Ge(AbsV(x0), C(4 * least_normal)), hn::Mul(x0, C(0.25)), zero),
                      Sel(up, hn::Mul(x0, C(0x1p54)), x0)));
  const V y = Sel(scaled_down, hn::Mul(y0, C(0.25)), Sel(up, hn::Mul(y0, C(0x1p54)), y0));
  const V m = Modulus(Z1{x, y});
  const M positive = hn::Gt(x, zero);
  const V root = hn::Sqrt(hn::Mul(C(0.5), Sel(positive, hn::Add(m, x), hn::Sub(m, x))));
  // x > 0: r = root, s = y / (2r); x <= 0: s = root, r = |y / (2s)|. Where the operand was scaled by
  // 1/4 and |y| < 1, y / r is formed before the root is scaled back, and only the root is doubled.
  const M early = AndM(scaled_down, hn::Lt(AbsV(y), C(1.0)));
  const V other = Sel(early, hn::Div(y, root), hn::Mul(C(0.5), hn::Div(y, root)));
  V r = Sel(positive, root, AbsV(other));
  V s = Sel(positive, other, root);
  r = Sel(AndM(early, positive), hn::Mul(r, C(2.0)), r);
  s = Sel(AndM(early, NotM(positive)), hn::Mul(s, C(2.0)), s);
  const M twice = AndM(scaled_down, NotM(early));
  r = Sel(twice, hn::Mul(r, C(2.0)), Sel(up, hn::Mul(r, C(0x1p-27)), r));
  s = Sel(twice, hn::Mul(s, C(2.0)), Sel(up, hn::Mul(s, C(0x1p-27)), s));
  return Sel(is_special, special, Z1{r, hn::CopySign(s, y)});
}

// Vector u of a group's values, and the lanes of m set there to value.
HWY_INLINE Z1 Part(const Z& z, std::size_t u) { return {z.re.v[u], z.im.v[u]}; }
HWY_INLINE void Put(Z& z, std::size_t u, M m, const Z1& value) {
  z.re.v[u] = hn::IfThenElse(m, value.re, z.re.v[u]);
  z.im.v[u] = hn::IfThenElse(m, value.im, z.im.v[u]);
}

}  // namespace total
}  // namespace HWY_NAMESPACE
}  // namespace muller::map::kernel
HWY_AFTER_NAMESPACE();

#endif  // MULLER_MAP_KERNEL_TOTAL_INL_H_
