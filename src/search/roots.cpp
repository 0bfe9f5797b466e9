// The roots of a polynomial by Aberth-Ehrlich, and their classes in the order of their arguments.
#include "search/roots.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "search/exact.hpp"

namespace muller::search {

namespace {

using complex = std::complex<double>;

constexpr double eps = 0x1p-52;
constexpr int sweeps_limit = 100;
constexpr int polishing_sweeps = 2;

// log2 x for x > 0, to within 0.09: the exponent, and the mantissa's line between 1 and 2. Enough to
// place the starting circles, which are rounded to powers of two anyway.
double rough_log2(double x) {
  int exponent = 0;
  const double mantissa = std::frexp(x, &exponent);  // in [0.5, 1)
  return exponent - 1 + 2 * (mantissa - 0.5);
}

// cos and sin of 2 pi turns, for turns in [0, 1): the angle brought into (-pi, pi] and both Taylor
// series summed to 30 terms, past double precision there (the starts need far less).
complex unit(double turns) {
  constexpr double pi = 3.141592653589793;
  const double angle = 2 * pi * (turns - (turns > 0.5 ? 1.0 : 0.0));
  double c = 0;
  double s = 0;
  double term = 1;  // angle^k / k!
  for (int k = 0; k < 30; ++k) {
    switch (k % 4) {
      case 0:
        c += term;
        break;
      case 1:
        s += term;
        break;
      case 2:
        c -= term;
        break;
      default:
        s -= term;
        break;
    }
    term = term * angle / (k + 1);
  }
  return {c, s};
}

// Sparse Horner on a[0..n] (highest power first) and on its derivative, with the bound
// sum |a_k| |z|^k of the rounding error's scale.
struct Evaluation {
  complex p;
  complex dp;
  double scale;
};
Evaluation evaluate_with_bound(const std::vector<complex>& a, complex z) {
  const int n = static_cast<int>(a.size()) - 1;
  const double modulus = cx::abs(z);
  complex p = a[0];
  complex dp(0.0, 0.0);
  double scale = cx::abs(a[0]);
  for (int k = 1; k <= n; ++k) {
    dp = cx::add<true>(cx::mul(dp, z), p);
    p = cx::add<true>(cx::mul(p, z), a[static_cast<std::size_t>(k)]);
    scale = scale * modulus + cx::abs(a[static_cast<std::size_t>(k)]);
  }
  return {p, dp, scale};
}

// Starting points from the Newton polygon of a (highest power first, a's last entry nonzero).
std::vector<complex> starts(const std::vector<complex>& a) {
  const int n = static_cast<int>(a.size()) - 1;
  // Vertices of the upper hull of (k, log2 |a_k|), k the power, built left to right.
  std::vector<int> hull;
  std::vector<double> height(static_cast<std::size_t>(n) + 1);
  for (int k = 0; k <= n; ++k) {
    const complex coefficient = a[static_cast<std::size_t>(n - k)];
    if (coefficient == complex(0.0, 0.0)) {
      continue;
    }
    height[static_cast<std::size_t>(k)] = rough_log2(cx::abs(coefficient));
    // Drops the last vertex while it lies on or below the line from the one before it to k.
    while (hull.size() >= 2) {
      const int i = hull[hull.size() - 2];
      const int j = hull.back();
      const double hi = height[static_cast<std::size_t>(i)];
      const double hj = height[static_cast<std::size_t>(j)];
      const double hk = height[static_cast<std::size_t>(k)];
      if ((hj - hi) * (k - i) > (hk - hi) * (j - i)) {
        break;
      }
      hull.pop_back();
    }
    hull.push_back(k);
  }
  std::vector<complex> z;
  for (std::size_t e = 0; e + 1 < hull.size(); ++e) {
    const int i = hull[e];
    const int j = hull[e + 1];
    const int m = j - i;
    const double slope = (height[static_cast<std::size_t>(j)] - height[static_cast<std::size_t>(i)]) / m;
    const double radius =
        std::ldexp(1.0, static_cast<int>(std::clamp(std::nearbyint(-slope), -1000.0, 1000.0)));
    const double offset = 0.1 + 0.13 * static_cast<double>(e);
    for (int k = 0; k < m; ++k) {
      const double turns = static_cast<double>(k) / m + offset;
      const complex u = unit(turns - std::floor(turns));
      z.emplace_back(radius * u.real(), radius * u.imag());
    }
  }
  return z;
}

// Replaces a (highest power first, both ends nonzero) by the coefficients of 2^(-m e) p(2^e w) times a
// power of two, m its degree and 2^e the geometric mean of its roots' moduli rounded, so that its roots
// w lie around the unit circle and its values stay in range where p's would overflow (z^2 + 1e308);
// returns e. Every factor is a power of two: the roots are the same but for the exact factor 2^e.
int scale_roots(std::vector<complex>& a) {
  const int m = static_cast<int>(a.size()) - 1;
  const double mean = (rough_log2(cx::abs(a.back())) - rough_log2(cx::abs(a.front()))) / m;
  const int e = static_cast<int>(std::clamp(std::nearbyint(mean), -2000.0, 2000.0));
  // a[j] is the coefficient of w^(m - j), scaled by 2^(-j e), then all by 2^-g for the largest at 2^0.
  int g = std::numeric_limits<int>::min();
  for (int j = 0; j <= m; ++j) {
    const complex c = a[static_cast<std::size_t>(j)];
    if (c != complex(0.0, 0.0)) {
      g = std::max(g, std::ilogb(std::max(std::fabs(c.real()), std::fabs(c.imag()))) - j * e);
    }
  }
  for (int j = 0; j <= m; ++j) {
    complex& c = a[static_cast<std::size_t>(j)];
    c = {std::ldexp(c.real(), -j * e - g), std::ldexp(c.imag(), -j * e - g)};
  }
  return e;
}

// One Gauss-Seidel sweep of the Aberth step over the estimates not yet done; marks those whose
// backward error has fallen to 4 n eps. Returns whether all are done.
bool sweep(const std::vector<complex>& a, std::vector<complex>& z, std::vector<bool>& done, bool polish) {
  const double bound = 4 * static_cast<double>(z.size()) * eps;
  bool all = true;
  for (std::size_t i = 0; i < z.size(); ++i) {
    if (done[i] && !polish) {
      continue;
    }
    const Evaluation v = evaluate_with_bound(a, z[i]);
    if (!polish && cx::abs(v.p) <= bound * v.scale) {
      done[i] = true;
      continue;
    }
    complex sum(0.0, 0.0);
    for (std::size_t j = 0; j < z.size(); ++j) {
      if (j != i) {
        sum = cx::add<true>(sum, cx::div<true>(complex(1.0, 0.0), cx::sub<true>(z[i], z[j])));
      }
    }
    const complex w = cx::div<true>(v.p, cx::sub<true>(v.dp, cx::mul(v.p, sum)));
    if (cx::finite(w)) {
      z[i] = cx::sub<true>(z[i], w);
    }
    all = all && done[i];
  }
  return all;
}

// 0 for arguments in [0, pi) (the point 0 included), 1 for [pi, 2 pi).
int half_plane(complex z) { return z.imag() > 0 || (z.imag() == 0 && z.real() >= 0) ? 0 : 1; }

double squared_distance(complex a, complex b) {
  const complex d = cx::sub<true>(a, b);
  return d.real() * d.real() + d.imag() * d.imag();
}

// The mean of finite roots: their sum over their number, or, where the sum would overflow, the sum of
// their 32nds (a class has at most 20 roots) over their number, times 32.
complex mean(const std::vector<complex>& roots) {
  complex sum(0.0, 0.0);
  for (const complex r : roots) {
    sum = cx::add<true>(sum, r);
  }
  const auto count = static_cast<double>(roots.size());
  if (cx::finite(sum) || !std::all_of(roots.begin(), roots.end(), [](complex r) { return cx::finite(r); })) {
    return {sum.real() / count, sum.imag() / count};
  }
  complex part(0.0, 0.0);
  for (const complex r : roots) {
    part = cx::add<true>(part, complex(r.real() / 32, r.imag() / 32));
  }
  return {part.real() / count * 32, part.imag() / count * 32};
}

}  // namespace

bool argument_before(complex a, complex b) {
  // 0's argument is 0, as the positive real axis's: its cross product with anything is 0, which would
  // leave it unordered against every point of the upper half-plane.
  const complex one(1.0, 0.0);
  a = a == complex(0.0, 0.0) ? one : a;
  b = b == complex(0.0, 0.0) ? one : b;
  const int ha = half_plane(a);
  const int hb = half_plane(b);
  if (ha != hb) {
    return ha < hb;
  }
  return cross_sign(a, b) > 0;
}

namespace {

// The roots as found, in a scaled variable w = 2^-e z, each with the radius of a disc about it in w: the
// discs hold the roots, a connected group of m discs exactly m of them.
struct Estimates {
  std::vector<complex> w;
  std::vector<double> radius;
  int e = 0;
};

// The inclusion radius of estimate i of the roots of a (highest power first, degree n), by Braess and
// Hadeler's theorem on Weierstrass' correction: n |a(w_i)| / (|a_n| prod over j of |w_i - w_j|). The product
// is kept as a mantissa and an exponent, so that no factor can overflow or underflow it; estimates equal to
// w_i are left out of it, as they are joined with it anyway.
double inclusion_radius(const std::vector<complex>& a, const std::vector<complex>& w, std::size_t i) {
  const double value = cx::abs(compensated_horner(a, w[i]));
  if (value == 0) {
    return 0;
  }
  double product = cx::abs(a.front());
  int exponent = 0;
  for (std::size_t j = 0; j < w.size(); ++j) {
    if (w[j] != w[i]) {
      int e = 0;
      product = std::frexp(product * cx::abs(cx::sub<true>(w[i], w[j])), &e);
      exponent += e;
    }
  }
  return std::ldexp(static_cast<double>(w.size()) * value / product, -exponent);
}

Estimates estimates(const Polynomial& p) {
  Estimates found;
  if (p.by_roots()) {
    // Given exactly: a disc of no width each, so that only equal roots join.
    found.w = p.roots;
    found.radius.assign(p.roots.size(), 0.0);
    return found;
  }
  // Roots at 0, exactly, for the zero coefficients at the low end.
  std::vector<complex> a = p.c;
  std::size_t zeros = 0;
  while (a.size() > 1 && a.back() == complex(0.0, 0.0)) {
    a.pop_back();
    ++zeros;
  }
  found.e = a.size() > 1 ? scale_roots(a) : 0;
  std::vector<complex>& z = found.w;
  z = a.size() > 1 ? starts(a) : std::vector<complex>{};
  std::vector<bool> done(z.size(), false);
  int sweeps = 0;
  while (sweeps < sweeps_limit && !sweep(a, z, done, false)) {
    ++sweeps;
  }
  for (int k = 0; k < polishing_sweeps; ++k) {
    sweep(a, z, done, true);
  }
  // The roots at 0 share p's factor z^m with the product over the others, which cancel: the other roots'
  // radii are those of a alone, and theirs are 0.
  for (std::size_t i = 0; i < z.size(); ++i) {
    found.radius.push_back(inclusion_radius(a, z, i));
  }
  z.insert(z.end(), zeros, complex(0.0, 0.0));
  found.radius.insert(found.radius.end(), zeros, 0.0);
  return found;
}

}  // namespace

std::vector<complex> find_roots(const Polynomial& p) {
  Estimates found = estimates(p);
  for (complex& root : found.w) {
    root = {std::ldexp(root.real(), found.e), std::ldexp(root.imag(), found.e)};
  }
  return found.w;
}

RootClasses classify(const Polynomial& p) {
  RootClasses classes;
  const Estimates found = estimates(p);
  for (const complex w : found.w) {
    classes.roots.emplace_back(std::ldexp(w.real(), found.e), std::ldexp(w.imag(), found.e));
  }
  const std::size_t n = classes.roots.size();
  // Joined roots share a label: the lowest index among them. Two join when their discs meet, in w, where
  // neither the distances nor the radii can overflow.
  std::vector<std::size_t> label(n);
  std::iota(label.begin(), label.end(), 0);
  const auto root_of = [&](std::size_t i) {
    while (label[i] != i) {
      i = label[i];
    }
    return i;
  };
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const bool same = found.w[i] == found.w[j];
      if (same || cx::abs(cx::sub<true>(found.w[i], found.w[j])) <= found.radius[i] + found.radius[j]) {
        const std::size_t ri = root_of(i);
        const std::size_t rj = root_of(j);
        label[std::max(ri, rj)] = std::min(ri, rj);
      }
    }
  }
  // Each class at the mean of its roots, then the classes sorted by argument.
  std::vector<std::size_t> leaders;
  std::vector<std::vector<complex>> members;
  std::vector<int> unsorted(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t leader = root_of(i);
    const auto found_leader = std::find(leaders.begin(), leaders.end(), leader);
    const auto index = static_cast<std::size_t>(found_leader - leaders.begin());
    if (found_leader == leaders.end()) {
      leaders.push_back(leader);
      members.emplace_back();
    }
    members[index].push_back(classes.roots[i]);
    unsorted[i] = static_cast<int>(index);
  }
  // An imaginary part within the class's own uncertainty (its roots' spread about the mean, or the 4 n eps
  // that a simple root's backward error allows) is read as 0: such a class lies on the positive real axis
  // as far as the roots can tell, and would otherwise fall on either side of the cut at argument 0.
  std::vector<complex> centres;
  centres.reserve(members.size());
  for (const std::vector<complex>& roots : members) {
    centres.push_back(mean(roots));
  }
  std::vector<double> spread(centres.size());
  for (std::size_t c = 0; c < centres.size(); ++c) {
    const double allowed = 4 * static_cast<double>(n) * eps;
    const double modulus = cx::abs(centres[c]);
    // Past the largest double, the modulus is taken of the centre scaled down first.
    spread[c] = std::isfinite(modulus) ? allowed * modulus
                                       : cx::abs({centres[c].real() * allowed, centres[c].imag() * allowed});
  }
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<std::size_t>(unsorted[i]);
    spread[c] = std::max(spread[c], cx::abs(cx::sub<true>(classes.roots[i], centres[c])));
  }
  for (std::size_t c = 0; c < centres.size(); ++c) {
    if (std::fabs(centres[c].imag()) <= spread[c]) {
      centres[c].imag(0.0);
    }
  }
  std::vector<int> order(centres.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int x, int y) {
    return argument_before(centres[static_cast<std::size_t>(x)], centres[static_cast<std::size_t>(y)]);
  });
  std::vector<int> rank(order.size());
  for (std::size_t r = 0; r < order.size(); ++r) {
    rank[static_cast<std::size_t>(order[r])] = static_cast<int>(r);
    classes.centres.push_back(centres[static_cast<std::size_t>(order[r])]);
  }
  for (std::size_t i = 0; i < n; ++i) {
    classes.class_of.push_back(rank[static_cast<std::size_t>(unsorted[i])]);
  }
  return classes;
}

int nearest_class(const RootClasses& classes, complex x) {
  std::size_t nearest = 0;
  double best = squared_distance(x, classes.roots[0]);
  for (std::size_t i = 1; i < classes.roots.size(); ++i) {
    const double d = squared_distance(x, classes.roots[i]);
    if (d < best) {
      best = d;
      nearest = i;
    }
  }
  return classes.class_of[nearest];
}

}  // namespace muller::search
