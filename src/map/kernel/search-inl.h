// The search in the lanes, compiled once for each instruction set: f and any polynomial, the secant
// step, the Muller step and the convergence test of search/search.hpp, each computing what its scalar
// twin (named beside it) computes on its plain path, bit for bit, or marking its lane "off".
#if defined(MULLER_MAP_KERNEL_SEARCH_INL_H_) == defined(HWY_TARGET_TOGGLE)  // NOLINT(llvm-header-guard)
#ifdef MULLER_MAP_KERNEL_SEARCH_INL_H_
#undef MULLER_MAP_KERNEL_SEARCH_INL_H_
#else
#define MULLER_MAP_KERNEL_SEARCH_INL_H_
#endif

#include <hwy/highway.h>

#include <complex>
#include <cstddef>
#include <optional>
#include <vector>

#include "map/kernel/lanes-inl.h"
#include "map/kernel/total-inl.h"
#include "search/polynomial.hpp"
#include "search/problem.hpp"

HWY_BEFORE_NAMESPACE();
namespace muller::map::kernel {
namespace HWY_NAMESPACE {

// f (search/problem.hpp).
HWY_INLINE Z F(const Z& z) {
  Z p = z * z;
  p = p * z;
  p = p * z;
  return {p.re + Splat(1.0), p.im};
}

// fd (search/problem.hpp) and search::Z4Plus1::second (search/methods.hpp): ((4 z) z) z and (12 z) z, the
// constants as complex factors.
HWY_INLINE Z FD(const Z& z) {
  const Z four{Splat(4.0), Splat(0.0)};
  return ((four * z) * z) * z;
}
HWY_INLINE Z FDD(const Z& z) {
  const Z twelve{Splat(12.0), Splat(0.0)};
  return (twelve * z) * z;
}

// The same three on one vector, on every value (total-inl.h): cx::mul ruled, the 1 added by plus ruled.
inline HWY_NOINLINE total::Z1 FRuled(const total::Z1& z) {
  total::Z1 p = total::Mul(z, z);
  p = total::Mul(p, z);
  p = total::Mul(p, z);
  return {total::Plus(p.re, total::C(1.0)), p.im};
}
inline HWY_NOINLINE total::Z1 FDRuled(const total::Z1& z) {
  return total::Mul(total::Mul(total::Mul(total::Constant(4.0, 0.0), z), z), z);
}
inline HWY_NOINLINE total::Z1 FDDRuled(const total::Z1& z) {
  return total::Mul(total::Mul(total::Constant(12.0, 0.0), z), z);
}

// Any other polynomial as search::evaluate_scaled() computes it (search/polynomial.hpp, with horner()), its
// scaled coefficients or roots the same in every lane: sparse Horner, adding only a coefficient's nonzero
// parts, or the product of the factors z - r. Products and sums are the scalar ones wherever the value comes
// out finite (a product that meets a NaN or an infinity is not finite at the end either); Ruled() below
// computes it on every value, for the vectors that have a lane whose value is not.
class LanePolynomial {
 public:
  explicit LanePolynomial(const search::Polynomial& p)
      : LanePolynomial(p.by_roots() ? p.roots : p.scaled, p.by_roots()) {}
  // Coefficients alone, highest power first (the derivatives' of search::derivative_scaled and
  // search::second_derivative_scaled); none is the polynomial 0.
  explicit LanePolynomial(const std::vector<std::complex<double>>& values, bool by_roots = false)
      : by_roots_(by_roots) {
    for (const std::complex<double> c : values) {
      re_.push_back(c.real());
      im_.push_back(c.imag());
    }
    monic_ = !by_roots_ && values.size() >= 2 && values[0] == std::complex<double>(1.0, 0.0);
  }

  HWY_INLINE Z operator()(const Z& z) const {
    const std::size_t n = re_.size();
    if (n == 0) {
      return {Splat(0.0), Splat(0.0)};
    }
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

  // The same on one vector, on every value (total-inl.h): the products ruled, the sums ruled as
  // add_sparse and the factors' differences are.
  HWY_NOINLINE total::Z1 Ruled(const total::Z1& z) const {
    const std::size_t n = re_.size();
    if (n == 0) {
      return total::Constant(0.0, 0.0);
    }
    if (by_roots_) {
      total::Z1 p = total::Sub(z, total::Constant(re_[0], im_[0]));
      for (std::size_t k = 1; k < n; ++k) {
        p = total::Mul(p, total::Sub(z, total::Constant(re_[k], im_[k])));
      }
      return p;
    }
    total::Z1 p = monic_ ? AddSparseRuled(z, 1) : total::Constant(re_[0], im_[0]);
    for (std::size_t k = monic_ ? 2 : 1; k < n; ++k) {
      p = AddSparseRuled(total::Mul(p, z), k);
    }
    return p;
  }

 private:
  HWY_INLINE Z Constant(std::size_t k) const { return {Splat(re_[k]), Splat(im_[k])}; }
  HWY_INLINE Z AddSparse(const Z& p, std::size_t k) const {
    return {re_[k] != 0 ? p.re + Splat(re_[k]) : p.re, im_[k] != 0 ? p.im + Splat(im_[k]) : p.im};
  }
  HWY_INLINE total::Z1 AddSparseRuled(const total::Z1& p, std::size_t k) const {
    return {re_[k] != 0 ? total::Plus(p.re, total::C(re_[k])) : p.re,
            im_[k] != 0 ? total::Plus(p.im, total::C(im_[k])) : p.im};
  }

  bool by_roots_;
  bool monic_ = false;
  std::vector<double> re_;  // coefficients, highest power first, or roots
  std::vector<double> im_;
};

// What the methods evaluate (search::Z4Plus1 and search::OfPolynomial in search/methods.hpp): p, p' and
// p'' of the polynomial searched at its scale, or of z^4 + 1 for none; on the lanes, and ruled on one
// vector.
class LaneProblem {
 public:
  explicit LaneProblem(const search::Polynomial* p) {
    if (p != nullptr) {
      p_.emplace(*p);
      d_.emplace(p->scaled_d);
      dd_.emplace(p->scaled_dd);
    }
  }
  HWY_INLINE Z P(const Z& z) const { return p_.has_value() ? (*p_)(z) : F(z); }
  HWY_INLINE Z D(const Z& z) const { return d_.has_value() ? (*d_)(z) : FD(z); }
  HWY_INLINE Z DD(const Z& z) const { return dd_.has_value() ? (*dd_)(z) : FDD(z); }
  total::Z1 PRuled(const total::Z1& z) const { return p_.has_value() ? p_->Ruled(z) : FRuled(z); }
  total::Z1 DRuled(const total::Z1& z) const { return d_.has_value() ? d_->Ruled(z) : FDRuled(z); }
  total::Z1 DDRuled(const total::Z1& z) const { return dd_.has_value() ? dd_->Ruled(z) : FDDRuled(z); }

 private:
  std::optional<LanePolynomial> p_;
  std::optional<LanePolynomial> d_;
  std::optional<LanePolynomial> dd_;
};

// The convergence test, search::detail::goes_on (search/search.hpp), negated: whether the search stops
// after the row (x2, f2) reached from x1; a test the scalar search would take from the modulus itself
// leaves.
HWY_INLINE WM Stops(const Z& x1, const Z& x2, const Z& f2, WM& off) {
  WM residual_undecided;
  WM step_undecided;
  const WM residual_large = AtLeast(f2, search::fprec, residual_undecided);
  const WM step_large = AtLeast(x2 - x1, search::prec, step_undecided);
  // Like the scalar ||, the step is not looked at where the residual already keeps the search going.
  off = off | residual_undecided | (Not(residual_large) & step_undecided);
  return Not(residual_large) & Not(step_large);
}

// search::detail::secant_step (search/search.hpp), plain, from the start points x0, x1 and their values;
// a lane where the scalar step would not vouch for its result leaves.
HWY_INLINE Z SecantStep(const Z& x0, const Z& x1, const Z& f0, const Z& f1, WM& off) {
  const Z divisor = f1 - f0;
  const Z x2 = x1 - Quotient(f1 * (x1 - x0), divisor, off);
  off = off | Not(IsFinite(divisor) & IsFinite(x2));
  return x2;
}

// search::detail::newton_step and halley_step (search/methods.hpp), plain, from x with fx = p(x), dx =
// p'(x) and ddx = p''(x); a lane where the scalar step would not vouch for its result leaves.
HWY_INLINE Z NewtonStep(const Z& x, const Z& fx, const Z& dx, WM& off) {
  const Z x2 = x - Quotient(fx, dx, off);
  off = off | Not(IsFinite(dx) & IsFinite(x2));
  return x2;
}
HWY_INLINE Z HalleyStep(const Z& x, const Z& fx, const Z& dx, const Z& ddx, WM& off) {
  const Z two{Splat(2.0), Splat(0.0)};
  const Z divisor = (two * (dx * dx)) - (fx * ddx);
  const Z x2 = x - Quotient(two * (fx * dx), divisor, off);
  off = off | Not(IsFinite(divisor) & IsFinite(x2));
  return x2;
}

// search::detail::muller_step (search/search.hpp), plain; a lane where the scalar step would not vouch
// for its result leaves.
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

// ---- The steps and the stopping test on one vector, on every value: search.hpp's and methods.hpp's
// steps with ruled true, and goes_on itself, where the plain copies above mark a lane off.

inline HWY_NOINLINE total::Z1 SecantStepRuled(const total::Z1& x0, const total::Z1& x1, const total::Z1& f0,
                                              const total::Z1& f1) {
  using namespace total;
  return Sub(x1, Div(Mul(f1, Sub(x1, x0)), Sub(f1, f0)));
}

inline HWY_NOINLINE total::Z1 MullerStepRuled(const total::Z1& x0, const total::Z1& x1, const total::Z1& x2,
                                              const total::Z1& f0, const total::Z1& f1, const total::Z1& f2) {
  using namespace total;
  const Z1 two = Constant(2.0, 0.0);
  const Z1 four = Constant(4.0, 0.0);
  const Z1 h0 = Sub(x1, x0);
  const Z1 h1 = Sub(x2, x1);
  const Z1 h2 = Sub(x2, x0);
  const Z1 Q = Mul(Mul(h1, h0), h0);
  const Z1 A = Div(Add(Add(Mul(h0, f2), Mul(Sub(x0, x2), f1)), Mul(h1, f0)), Q);
  const Z1 spread = Sub(Sub(Mul(two, x2), x1), x0);
  const Z1 B = Div(Add(Sub(Mul(Mul(h0, spread), f2), Mul(Mul(h2, h2), f1)), Mul(Mul(h1, h1), f0)), Q);
  const Z1 C = Div(Mul(h2, f2), h0);
  const Z1 D = Root(Sub(Mul(B, B), Mul(Mul(four, A), C)));
  const Z1 sum = Add(B, D);
  const Z1 difference = Sub(B, D);
  const M plus = Greater(sum, difference);
  const Z1 divisor = Sel(plus, sum, difference);
  // -(2, 0) on the B + D branch, (-2, 0) on the other: see muller_step.
  const Z1 factor{total::C(-2.0), Sel(plus, total::C(-0.0), total::C(0.0))};
  return Add(x2, Div(Mul(factor, C), divisor));
}

inline HWY_NOINLINE total::Z1 NewtonStepRuled(const total::Z1& x, const total::Z1& fx, const total::Z1& dx) {
  return total::Sub(x, total::Div(fx, dx));
}

inline HWY_NOINLINE total::Z1 HalleyStepRuled(const total::Z1& x, const total::Z1& fx, const total::Z1& dx,
                                              const total::Z1& ddx) {
  using namespace total;
  const Z1 two = Constant(2.0, 0.0);
  const Z1 divisor = Sub(Mul(two, Mul(dx, dx)), Mul(fx, ddx));
  return Sub(x, Div(Mul(two, Mul(fx, dx)), divisor));
}

// Whether the search stops after the row (x2, f2) reached from x1: not goes_on (its difference plain).
HWY_INLINE M StopsRuled(const total::Z1& x1, const total::Z1& x2, const total::Z1& f2) {
  const total::Z1 step{hn::Sub(x2.re, x1.re), hn::Sub(x2.im, x1.im)};
  return hn::Not(hn::Or(total::AtLeast(f2, search::fprec), total::AtLeast(step, search::prec)));
}

}  // namespace HWY_NAMESPACE
}  // namespace muller::map::kernel
HWY_AFTER_NAMESPACE();

#endif  // MULLER_MAP_KERNEL_SEARCH_INL_H_
