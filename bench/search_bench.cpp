// Costs inside one process: one whole search with its report formatted and then dropped, the same
// search as the map runs it (no report), one evaluation of f, and the map drawn on one thread by the
// scalar search and on each instruction set of the vector units, in pixels per second.
#include <benchmark/benchmark.h>

#include <atomic>
#include <complex>
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "basins.hpp"
#ifdef MULLER_VECTOR
#include "basins_kernel.hpp"
#endif
#include "muller.hpp"
#include "problem.hpp"

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
    benchmark::DoNotOptimize(muller({0.0, 0.0}, {1.0, 1.0}));
  }
  std::cout.rdbuf(saved);
}
BENCHMARK(BM_WholeSearch);

void BM_SearchWithoutReport(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(outcome({0.0, 0.0}, {1.0, 1.0}));
  }
}
BENCHMARK(BM_SearchWithoutReport);

void BM_F(benchmark::State& state) {
  std::complex<double> z(0.7, 0.7);
  for (auto _ : state) {
    benchmark::DoNotOptimize(z);
    benchmark::DoNotOptimize(f(z));
  }
}
BENCHMARK(BM_F);

// A 256 x 256 window over the flower, where searches are longest and most varied.
void draw_flower(benchmark::State& state, Path path) {
  const Window window = square(256, 0.5);
  std::vector<std::uint8_t> rgb;
  std::atomic<int> rows_done{0};
  for (auto _ : state) {
    benchmark::DoNotOptimize(draw(window, rgb, 1, rows_done, path));
  }
  state.counters["pixels"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * 256 * 256, benchmark::Counter::kIsRate);
}

void BM_MapScalar(benchmark::State& state) { draw_flower(state, Path::scalar); }
BENCHMARK(BM_MapScalar)->Unit(benchmark::kMillisecond);

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
