// The reports of 3,064 start pairs by each of the four methods, one after another, so that two builds
// can be compared byte for byte: 3,000 seeded random pairs with parts in [-10, 10] and 64 pairs made of
// special parts.
//
//   many_reports            Muller's reports on standard output, each after a line "# pair N"
//   many_reports --methods  each followed by the secant's, Newton's and Halley's, after "# METHOD pair N"
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <limits>
#include <random>
#include <string>

#include "report/report.hpp"

using namespace muller::report;  // NOLINT(google-build-using-namespace)
using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

// Built from the generator's raw output, whose sequence the standard fixes, so that every standard
// library draws the same parts.
double uniform_part(std::mt19937_64& rng) {
  const double unit = static_cast<double>(rng() >> 11) * 0x1p-53;  // in [0, 1)
  return 20.0 * unit - 10.0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool every_method = argc > 1 && std::string(argv[1]) == "--methods";
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Zeros of both signs, a part of a zero of f, one whose powers underflow, one whose powers overflow,
  // infinities and NaN. Pair (i, j) starts from (s_i, s_j) and (s_j, s_i): equal start points on the
  // diagonal.
  const double special[] = {0.0, -0.0, 0.7071067811865476, 1e-300, -1e200, inf, -inf, nan};
  int n = 0;
  auto run = [&](std::complex<double> x0, std::complex<double> x1) {
    std::cout << "# pair " << ++n << '\n';
    muller::report::muller(x0, x1);
    for (const Method m : {Method::secant, Method::newton, Method::halley}) {
      if (!every_method) {
        break;
      }
      std::cout << "# " << names(m).key << " pair " << n << '\n';
      report_by(std::cout, m, Z4Plus1{}, x0, x1);
    }
  };
  std::mt19937_64 rng(20261207);
  for (int i = 0; i < 3000; ++i) {
    const double a = uniform_part(rng);
    const double b = uniform_part(rng);
    const double c = uniform_part(rng);
    const double d = uniform_part(rng);
    run({a, b}, {c, d});
  }
  for (const double s : special) {
    for (const double t : special) {
      run({s, t}, {t, s});
    }
  }
  return std::cout.flush() ? 0 : 1;
}
