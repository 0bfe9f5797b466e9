// The map on the vector units against the scalar search, on every instruction set compiled in that this
// processor runs: each lane copy of a scalar step beside its twin, then whole maps, pixel for pixel.
#include "map/kernel/kernel.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include "map/draw.hpp"
#include "search/complex_ops.hpp"
#include "search/methods.hpp"
#include "search/polynomial.hpp"
#include "search/problem.hpp"
#include "search/search.hpp"

// The lane copies, compiled here for every instruction set as the kernel compiles them.
#include "map/kernel/targets.h"
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernel_test.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "map/kernel/lanes-inl.h"
#include "map/kernel/search-inl.h"

// The scalar steps that the kernel copies into its lanes, each beside its lane copy. A case is up to six
// complex operands; the lanes' answer is two doubles (a predicate's is 1 or 0 in the first) and
// whether the lane left, as the kernel would then do the pixel again by the scalar search.
#ifndef MULLER_KERNEL_TEST_PAIRS  // this file is compiled once for each instruction set
#define MULLER_KERNEL_TEST_PAIRS
enum class Pair {
  product,
  quotient,
  modulus,
  root,
  at_least,
  greater,
  f,
  fd,
  fdd,
  polynomial,
  derivative,
  second,
  secant,
  muller,
  newton,
  halley,
  stops,
  // The slow path's copies (total-inl.h), which must give the scalar bits on every value, NaN signs
  // included, and never leave.
  product_all,
  quotient_all,
  modulus_all,
  root_all,
  at_least_all,
  greater_all,
  polynomial_all,
  muller_all,
  halley_all,
  stops_all
};
constexpr std::size_t operands = 6;
#endif

HWY_BEFORE_NAMESPACE();
namespace muller::map::kernel {
namespace HWY_NAMESPACE {

void LaneCopies(int pair, const double* in, std::size_t cases, const search::Polynomial* p, double* out,
                bool* left) {
  alignas(64) double part[2 * operands][kLanes];
  alignas(64) double result[3][kLanes];
  const search::Polynomial& q = *p;
  const LanePolynomial polynomial(q);
  const LanePolynomial derivative(q.scaled_d);
  const LanePolynomial second(q.scaled_dd);
  for (std::size_t first = 0; first < cases; first += kLanes) {
    for (std::size_t l = 0; l < kLanes; ++l) {
      const std::size_t c = std::min(first + l, cases - 1);
      for (std::size_t k = 0; k < 2 * operands; ++k) {
        part[k][l] = in[c * 2 * operands + k];
      }
    }
    Z z[operands];
    for (std::size_t k = 0; k < operands; ++k) {
      z[k] = {LoadW(part[2 * k]), LoadW(part[2 * k + 1])};
    }
    WM off = None();
    const W one = Splat(1.0);
    const W zero = Splat(0.0);
    Z r{zero, zero};
    switch (static_cast<Pair>(pair)) {
      case Pair::product:
        r = z[0] * z[1];
        break;
      case Pair::quotient:
        r = Quotient(z[0], z[1], off);
        break;
      case Pair::modulus:
        r.re = Modulus(z[0], off);
        off = off | Not(IsFinite(z[0]));
        break;
      case Pair::root:
        r = Root(z[0], off);
        break;
      case Pair::at_least:
        r.re = Select(AtLeast(z[0], search::fprec, off), one, zero);
        break;
      case Pair::greater:
        r.re = Select(Greater(z[0], z[1], off), one, zero);
        break;
      case Pair::f:
        r = F(z[0]);
        break;
      case Pair::fd:
        r = FD(z[0]);
        break;
      case Pair::fdd:
        r = FDD(z[0]);
        break;
      case Pair::polynomial:
        r = polynomial(z[0]);
        break;
      case Pair::derivative:
        r = derivative(z[0]);
        break;
      case Pair::second:
        r = second(z[0]);
        break;
      case Pair::newton:
        r = NewtonStep(z[0], z[1], z[2], off);
        break;
      case Pair::halley:
        r = HalleyStep(z[0], z[1], z[2], z[3], off);
        break;
      case Pair::secant:
        r = SecantStep(z[0], z[1], z[2], z[3], off);
        break;
      case Pair::muller:
        r = MullerStep(z[0], z[1], z[2], z[3], z[4], z[5], off);
        break;
      case Pair::stops:
        r.re = Select(Stops(z[0], z[1], z[2], off), one, zero);
        break;
      default:  // the slow path's, below
        break;
    }
    if (pair >= static_cast<int>(Pair::product_all)) {
      for (std::size_t u = 0; u < kVectors; ++u) {
        const auto at = [&](std::size_t k) { return total::Part(z[k], u); };
        const V v1 = hn::Set(Tag(), 1.0);
        const V v0 = hn::Set(Tag(), 0.0);
        total::Z1 t{v0, v0};
        switch (static_cast<Pair>(pair)) {
          case Pair::product_all:
            t = total::Mul(at(0), at(1));
            break;
          case Pair::quotient_all:
            t = total::Div(at(0), at(1));
            break;
          case Pair::modulus_all:
            t.re = total::Modulus(at(0));
            break;
          case Pair::root_all:
            t = total::Root(at(0));
            break;
          case Pair::at_least_all:
            t.re = hn::IfThenElse(total::AtLeast(at(0), search::fprec), v1, v0);
            break;
          case Pair::greater_all:
            t.re = hn::IfThenElse(total::Greater(at(0), at(1)), v1, v0);
            break;
          case Pair::polynomial_all:
            t = polynomial.Ruled(at(0));
            break;
          case Pair::muller_all:
            t = MullerStepRuled(at(0), at(1), at(2), at(3), at(4), at(5));
            break;
          case Pair::halley_all:
            t = HalleyStepRuled(at(0), at(1), at(2), at(3));
            break;
          default:
            t.re = hn::IfThenElse(StopsRuled(at(0), at(1), at(2)), v1, v0);
            break;
        }
        r.re.v[u] = t.re;
        r.im.v[u] = t.im;
      }
    }
    StoreW(r.re, result[0]);
    StoreW(r.im, result[1]);
    StoreW(Select(off, one, zero), result[2]);
    for (std::size_t l = 0; l < kLanes && first + l < cases; ++l) {
      out[2 * (first + l)] = result[0][l];
      out[2 * (first + l) + 1] = result[1][l];
      left[first + l] = result[2][l] != 0;
    }
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace muller::map::kernel
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace muller::map::kernel {
HWY_EXPORT(LaneCopies);
}  // namespace muller::map::kernel

using namespace muller::map;     // NOLINT(google-build-using-namespace)
using namespace muller::search;  // NOLINT(google-build-using-namespace)
namespace cx = muller::cx;

namespace {

// Start points of every kind on both axes: small and large, zeros of both signs, parts of the zeros of
// f, subnormals and huge ones, from a seeded generator whose raw output every library draws alike.
std::vector<double> random_axis(std::mt19937_64& rng, int n) {
  std::vector<double> axis;
  for (int k = 0; k < n; ++k) {
    const std::uint64_t r = rng();
    const double unit = static_cast<double>(rng() >> 11) * 0x1p-53;
    const double sign = (r & 1) != 0 ? -1.0 : 1.0;
    switch (r % 8) {
      case 0:
        axis.push_back(sign * 0.0);
        break;
      case 1:
        axis.push_back(sign * std::sqrt(0.5) * (1 + (unit - 0.5) * 1e-9));
        break;
      case 2:
        axis.push_back(sign * std::pow(10.0, -320 + 640 * unit));
        break;
      default:
        axis.push_back(sign * 3 * unit);
        break;
    }
  }
  return axis;
}

std::uint64_t bits(double x) {
  std::uint64_t u = 0;
  std::memcpy(&u, &x, sizeof u);
  return u;
}

// Operands of every kind for the lane copies: moderate parts, zeros of both signs, tiny, huge and
// subnormal parts, now and then an infinity or a NaN, and pairs of nearly equal moduli.
std::vector<double> operand_cases(std::mt19937_64& rng, std::size_t cases) {
  const auto part = [&rng]() {
    const std::uint64_t r = rng();
    const double unit = static_cast<double>(rng() >> 11) * 0x1p-53;
    const double sign = (r & 1) != 0 ? -1.0 : 1.0;
    switch (r % 16) {
      case 0:
        return sign * 0.0;
      case 1:
        return sign * std::pow(10.0, -320 + 640 * unit);
      case 2:
        return r % 64 == 2 ? sign * std::numeric_limits<double>::infinity()
                           : std::numeric_limits<double>::quiet_NaN();
      case 3:
        return sign * std::ldexp(1.0 + unit, -1060);
      default:
        return sign * 3 * unit;
    }
  };
  std::vector<double> in;
  for (std::size_t c = 0; c < cases; ++c) {
    for (std::size_t k = 0; k < 2 * operands; ++k) {
      in.push_back(part());
    }
    if (c % 4 == 0) {  // the second operand's modulus within a few ulps of the first's
      in[in.size() - 2 * operands + 2] = in[in.size() - 2 * operands + 1];
      in[in.size() - 2 * operands + 3] = std::nextafter(in[in.size() - 2 * operands], 4.0);
    }
  }
  return in;
}

using complex = std::complex<double>;

struct LanePair {
  Pair pair;
  const char* twins;
  // The scalar twin's answer for the operands z: two doubles, a predicate's as 1 or 0.
  complex (*scalar)(const complex* z, const Polynomial& p);
  bool only_finite;  // compared only where the lanes' value is finite (the kernel checks it after)
};

// Compares one pair on the current instruction set over the cases in `in`; returns how many it compared.
std::size_t compare_lanes(const LanePair& pair, const Polynomial& p, const std::vector<double>& in,
                          long long target) {
  const std::size_t cases = in.size() / (2 * operands);
  std::vector<double> out(2 * cases);
  std::unique_ptr<bool[]> left(new bool[cases]);
  {
    using namespace muller::map::kernel;  // the dispatch names the function unqualified
    HWY_DYNAMIC_DISPATCH(LaneCopies)
    (static_cast<int>(pair.pair), in.data(), cases, &p, out.data(), left.get());
  }
  std::size_t compared = 0;
  for (std::size_t c = 0; c < cases; ++c) {
    const complex lanes(out[2 * c], out[2 * c + 1]);
    if (left[c] || (pair.only_finite && !cx::finite(lanes))) {
      continue;
    }
    complex z[operands];
    for (std::size_t k = 0; k < operands; ++k) {
      z[k] = {in[c * 2 * operands + 2 * k], in[c * 2 * operands + 2 * k + 1]};
    }
    const complex scalar = pair.scalar(z, p);
    ++compared;
    EXPECT_EQ(bits(lanes.real()), bits(scalar.real()))
        << pair.twins << " on " << target_name(target) << ", case " << c;
    EXPECT_EQ(bits(lanes.imag()), bits(scalar.imag()))
        << pair.twins << " on " << target_name(target) << ", case " << c;
  }
  return compared;
}

// Each scalar step the kernel copies, and its lane copy (map/kernel/*-inl.h), on the same operands: the
// same bits wherever the lane keeps its search, on every instruction set; and the lanes keep most.
TEST(Kernel, EveryLaneCopyComputesWhatItsScalarTwinComputes) {
  if (vector_targets().empty()) {
    GTEST_SKIP() << "no vector unit here that the map uses";
  }
  const Polynomial polynomials[] = {from_coefficients({{1, 0}, {0, 2}, {0, 0}, {-0.5, 0}, {3, -1}}),
                                    from_coefficients({{2, 1}, {0, 0}, {1, 0}}),
                                    from_roots({{1, 0}, {-0.5, 0.75}, {0, -2}}),
                                    from_coefficients({{1, 0}, {2, -1}})};  // degree 1: no p''

  // The scalar twins that a plain lane copy and its ruled one share.
  using Scalar = complex (*)(const complex* z, const Polynomial& p);
  const Scalar modulus = [](const complex* z, const Polynomial&) { return complex(cx::abs(z[0]), 0.0); };
  const Scalar root = [](const complex* z, const Polynomial&) { return cx::sqrt(z[0]); };
  const Scalar at_least = [](const complex* z, const Polynomial&) {
    return complex(cx::abs_at_least(z[0], fprec) ? 1 : 0, 0.0);
  };
  const Scalar greater = [](const complex* z, const Polynomial&) {
    return complex(cx::abs_greater(z[0], z[1]) ? 1 : 0, 0.0);
  };
  const Scalar polynomial = [](const complex* z, const Polynomial& p) { return evaluate_scaled(p, z[0]); };
  const Scalar stops = [](const complex* z, const Polynomial&) {
    return complex(detail::goes_on(z[0], z[1], z[2]) ? 0 : 1, 0.0);
  };
  const LanePair pairs[] = {
      {Pair::product, "cx::mul / operator*",
       [](const complex* z, const Polynomial&) { return cx::mul(z[0], z[1]); }, true},
      {Pair::quotient, "cx::div / Quotient",
       [](const complex* z, const Polynomial&) { return cx::div<false>(z[0], z[1]); }, true},
      {Pair::modulus, "cx::abs / Modulus", modulus, false},
      {Pair::root, "cx::sqrt / Root", root, false},
      {Pair::at_least, "cx::abs_at_least / AtLeast", at_least, false},
      {Pair::greater, "cx::abs_greater / Greater", greater, false},
      {Pair::f, "f / F", [](const complex* z, const Polynomial&) { return f(z[0]); }, true},
      {Pair::fd, "fd / FD", [](const complex* z, const Polynomial&) { return fd(z[0]); }, true},
      {Pair::fdd, "Z4Plus1::second / FDD",
       [](const complex* z, const Polynomial&) { return Z4Plus1{}.second(z[0]); }, true},
      {Pair::polynomial, "evaluate_scaled / LanePolynomial", polynomial, true},
      {Pair::derivative, "derivative_scaled / LanePolynomial of scaled_d",
       [](const complex* z, const Polynomial& p) { return derivative_scaled(p, z[0]); }, true},
      {Pair::second, "second_derivative_scaled / LanePolynomial of scaled_dd",
       [](const complex* z, const Polynomial& p) { return second_derivative_scaled(p, z[0]); }, true},
      {Pair::newton, "detail::newton_step / NewtonStep",
       [](const complex* z, const Polynomial&) { return detail::newton_step<false>(z[0], z[1], z[2]); },
       false},
      {Pair::halley, "detail::halley_step / HalleyStep",
       [](const complex* z, const Polynomial&) { return detail::halley_step<false>(z[0], z[1], z[2], z[3]); },
       false},
      {Pair::secant, "detail::secant_step / SecantStep",
       [](const complex* z, const Polynomial&) { return detail::secant_step<false>(z[0], z[1], z[2], z[3]); },
       false},
      {Pair::muller, "detail::muller_step / MullerStep",
       [](const complex* z, const Polynomial&) {
         return detail::muller_step<false>(z[0], z[1], z[2], z[3], z[4], z[5]);
       },
       false},
      {Pair::product_all, "cx::mul<true> / total::Mul",
       [](const complex* z, const Polynomial&) { return cx::mul<true>(z[0], z[1]); }, false},
      {Pair::quotient_all, "cx::div<true> / total::Div",
       [](const complex* z, const Polynomial&) { return cx::div<true>(z[0], z[1]); }, false},
      {Pair::modulus_all, "cx::abs / total::Modulus", modulus, false},
      {Pair::root_all, "cx::sqrt / total::Root", root, false},
      {Pair::at_least_all, "cx::abs_at_least / total::AtLeast", at_least, false},
      {Pair::greater_all, "cx::abs_greater / total::Greater", greater, false},
      {Pair::polynomial_all, "evaluate_scaled / LanePolynomial::Ruled", polynomial, false},
      {Pair::muller_all, "detail::muller_step<true> / MullerStepRuled",
       [](const complex* z, const Polynomial&) {
         return detail::muller_step<true>(z[0], z[1], z[2], z[3], z[4], z[5]);
       },
       false},
      {Pair::halley_all, "detail::halley_step<true> / HalleyStepRuled",
       [](const complex* z, const Polynomial&) { return detail::halley_step<true>(z[0], z[1], z[2], z[3]); },
       false},
      {Pair::stops_all, "detail::goes_on / StopsRuled", stops, false},
      {Pair::stops, "detail::goes_on / Stops", stops, false},
  };
  constexpr std::size_t cases = 4096;
  std::mt19937_64 rng(20261208);
  const std::vector<double> in = operand_cases(rng, cases);
  for (const long long target : vector_targets()) {
    use_vector_target(target);
    for (const auto& pair : pairs) {
      for (const Polynomial& p : polynomials) {
        const std::size_t compared = compare_lanes(pair, p, in, target);
        EXPECT_GT(compared, cases / 4) << pair.twins << ": the lanes left too often to be compared";
        if (pair.pair != Pair::polynomial && pair.pair != Pair::derivative && pair.pair != Pair::second &&
            pair.pair != Pair::polynomial_all) {
          break;  // the polynomial matters to these pairs only
        }
      }
    }
  }
  use_vector_target(0);
}

// The window's map by each method given, drawn by the scalar search and then by the vector kernel on
// each instruction set.
void expect_same_maps(const std::vector<Window>& windows, std::initializer_list<Method> by) {
  const std::vector<long long> targets = vector_targets();
  for (Window window : windows) {
    for (const Method m : by) {
      window.method = m;
      std::atomic<int> rows_done{0};
      std::vector<std::uint8_t> scalar;
      const Tally expected = draw(window, scalar, 1, rows_done, Path::scalar);
      for (const long long target : targets) {
        use_vector_target(target);
        std::vector<std::uint8_t> vector;
        const Tally got = draw(window, vector, 2, rows_done, Path::vector);
        const std::string where = std::string(target_name(target)) + ", " + names(m).key + ", window of " +
                                  std::to_string(window.re.size()) + " x " + std::to_string(window.im.size());
        EXPECT_EQ(vector, scalar) << where;
        EXPECT_EQ(got.ends, expected.ends) << where;
        EXPECT_EQ(got.rows, expected.rows) << where;
      }
      use_vector_target(0);
    }
  }
}

TEST(Kernel, DrawsWhatTheScalarSearchDrawsOnEveryInstructionSet) {
  std::mt19937_64 rng(20261207);
  std::vector<Window> windows = {
      square(129, 0.4),  // the flower, its axes and its centre, where x1 = x0
      square(96, 2.0),
      square(101, 0.01),  // near 0, where B^2 - 4AC and the secant's divisor have exactly zero parts
      square(101, 1e5),   // far out, where searches give up or end non-finite
      tile(18, 131000, 131000, {0, 0}),  // deep in the flower, at the edge of a petal
      {{0.3, -0.2}, random_axis(rng, 61), random_axis(rng, 67)},
      {{-1e-5, 2e-5}, random_axis(rng, 50), random_axis(rng, 40)},
  };
  if (vector_targets().empty()) {
    GTEST_SKIP() << "no vector unit here that the map uses";
  }
  expect_same_maps(windows, {Method::muller});
  // The other methods over the same kinds of window, smaller.
  Window petal = tile(18, 131000, 131000, {0, 0});
  petal.re.resize(64);
  petal.im.resize(64);
  const std::vector<Window> smaller = {
      square(65, 0.4), square(48, 2.0),  square(51, 0.01),
      square(51, 1e5), std::move(petal), {{0.3, -0.2}, random_axis(rng, 31), random_axis(rng, 33)}};
  expect_same_maps(smaller, {Method::secant, Method::newton, Method::halley});
}

// Seeded random polynomials of degrees 1 to 20, by coefficients (some real, some imaginary, some zero,
// some monic) and by roots, each over the square of radius 2 and over points of every kind.
TEST(Kernel, DrawsAnyPolynomialAsTheScalarSearchDoes) {
  if (vector_targets().empty()) {
    GTEST_SKIP() << "no vector unit here that the map uses";
  }
  std::mt19937_64 rng(19);
  const auto part = [&rng]() {
    const std::uint64_t r = rng();
    return r % 3 == 0 ? 0.0 : static_cast<double>(static_cast<std::int64_t>(r >> 40) - (1 << 23)) * 0x1p-21;
  };
  std::vector<Window> windows;
  for (const int degree : {1, 2, 3, 5, 8, 13, 20}) {
    for (const bool by_roots : {false, true}) {
      std::vector<std::complex<double>> values;
      for (int k = 0; k <= degree - (by_roots ? 1 : 0); ++k) {
        values.emplace_back(part(), part());
      }
      if (!by_roots && (values[0] == std::complex<double>(0.0, 0.0) || degree % 2 == 1)) {
        values[0] = 1.0;  // the leading coefficient nonzero, and monic at odd degrees
      }
      const auto p = std::make_shared<const MapPolynomial>(
          map_polynomial(by_roots ? from_roots(values) : from_coefficients(values)));
      Window near = square(48, 2.0, {}, {part(), part()});
      near.polynomial = p;
      Window anywhere{{0.25, -0.5}, random_axis(rng, 23), random_axis(rng, 19), p};
      windows.push_back(near);
      windows.push_back(anywhere);
    }
  }
  // Eight roots in seven classes: the hues are chosen by the classes (the Okabe-Ito set), not by the
  // roots (the list of twenty), on both paths.
  const auto seven = std::make_shared<const MapPolynomial>(
      map_polynomial(from_roots({1, 1, -1, {0, 1}, {0, -1}, {2, 2}, {-2, 2}, {0.5, -2}})));
  EXPECT_EQ(seven->classes.centres.size(), 7u);
  Window square7 = square(64, 2.5);
  square7.polynomial = seven;
  windows.push_back(square7);
  expect_same_maps(windows, {Method::secant, Method::muller, Method::newton, Method::halley});
}

}  // namespace
#endif  // HWY_ONCE
