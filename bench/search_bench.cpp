// Costs inside one process: one whole search with its report formatted and then dropped, the same
// search as the map runs it (no report), a grid of searches over f and over z^4 + 1 as a polynomial,
// one evaluation of f, the map drawn on one thread by the scalar search and on each instruction set of
// the vector units, and maps of z^n - 1 by degree, in pixels per second.
#include <benchmark/benchmark.h>

#include <atomic>
#include <complex>
#include <cstdint>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "map/draw.hpp"
#include "search/methods.hpp"
#ifdef MULLER_VECTOR
#include "map/kernel/kernel.hpp"
#endif
#include "report/report.hpp"
#include "search/polynomial.hpp"
#include "search/problem.hpp"
#include "search/search.hpp"

using namespace muller::map;     // NOLINT(google-build-using-namespace)
using namespace muller::report;  // NOLINT(google-build-using-namespace)
using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

// Takes every character and keeps none, so the search is timed with its formatting but no device.
struct Discard : std::streambuf {
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char* /*text*/, std::streamsize n) override { return n; }
};

void BM_WholeSearch(benchmark::State& state) {
  Discard discard;
  std::streambuf* const saved = std::cout.rdbuf(&discard);
  for (auto _ : state) {
    benchmark::DoNotOptimize(muller::report::muller({0.0, 0.0}, {1.0, 1.0}));
  }
  std::cout.rdbuf(saved);
}
BENCHMARK(BM_WholeSearch);

void BM_SearchWithoutReport(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(outcome(Method::muller, {0.0, 0.0}, {1.0, 1.0}));
  }
}
BENCHMARK(BM_SearchWithoutReport);

// Scalar searches over a 128 x 128 grid of second start points (the flower, x0 = 0), summing their rows:
// through f itself, and through the general path that evaluates any polynomial, here z^4 + 1 by sparse
// Horner (the same bits). Searches per second; the ratio of the two is the general path's cost.
template <class P>
void search_grid(benchmark::State& state, P p) {
  const Window window = square(128, 0.5);
  for (auto _ : state) {
    long long rows = 0;
    for (const double im : window.im) {
      for (const double re : window.re) {
        search_over(
            p, window.x0, {re, im},
            [&](int k, std::complex<double> /*x*/, std::complex<double> /*fx*/) { rows += k == 1 ? 1 : 0; });
      }
    }
    benchmark::DoNotOptimize(rows);
  }
  state.counters["searches"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 128 * 128, benchmark::Counter::kIsRate);
}

void BM_SearchesOverF(benchmark::State& state) {
  search_grid(state, [](std::complex<double> z) { return f(z); });
}
BENCHMARK(BM_SearchesOverF)->Unit(benchmark::kMillisecond);

void BM_SearchesOverPolynomial(benchmark::State& state) {
  const Polynomial p = default_polynomial();
  search_grid(state, [&p](std::complex<double> z) { return evaluate(p, z); });
}
BENCHMARK(BM_SearchesOverPolynomial)->Unit(benchmark::kMillisecond);

void BM_F(benchmark::State& state) {
  std::complex<double> z(0.7, 0.7);
  for (auto _ : state) {
    benchmark::DoNotOptimize(z);
    benchmark::DoNotOptimize(f(z));
  }
}
BENCHMARK(BM_F);

// Draws a 256 x 256 window on one thread, again and again, and counts its pixels per second.
void time_map(benchmark::State& state, const Window& window, Path path) {
  std::vector<std::uint8_t> rgb;
  std::atomic<int> rows_done{0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(draw(window, rgb, 1, rows_done, path));
  }
  state.counters["pixels"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 256 * 256, benchmark::Counter::kIsRate);
}

// A 256 x 256 window over the flower, where searches are longest and most varied.
void draw_flower(benchmark::State& state, Path path) { time_map(state, square(256, 0.5), path); }

void BM_MapScalar(benchmark::State& state) { draw_flower(state, Path::scalar); }
BENCHMARK(BM_MapScalar)->Unit(benchmark::kMillisecond);

// The map of z^n - 1 over the square of radius 2 for several degrees n, by each method (the second
// argument: 0 secant, 1 Muller, 2 Newton, 3 Halley), by the scalar search and by the vector units (the
// best instruction set here): pixels per second by degree and method.
void draw_polynomial(benchmark::State& state, Path path) {
  const int degree = static_cast<int>(state.range(0));
  const auto method = static_cast<Method>(state.range(1));
  std::vector<std::complex<double>> c(static_cast<std::size_t>(degree) + 1);
  c.front() = 1.0;
  c.back() = -1.0;
  Window window = square(256, 2.0);
  window.polynomial = std::make_shared<const MapPolynomial>(map_polynomial(from_coefficients(c)));
  window.method = method;
  time_map(state, window, path);
}
void BM_PolynomialMapScalar(benchmark::State& state) { draw_polynomial(state, Path::scalar); }
BENCHMARK(BM_PolynomialMapScalar)
    ->ArgsProduct({{2, 4, 8, 12, 20}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);
void BM_PolynomialMapVector(benchmark::State& state) { draw_polynomial(state, Path::vector); }
BENCHMARK(BM_PolynomialMapVector)
    ->ArgsProduct({{2, 4, 8, 12, 20}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

#ifdef MULLER_VECTOR
// One benchmark per instruction set this processor runs, named after it.
const bool registered = [] {
  for (const long long target : vector_targets()) {
    benchmark::RegisterBenchmark((std::string("BM_MapVector/") + target_name(target)).c_str(),
                                 [target](benchmark::State& state) {
                                   use_vector_target(target);
                                   draw_flower(state, Path::vector);
                                   use_vector_target(0);
                                 })
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();
#endif

}  // namespace
