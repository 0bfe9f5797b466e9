// Costs inside one process: one whole search with its report formatted and then dropped, the same
// search as the map runs it (no report), and one evaluation of f.
#include <benchmark/benchmark.h>

#include <complex>
#include <iostream>
#include <streambuf>

#include "basins.hpp"
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

}  // namespace
