// The lanes' arithmetic, compiled once for each instruction set (kernel.cpp includes it after
// <hwy/foreach_target.h>): kVectors hardware vectors as one value W, complex values Z, and the plain paths
// of the search's complex operations (search/complex_ops.hpp) lane by lane, each the same IEEE operations
// on the same operands in the same order as its scalar twin, named beside it. Where the scalar code
// branches on data, both sides are computed and one selected, or the lane is marked "off": it leaves,
// and the scalar search does its pixel again.
#if defined(MULLER_MAP_KERNEL_LANES_INL_H_) == defined(HWY_TARGET_TOGGLE)  // NOLINT(llvm-header-guard)
#ifdef MULLER_MAP_KERNEL_LANES_INL_H_
#undef MULLER_MAP_KERNEL_LANES_INL_H_
#else
#define MULLER_MAP_KERNEL_LANES_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>
#include <limits>

#include "map/kernel/wasm_f64-inl.h"
#include "search/complex_ops.hpp"

HWY_BEFORE_NAMESPACE();
namespace muller::map::kernel {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using Tag = hn::ScalableTag<double>;
using V = hn::Vec<Tag>;
using M = hn::Mask<Tag>;

// Hardware vectors per operation: enough to hide the latency of division and square root, few enough
// that the lanes' state stays in the registers. Measured on an Intel Xeon (family 6, model 167) with
// bench/roofline and builds of each choice: AVX2 (16 registers of 4 lanes) is fastest with two, 7 to
// 10 % ahead of four; SSE4 and SSSE3 (2 lanes a register) with four, 13 to 20 % ahead of two; AVX-512
// (32 registers) with four, as fast as two and 15 to 20 % ahead of eight. NEON, with 32 registers of 2
// lanes, takes four like SSE.
#ifdef MULLER_GROUP_VECTORS  // a build that measures another choice
constexpr std::size_t kVectors = MULLER_GROUP_VECTORS;
#elif HWY_TARGET == HWY_AVX2
constexpr std::size_t kVectors = 2;
#else
constexpr std::size_t kVectors = 4;
#endif
constexpr std::size_t kWidth = hn::MaxLanes(Tag());
constexpr std::size_t kLanes = kVectors * kWidth;

// ---- kVectors vectors as one value, and masks to match. The constructors are written out so that they
// are compiled for the target like everything here; GCC compiles implicit ones without it, and then
// cannot inline the vectors' own.
struct W {
  W() {}  // NOLINT(modernize-use-equals-default)
  V v[kVectors];
};
struct WM {
  WM() {}  // NOLINT(modernize-use-equals-default)
  M m[kVectors];
};

HWY_INLINE W Splat(double x) {
  W r;
  for (V& v : r.v) {
    v = hn::Set(Tag(), x);
  }
  return r;
}
HWY_INLINE W LoadW(const double* p) {
  W r;
  for (std::size_t u = 0; u < kVectors; ++u) {
    r.v[u] = hn::LoadU(Tag(), p + u * kWidth);
  }
  return r;
}
HWY_INLINE void StoreW(const W& w, double* p) {
  for (std::size_t u = 0; u < kVectors; ++u) {
    hn::StoreU(w.v[u], Tag(), p + u * kWidth);
  }
}

#define MULLER_W_BINARY(name, op)                \
  HWY_INLINE W name(const W& a, const W& b) {    \
    W r;                                         \
    for (std::size_t u = 0; u < kVectors; ++u) { \
      r.v[u] = op(a.v[u], b.v[u]);               \
    }                                            \
    return r;                                    \
  }
MULLER_W_BINARY(operator+, hn::Add)
MULLER_W_BINARY(operator-, hn::Sub)
MULLER_W_BINARY(operator*, hn::Mul)
MULLER_W_BINARY(operator/, hn::Div)
MULLER_W_BINARY(CopySign, hn::CopySign)
MULLER_W_BINARY(Max, hn::Max)
#undef MULLER_W_BINARY

#define MULLER_W_UNARY(name, op)                 \
  HWY_INLINE W name(const W& a) {                \
    W r;                                         \
    for (std::size_t u = 0; u < kVectors; ++u) { \
      r.v[u] = op(a.v[u]);                       \
    }                                            \
    return r;                                    \
  }
MULLER_W_UNARY(Abs, hn::Abs)
MULLER_W_UNARY(Sqrt, hn::Sqrt)
#undef MULLER_W_UNARY

#define MULLER_W_COMPARE(name, op)               \
  HWY_INLINE WM name(const W& a, const W& b) {   \
    WM r;                                        \
    for (std::size_t u = 0; u < kVectors; ++u) { \
      r.m[u] = op(a.v[u], b.v[u]);               \
    }                                            \
    return r;                                    \
  }
MULLER_W_COMPARE(operator<, hn::Lt)
MULLER_W_COMPARE(operator>, hn::Gt)
MULLER_W_COMPARE(operator<=, hn::Le)
MULLER_W_COMPARE(operator>=, hn::Ge)
MULLER_W_COMPARE(operator==, hn::Eq)
#undef MULLER_W_COMPARE

HWY_INLINE WM operator|(const WM& a, const WM& b) {
  WM r;
  for (std::size_t u = 0; u < kVectors; ++u) {
    r.m[u] = hn::Or(a.m[u], b.m[u]);
  }
  return r;
}
HWY_INLINE WM operator&(const WM& a, const WM& b) {
  WM r;
  for (std::size_t u = 0; u < kVectors; ++u) {
    r.m[u] = hn::And(a.m[u], b.m[u]);
  }
  return r;
}
HWY_INLINE WM Not(const WM& a) {
  WM r;
  for (std::size_t u = 0; u < kVectors; ++u) {
    r.m[u] = hn::Not(a.m[u]);
  }
  return r;
}
// |a| <= the largest double: false for infinities and NaNs. Two floating-point instructions, where
// Highway's IsFinite takes integer shifts and compares on some targets.
HWY_INLINE WM IsFinite(const W& a) { return Abs(a) <= Splat(std::numeric_limits<double>::max()); }

// The bits of a mask of kLanes lanes, lane l in bit l.
HWY_INLINE std::uint64_t MaskBits(const WM& m) {
  std::uint64_t all = 0;
  for (std::size_t u = 0; u < kVectors; ++u) {
    std::uint8_t b[8] = {};
    hn::StoreMaskBits(Tag(), m.m[u], b);
    all |= std::uint64_t{b[0]} << (u * kWidth);
  }
  return all;
}
HWY_INLINE WM None() {
  WM r;
  for (M& m : r.m) {
    m = hn::FirstN(Tag(), 0);
  }
  return r;
}
HWY_INLINE bool AllFalse(const WM& a) {
  bool none = true;
  for (const M& m : a.m) {
    none = none && hn::AllFalse(Tag(), m);
  }
  return none;
}
HWY_INLINE WM Select(const WM& m, const WM& yes, const WM& no) { return (m & yes) | (Not(m) & no); }
HWY_INLINE W Select(const WM& m, const W& yes, const W& no) {
  W r;
  for (std::size_t u = 0; u < kVectors; ++u) {
    r.v[u] = hn::IfThenElse(m.m[u], yes.v[u], no.v[u]);
  }
  return r;
}

// ---- Complex values, lane by lane, and the operations of search/complex_ops.hpp on their plain paths.
struct Z {
  W re;
  W im;
};

HWY_INLINE Z operator+(const Z& z, const Z& w) { return {z.re + w.re, z.im + w.im}; }
HWY_INLINE Z operator-(const Z& z, const Z& w) { return {z.re - w.re, z.im - w.im}; }
// cx::mul. Both parts NaN would send the scalar product to its recovery; the NaNs then reach a value the
// caller checks, and the lane leaves.
HWY_INLINE Z operator*(const Z& z, const Z& w) {
  return {z.re * w.re - z.im * w.im, z.re * w.im + z.im * w.re};
}
HWY_INLINE WM IsFinite(const Z& z) { return IsFinite(z.re) & IsFinite(z.im); }
HWY_INLINE Z Select(const WM& m, const Z& yes, const Z& no) {
  return {Select(m, yes.re, no.re), Select(m, yes.im, no.im)};
}

// cx::quotient with its two mirror-image branches selected lane by lane, and its scaling by 1/2 or 2^52
// as a factor (times 1 where there is none, which changes no bit). A subnormal ratio leaves.
HWY_INLINE Z Quotient(const Z& z, const Z& w, WM& off) {
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
  const W factor = Select(halve, Splat(0.5), Select(scale_up, Splat(1 / epsilon), Splat(1.0)));
  const W a = z.re * factor;
  const W b = z.im * factor;
  const W c = w.re * factor;
  const W d = w.im * factor;
  // Swapped (|c| < |d|): r = c / d, t = c r + d, x = (a r + b) / t, y = (b r - a) / t.
  // Not:                 r = d / c, t = d r + c, x = (b r + a) / t, y = (b - a r) / t.
  const W p = Select(swap, c, d);
  const W q = Select(swap, d, c);
  const W s = Select(swap, a, b);
  const W t = Select(swap, b, a);
  const W ratio = p / q;
  const W denom = p * ratio + q;
  // A ratio of exactly zero from a zero part p (a real or an imaginary divisor, common on the map's axes
  // and diagonals) is the scalar quotient's small-ratio branch in the same bits: there p (s / q) and
  // s ratio are zeros of the same sign, as long as s / q and t / q are finite, which the bound on the
  // numerator's parts ensures. Any other ratio that is not normal leaves.
  const WM zero_part = (p == Splat(0.0)) & (Max(Abs(s), Abs(t)) <= Abs(q) * Splat(0x1p+1000));
  off = off | (Not(Abs(ratio) > Splat(least_normal)) & Not(zero_part));
  const W tr = t * ratio;
  return {(s * ratio + t) / denom, Select(swap, tr - s, s - tr) / denom};
}

// cx::abs for finite parts that need no scaling (others leave), both forms of its correction computed
// and one selected.
HWY_INLINE W Modulus(const Z& z, WM& off) {
  const WM swap = Abs(z.re) < Abs(z.im);
  const W x = Select(swap, Abs(z.im), Abs(z.re));
  const W y = Select(swap, Abs(z.re), Abs(z.im));
  // Parts far apart give x + y, even where they are huge or tiny (abs tests x >= y 2^54 there, which
  // is exact); others that need abs's scalings leave.
  const WM large = x > Splat(0x1p+511);
  const WM tiny = Not(large) & (y < Splat(0x1p-459));
  const WM apart = (tiny & (x >= y * Splat(0x1p+54))) | (Not(tiny) & (y <= x * Splat(0x1p-54)));
  off = off | ((large | tiny) & Not(apart));
  const W h = Sqrt(x * x + y * y);
  const W two = Splat(2.0);
  const W near_delta = h - y;
  const W far_delta = h - x;
  const WM near = h <= two * y;
  const W t1 = Select(near, x * (two * near_delta - x), two * far_delta * (x - two * y));
  const W t2 = Select(near, (near_delta - two * (x - y)) * near_delta,
                      (Splat(4.0) * far_delta - y) * y + far_delta * far_delta);
  const W corrected = h - (t1 + t2) / (two * h);
  return Select(apart, x + y, corrected);
}

// cx::sqrt for finite parts. A part that is zero takes sqrt_of_special's formulas, selected lane by
// lane; otherwise the main path, for parts that need no scaling (others leave). Its two branches are
// one formula on |x|: for x < 0, m - x is m + |x| bit for bit.
HWY_INLINE Z Root(const Z& z, WM& off) {
  constexpr double quarter_max = std::numeric_limits<double>::max() / 4;
  constexpr double least_normal = std::numeric_limits<double>::min();
  const W zero = Splat(0.0);
  const W abs_x = Abs(z.re);
  const W abs_y = Abs(z.im);
  const WM y_zero = z.im == zero;
  const WM x_zero = z.re == zero;
  const WM negative = z.re < zero;
  const WM y_normal = abs_y >= Splat(2 * least_normal);
  WM main_off = (abs_x > Splat(quarter_max)) | (abs_y > Splat(quarter_max)) |
                ((abs_x < Splat(2 * least_normal)) & (abs_y < Splat(2 * least_normal)));
  const W m = Modulus(z, main_off);
  // One square root serves every case, of the operand the lane's case takes:
  // - main path: sqrt((m + |x|) / 2);
  // - y = 0: sqrt|x| on the side x is on (for x = -0, sqrt(-0) is -0 and its fabs +0, as sqrt(+0));
  // - x = 0: sqrt(|y| / 2), or sqrt(2|y|) / 2 where |y| / 2 would be subnormal.
  const W operand = Select(
      y_zero, abs_x,
      Select(x_zero, Select(y_normal, Splat(0.5) * abs_y, Splat(2.0) * abs_y), Splat(0.5) * (m + abs_x)));
  const W root = Sqrt(operand);
  const W other = Splat(0.5) * (z.im / root);
  const WM positive = z.re > zero;
  const Z main{Select(positive, root, Abs(other)), CopySign(Select(positive, other, root), z.im)};
  const Z on_axis{Select(negative, zero, root), CopySign(Select(negative, root, zero), z.im)};
  const W r = Select(y_normal, root, Splat(0.5) * root);
  const Z on_diagonal{r, CopySign(r, z.im)};
  off = off | Not(IsFinite(z)) | (Not(y_zero | x_zero) & main_off);
  return Select(y_zero, on_axis, Select(x_zero, on_diagonal, main));
}

// cx::abs_at_least decided from the squared norm; the band and NaN are returned in undecided.
HWY_INLINE WM AtLeast(const Z& z, double t, WM& undecided) {
  const W n = z.re * z.re + z.im * z.im;
  const WM above = n > Splat(t * t * (1 + cx::margin));
  const WM below = n < Splat(t * t * (1 - cx::margin));
  undecided = Not(above | below);
  return above;
}

// cx::abs_greater decided from the squared norms, and from the moduli in the band.
HWY_INLINE WM Greater(const Z& z, const Z& w, WM& off) {
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
  // Moduli too close to call from their squares, or squares out of range, as abs_greater settles them:
  // by the moduli themselves. Rare, so computed only for a group that has such a lane.
  WM unsure = Not(IsFinite(z) & IsFinite(w));
  const WM by_modulus = Modulus(z, unsure) > Modulus(w, unsure);
  off = off | (undecided & unsure);
  return greater | (undecided & by_modulus);
}

}  // namespace HWY_NAMESPACE
}  // namespace muller::map::kernel
HWY_AFTER_NAMESPACE();

#endif  // MULLER_MAP_KERNEL_LANES_INL_H_
