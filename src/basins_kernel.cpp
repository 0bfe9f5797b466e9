// The map on the vector units (see basins_kernel.hpp): one source, compiled by Highway for each
// instruction set the build targets, the best one the processor runs chosen at run time.
//
// A search is a serial chain of divisions and square roots, so one search leaves a core's vector units
// idle. Here each lane follows its own search, kLanes of them side by side (several hardware vectors
// together, to hide the latency of division and square root), and a lane whose search ends takes the
// next pixel. Every lane evaluates the expression tree of the scalar search's plain path (search.hpp,
// complex_ops.hpp) operation for operation: the same IEEE operations on the same operands in the same
// order, so the same bits. Where the scalar code branches on data, both sides are computed and one is
// selected, or the lane leaves ("off" below) and outcome() does its pixel again.
#include "basins_kernel.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "basins.hpp"
#include "complex_ops.hpp"
#include "problem.hpp"

// The lanes' state lives in arrays and structs of several vectors, which the sizeless vectors of SVE
// and of RISC-V's V extension cannot be put in; NEON serves arm64.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128 | HWY_RVV)
#endif
// AVX-512 with the Ice Lake extensions is a target of its own, which Highway compiles only when asked;
// a build for such a processor (-march=native here) makes it the baseline and must have it.
#ifndef HWY_WANT_AVX3_DL
#define HWY_WANT_AVX3_DL
#endif
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "basins_kernel.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace basins_kernel {
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
HWY_INLINE W Select(const WM& m, const W& yes, const W& no) {
  W r;
  for (std::size_t u = 0; u < kVectors; ++u) {
    r.v[u] = hn::IfThenElse(m.m[u], yes.v[u], no.v[u]);
  }
  return r;
}

// ---- Complex values, lane by lane, and the operations of complex_ops.hpp on their plain paths.
struct Z {
  W re;
  W im;
};

HWY_INLINE Z operator+(const Z& z, const Z& w) { return {z.re + w.re, z.im + w.im}; }
HWY_INLINE Z operator-(const Z& z, const Z& w) { return {z.re - w.re, z.im - w.im}; }
// Both parts NaN would send the scalar product to its recovery; the NaNs then reach a value the
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

HWY_INLINE Z F(const Z& z) {
  Z p = z * z;
  p = p * z;
  p = p * z;
  return {p.re + Splat(1.0), p.im};
}

// Any other polynomial as evaluate() computes it (polynomial.hpp), its coefficients or roots the same in
// every lane: sparse Horner, adding only a coefficient's nonzero parts, or the product of the factors
// z - r. Products and sums are the scalar ones wherever the value comes out finite (a product that
// meets a NaN or an infinity is not finite at the end either), and the caller sends every lane whose
// value is not finite to outcome().
class LanePolynomial {
 public:
  explicit LanePolynomial(const Polynomial& p) : by_roots_(p.by_roots()) {
    for (const std::complex<double> c : p.by_roots() ? p.roots : p.c) {
      re_.push_back(c.real());
      im_.push_back(c.imag());
    }
    monic_ = !by_roots_ && p.degree() >= 1 && p.c[0] == std::complex<double>(1.0, 0.0);
  }

  HWY_INLINE Z operator()(const Z& z) const {
    const std::size_t n = re_.size();
    if (by_roots_) {
      Z p = z - Constant(0);
      for (std::size_t k = 1; k < n; ++k) {
        p = p * (z - Constant(k));
      }
      return p;
    }
    Z p = monic_ ? AddSparse(z, 1) : Constant(0);
    for (std::size_t k = monic_ ? 2 : 1; k < n; ++k) {
      p = AddSparse(p * z, k);
    }
    return p;
  }

 private:
  HWY_INLINE Z Constant(std::size_t k) const { return {Splat(re_[k]), Splat(im_[k])}; }
  HWY_INLINE Z AddSparse(const Z& p, std::size_t k) const {
    return {re_[k] != 0 ? p.re + Splat(re_[k]) : p.re, im_[k] != 0 ? p.im + Splat(im_[k]) : p.im};
  }

  bool by_roots_;
  bool monic_ = false;
  std::vector<double> re_;  // coefficients, highest power first, or roots
  std::vector<double> im_;
};

// The convergence test of search(): whether the search stops after the row (x2, f2) reached from x1;
// a test the scalar search would take from the modulus itself leaves.
HWY_INLINE WM Stops(const Z& x1, const Z& x2, const Z& f2, WM& off) {
  WM residual_undecided;
  WM step_undecided;
  const WM residual_large = AtLeast(f2, fprec, residual_undecided);
  const WM step_large = AtLeast(x2 - x1, prec, step_undecided);
  // Like the scalar ||, the step is not looked at where the residual already keeps the search going.
  off = off | residual_undecided | (Not(residual_large) & step_undecided);
  return Not(residual_large) & Not(step_large);
}

// search_detail::muller_step, plain; a lane where the scalar step would not vouch for its result leaves.
HWY_INLINE Z MullerStep(const Z& x0, const Z& x1, const Z& x2, const Z& f0, const Z& f1, const Z& f2,
                        WM& off) {
  const Z two{Splat(2.0), Splat(0.0)};
  const Z four{Splat(4.0), Splat(0.0)};
  const Z h0 = x1 - x0;
  const Z h1 = x2 - x1;
  const Z h2 = x2 - x0;
  const Z Q = (h1 * h0) * h0;
  const Z A = Quotient(((h0 * f2) + ((x0 - x2) * f1)) + (h1 * f0), Q, off);
  const Z spread = ((two * x2) - x1) - x0;
  const Z B = Quotient((((h0 * spread) * f2) - ((h2 * h2) * f1)) + ((h1 * h1) * f0), Q, off);
  const Z C = Quotient(h2 * f2, h0, off);
  const Z D = Root((B * B) - ((four * A) * C), off);
  const Z sum = B + D;
  const Z difference = B - D;
  const WM plus = Greater(sum, difference, off);
  const Z divisor = Select(plus, sum, difference);
  // -(2, 0) on the B + D branch, (-2, 0) on the other: see muller_step.
  const Z factor{Splat(-2.0), Select(plus, Splat(-0.0), Splat(0.0))};
  const Z E = Quotient(factor * C, divisor, off);
  const Z x3 = x2 + E;
  off = off | Not(IsFinite(Q) & IsFinite(h0) & IsFinite(divisor) & IsFinite(x3));
  return x3;
}

// ---- The lanes and the rows they draw.

// What happens to a pixel after its secant row: its search goes on in a lane, it ended there, or
// outcome() must do it.
enum class Start : std::uint8_t { goes_on, converged_at_once, by_outcome };

// The secant rows of a stretch of one pixel row, computed ahead of the lanes that take its pixels.
struct Row {
  int i = -1;
  std::size_t first = 0;  // the stretch's first column
  std::vector<double> f1re, f1im, x2re, x2im, f2re, f2im;
  std::vector<Start> start;
};

// The zero a search that converged on (re, im) reached: outcome()'s classification, by quadrant.
HWY_INLINE Outcome ended_at(double re, double im, int rows) {
  const bool right = re > 0;
  if (im > 0) {
    return {right ? End::upper_right : End::upper_left, rows};
  }
  return {right ? End::lower_right : End::lower_left, rows};
}

class Drawer {
 public:
  Drawer(const Window& window, std::atomic<int>& next_row, std::uint8_t* rgb, Tally& tally,
         std::atomic<int>& rows_done)
      : window_(window),
        next_row_(next_row),
        rgb_(rgb),
        tally_(tally),
        rows_done_(rows_done),
        width_(window.re.size()),
        height_(static_cast<int>(window.im.size())),
        polynomial_(window.polynomial.get()),
        f0_(polynomial_ != nullptr ? evaluate(polynomial_->p, window.x0) : f(window.x0)),
        remaining_(window.im.size(), 0) {
    const int classes = polynomial_ != nullptr ? static_cast<int>(polynomial_->classes.centres.size()) : 4;
    if (polynomial_ != nullptr) {
      lane_polynomial_.emplace(polynomial_->p);
    }
    for (int end = 0; end < end_kinds; ++end) {
      for (int rows = 0; rows <= numiter; ++rows) {
        colours_[colour_index(static_cast<End>(end), rows)] = colour({static_cast<End>(end), rows}, classes);
      }
    }
  }

  void run() {
    std::size_t active = 0;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      active += fill(lane) ? 1 : 0;
    }
    while (active > 0) {
      std::uint64_t leaving = 0;
      std::uint64_t stopping = 0;
      step(leaving, stopping);
      ++steps_;
      // Only the lanes whose search left or stopped, and every lane once the oldest search may have
      // reached its last row, are looked at: a scan of every lane each step mispredicts its branches.
      const bool deadline = steps_ >= deadline_;
      std::uint64_t due = leaving | stopping | (deadline ? all_lanes : 0);
      for (; due != 0; due &= due - 1) {
        const auto lane = static_cast<std::size_t>(hwy::Num0BitsBelowLS1Bit_Nonzero64(due));
        if (settled(lane, leaving, stopping) && !fill(lane)) {
          --active;
        }
      }
      if (deadline) {
        next_deadline();
      }
    }
    tally_.lane_steps += steps_ * static_cast<long long>(kLanes);
  }

 private:
  // Finishes the lane's pixel if its search left the lanes, stopped, or wrote its last row; whether it
  // did. A lane without a pixel has nothing to finish.
  bool settled(std::size_t lane, std::uint64_t leaving, std::uint64_t stopping) {
    if (pixel_[lane] < 0) {
      return false;
    }
    const int rows = 1 + static_cast<int>(steps_ - born_[lane]);
    const std::uint64_t bit = std::uint64_t{1} << lane;
    if ((leaving & bit) != 0) {
      by_outcome(row_of_[lane], pixel_[lane]);
    } else if ((stopping & bit) != 0) {
      finish(row_of_[lane], pixel_[lane], ended(x_[2].re[lane], x_[2].im[lane], rows));
    } else if (rows + 1 >= numiter) {
      finish(row_of_[lane], pixel_[lane], {End::gave_up, rows});
    } else {
      return false;
    }
    return true;
  }

  void next_deadline() {
    deadline_ = no_deadline;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      if (pixel_[lane] >= 0) {
        deadline_ = std::min(deadline_, born_[lane] + (numiter - 2));
      }
    }
  }

  // Parts of complex values, a lane each.
  struct Parts {
    alignas(64) std::array<double, kLanes> re;
    alignas(64) std::array<double, kLanes> im;
  };

  static Z load(const Parts& p) { return {LoadW(p.re.data()), LoadW(p.im.data())}; }
  static void store(const Z& z, Parts& p) {
    StoreW(z.re, p.re.data());
    StoreW(z.im, p.im.data());
  }

  // The bits of a mask of kLanes lanes, lane l in bit l.
  static std::uint64_t bits(const WM& m) {
    std::uint64_t all = 0;
    for (std::size_t u = 0; u < kVectors; ++u) {
      std::uint8_t b[8] = {};
      hn::StoreMaskBits(Tag(), m.m[u], b);
      all |= std::uint64_t{b[0]} << (u * kWidth);
    }
    return all;
  }

  // One Muller step in every lane, the points and values shifted as the scalar search shifts them; the
  // lanes whose search leaves are set in leaving, those where it stops (and does not leave) in stopping.
  // Not inlined, so that bench/roofline finds its instructions by name; a call a step costs nothing
  // beside it.
  HWY_NOINLINE void step(std::uint64_t& leaving, std::uint64_t& stopping) {
    WM off = None();
    const Z x0 = load(x_[0]);
    const Z x1 = load(x_[1]);
    const Z x2 = load(x_[2]);
    const Z f1 = load(f_[1]);
    const Z f2 = load(f_[2]);
    const Z x3 = MullerStep(x0, x1, x2, load(f_[0]), f1, f2, off);
    const Z f3 = P(x3);
    off = off | Not(IsFinite(f3));
    const WM stops = Stops(x2, x3, f3, off);
    store(x1, x_[0]);
    store(x2, x_[1]);
    store(x3, x_[2]);
    store(f1, f_[0]);
    store(f2, f_[1]);
    store(f3, f_[2]);
    leaving = bits(off);
    stopping = bits(stops) & ~leaving;
  }

  // Gives the lane the next pixel whose search goes on past its secant row, finishing on the way those
  // that do not; false when no row is left, and the lane then computes a harmless search for nothing.
  bool fill(std::size_t lane) {
    for (;;) {
      if (row_.i >= 0 && next_column_ < width_) {
        const std::size_t j = next_column_++;
        if (j == row_.first + stretch) {
          start_stretch(j);
        }
        const std::size_t k = j - row_.first;
        if (row_.start[k] == Start::by_outcome) {
          by_outcome(row_.i, static_cast<int>(j));
          continue;
        }
        if (row_.start[k] == Start::converged_at_once) {
          finish(row_.i, static_cast<int>(j), ended(row_.x2re[k], row_.x2im[k], 1));
          continue;
        }
        set(lane, window_.x0, {window_.re[j], window_.im[static_cast<std::size_t>(row_.i)]}, f0_,
            {row_.f1re[k], row_.f1im[k]}, {row_.x2re[k], row_.x2im[k]}, {row_.f2re[k], row_.f2im[k]});
        pixel_[lane] = static_cast<int>(j);
        row_of_[lane] = row_.i;
        born_[lane] = steps_;
        deadline_ = std::min(deadline_, steps_ + (numiter - 2));
        return true;
      }
      const int i = next_row_.fetch_add(1);
      if (i >= height_) {
        row_.i = -1;
        pixel_[lane] = -1;
        // The first search of the report, at its second row: finite and tame, whatever it becomes.
        set(lane, {0, 0}, {1, 1}, {1, 0}, {-3, 0}, {0.25, 0.25}, {0.984375, 0});
        return false;
      }
      start_row(i);
    }
  }

  void set(std::size_t lane, std::complex<double> x0, std::complex<double> x1, std::complex<double> f0,
           std::complex<double> f1, std::complex<double> x2, std::complex<double> f2) {
    const std::complex<double> values[2][3] = {{x0, x1, x2}, {f0, f1, f2}};
    for (int k = 0; k < 3; ++k) {
      x_[k].re[lane] = values[0][k].real();
      x_[k].im[lane] = values[0][k].imag();
      f_[k].re[lane] = values[1][k].real();
      f_[k].im[lane] = values[1][k].imag();
    }
  }

  void start_row(int i) {
    row_.i = i;
    next_column_ = 0;
    remaining_[static_cast<std::size_t>(i)] = static_cast<int>(width_);
    start_stretch(0);
  }

  // The secant rows of the current row from column first on, for at most `stretch` columns, a vector of
  // pixels at a time: search_detail::secant_step, plain, and the convergence test after it. A stretch
  // and not the whole row, so that a row of any width needs no more memory.
  void start_stretch(std::size_t first) {
    row_.first = first;
    const std::size_t count = std::min(stretch, width_ - first);
    const std::size_t padded = (count + kLanes - 1) / kLanes * kLanes;
    for (std::vector<double>* v : {&row_.f1re, &row_.f1im, &row_.x2re, &row_.x2im, &row_.f2re, &row_.f2im}) {
      v->resize(padded);
    }
    row_.start.resize(padded);
    std::vector<double>& re = column_re_;
    const auto begin = window_.re.begin() + static_cast<std::ptrdiff_t>(first);
    re.assign(begin, begin + static_cast<std::ptrdiff_t>(count));
    re.resize(padded, re.back());
    const Z x0{Splat(window_.x0.real()), Splat(window_.x0.imag())};
    const Z f0{Splat(f0_.real()), Splat(f0_.imag())};
    const W im = Splat(window_.im[static_cast<std::size_t>(row_.i)]);
    alignas(64) std::array<double, kLanes> status{};
    for (std::size_t j = 0; j < padded; j += kLanes) {
      WM off = None();
      const Z x1{LoadW(re.data() + j), im};
      const Z f1 = P(x1);
      const Z divisor = f1 - f0;
      const Z x2 = x1 - Quotient(f1 * (x1 - x0), divisor, off);
      const Z f2 = P(x2);
      off = off | Not(IsFinite(divisor) & IsFinite(x2) & IsFinite(f2));
      const WM stops = Stops(x1, x2, f2, off);
      StoreW(f1.re, row_.f1re.data() + j);
      StoreW(f1.im, row_.f1im.data() + j);
      StoreW(x2.re, row_.x2re.data() + j);
      StoreW(x2.im, row_.x2im.data() + j);
      StoreW(f2.re, row_.f2re.data() + j);
      StoreW(f2.im, row_.f2im.data() + j);
      StoreW(Select(off, Splat(2.0), Select(stops, Splat(1.0), Splat(0.0))), status.data());
      for (std::size_t l = 0; l < kLanes; ++l) {
        row_.start[j + l] = status[l] == 2.0   ? Start::by_outcome
                            : status[l] == 1.0 ? Start::converged_at_once
                                               : Start::goes_on;
      }
    }
  }

  // The lanes' values of the polynomial searched.
  HWY_INLINE Z P(const Z& z) const { return lane_polynomial_.has_value() ? (*lane_polynomial_)(z) : F(z); }

  // The class of zeros a search that converged on (re, im) reached, as outcome() classifies it.
  Outcome ended(double re, double im, int rows) const {
    if (polynomial_ != nullptr) {
      return {zero_class(nearest_class(polynomial_->classes, {re, im})), rows};
    }
    return ended_at(re, im, rows);
  }

  void by_outcome(int i, int j) {
    ++tally_.redone;
    const std::complex<double> x1(window_.re[static_cast<std::size_t>(j)],
                                  window_.im[static_cast<std::size_t>(i)]);
    finish(i, j, polynomial_ != nullptr ? outcome(*polynomial_, window_.x0, x1) : outcome(window_.x0, x1));
  }

  void finish(int i, int j, Outcome o) {
    const std::array<std::uint8_t, 3>& c = colours_[colour_index(o.end, o.rows)];
    std::uint8_t* pixel = rgb_ + (static_cast<std::size_t>(i) * width_ + static_cast<std::size_t>(j)) * 3;
    pixel[0] = c[0];
    pixel[1] = c[1];
    pixel[2] = c[2];
    ++tally_.ends[static_cast<std::size_t>(o.end)];
    tally_.rows += o.rows;
    if (--remaining_[static_cast<std::size_t>(i)] == 0) {
      rows_done_.fetch_add(1, std::memory_order_relaxed);
    }
  }

  const Window& window_;
  std::atomic<int>& next_row_;
  std::uint8_t* rgb_;
  Tally& tally_;
  std::atomic<int>& rows_done_;
  std::size_t width_;
  int height_;
  const MapPolynomial* polynomial_;  // nothing for z^4 + 1
  std::optional<LanePolynomial> lane_polynomial_;
  std::complex<double> f0_;
  std::vector<int> remaining_;  // pixels of each row not yet finished
  // colour() of every end and row count, looked up for each pixel instead of computed.
  static constexpr std::size_t colours_per_end = numiter + 1;
  static std::size_t colour_index(End end, int rows) {
    return static_cast<std::size_t>(end) * colours_per_end + static_cast<std::size_t>(rows);
  }
  std::array<std::array<std::uint8_t, 3>, std::size_t{end_kinds} * colours_per_end> colours_{};
  static constexpr std::size_t stretch = 4096;  // columns of secant rows computed at a time
  Row row_;                                     // the row lanes take their pixels from
  std::size_t next_column_ = 0;
  std::vector<double> column_re_;
  Parts x_[3];
  Parts f_[3];
  std::array<int, kLanes> pixel_{};   // the lane's column, or -1 for no pixel
  std::array<int, kLanes> row_of_{};  // the lane's row
  // Steps taken, and for each lane the count when its search took it, at its secant row: the search
  // has written 1 + steps_ - born_ rows. deadline_ is the first count at which some lane's search may
  // have reached its last row.
  static constexpr long long no_deadline = std::numeric_limits<long long>::max();
  static constexpr std::uint64_t all_lanes =
      kLanes == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << kLanes) - 1;
  long long steps_ = 0;
  long long deadline_ = no_deadline;
  std::array<long long, kLanes> born_{};
};

int Lanes() { return static_cast<int>(kLanes); }

void DrawRows(const Window& window, std::atomic<int>& next_row, std::uint8_t* rgb, Tally& tally,
              std::atomic<int>& rows_done) {
  Drawer(window, next_row, rgb, tally, rows_done).run();
}

}  // namespace HWY_NAMESPACE
}  // namespace basins_kernel
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace basins_kernel {
HWY_EXPORT(DrawRows);
HWY_EXPORT(Lanes);
}  // namespace basins_kernel

void draw_rows_vector(const Window& window, std::atomic<int>& next_row, std::uint8_t* rgb, Tally& tally,
                      std::atomic<int>& rows_done) {
  using namespace basins_kernel;  // the dispatch names the function unqualified
  HWY_DYNAMIC_DISPATCH(DrawRows)(window, next_row, rgb, tally, rows_done);
}

std::vector<long long> vector_targets() {
  std::vector<long long> targets;
  for (const std::int64_t t : hwy::SupportedAndGeneratedTargets()) {
    // Highway's fallbacks, one lane or two emulated, are slower than the plain search.
    if (t != HWY_SCALAR && t != HWY_EMU128) {
      targets.push_back(t);
    }
  }
  return targets;
}

int vector_lanes() {
  using namespace basins_kernel;
  return HWY_DYNAMIC_DISPATCH(Lanes)();
}

const char* target_name(long long target) { return hwy::TargetName(target); }

const char* vector_target() {
  const std::vector<long long> targets = vector_targets();
  return targets.empty() ? nullptr : target_name(targets.front());
}

void use_vector_target(long long target) { hwy::SetSupportedTargetsForTest(target); }
#endif  // HWY_ONCE
