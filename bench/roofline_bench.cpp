// What the floating-point units of this processor can do, and what the map's kernel does with them: for
// each instruction set that the kernel is compiled for and the processor runs, the time a vector
// instruction takes at full throughput (additions and multiplications mixed, divisions, square roots),
// and the kernel drawing three windows on one thread: its time per lane-step, the lane-steps a pixel
// takes, and the share of them taken again on every value by the ruled arithmetic. bench/roofline adds the
// instructions of one step, counted in the build, and puts the two together.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "map/draw.hpp"
#include "map/kernel/kernel.hpp"

// The kernel's own instruction sets.
#include "map/kernel/targets.h"
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "roofline_bench.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

using namespace muller::map;     // NOLINT(google-build-using-namespace)
using namespace muller::search;  // NOLINT(google-build-using-namespace)

HWY_BEFORE_NAMESPACE();
namespace roofline {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using Tag = hn::ScalableTag<double>;
using V = hn::Vec<Tag>;

// Nanoseconds a vector instruction of the given kind takes when enough independent ones are in flight:
// 0 additions and multiplications alternately, 1 divisions, 2 square roots (each times a constant, so
// that the operands keep a full mantissa; the multiplications go to other units).
double NsPerInstruction(int kind) {
  constexpr int chains = 12;
  constexpr int rounds = 1 << 18;
  const Tag d;
  volatile double seed = 1.2345678;  // not known to the compiler, so nothing is folded
  const V c = hn::Set(d, seed);
  const V one = hn::Set(d, seed / seed);
  double best = 1e30;
  for (int repeat = 0; repeat < 5; ++repeat) {
    V x[chains];
    for (int k = 0; k < chains; ++k) {
      x[k] = hn::Set(d, seed + k);
    }
    const auto start = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r) {
      for (int k = 0; k < chains; ++k) {
        if (kind == 0) {
          x[k] = (k & 1) != 0 ? hn::Mul(x[k], one) : hn::Add(x[k], one);
        } else if (kind == 1) {
          x[k] = hn::Div(c, x[k]);  // c / (c / x) is x again: no underflow
        } else {
          x[k] = hn::Mul(hn::Sqrt(x[k]), c);
        }
      }
    }
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    V sum = x[0];
    for (int k = 1; k < chains; ++k) {
      sum = hn::Add(sum, x[k]);
    }
    volatile double keep = hn::GetLane(sum);
    (void)keep;
    best = std::min(best, took.count() / (static_cast<double>(rounds) * chains));
  }
  return best;
}

}  // namespace HWY_NAMESPACE
}  // namespace roofline
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace roofline {
HWY_EXPORT(NsPerInstruction);

struct Case {
  const char* name;
  Window window;
};

void measure(const Case& c) {
  std::atomic<int> rows_done{0};
  std::vector<std::uint8_t> rgb;
  double best = 1e30;
  Tally tally;
  for (int repeat = 0; repeat < 3; ++repeat) {
    const auto start = std::chrono::steady_clock::now();
    tally = draw(c.window, rgb, 1, rows_done);
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  const double pixels = static_cast<double>(c.window.re.size() * c.window.im.size());
  std::printf("window %s pixels %.0f lane_steps %lld ruled %lld ns %.0f\n", c.name, pixels, tally.lane_steps,
              tally.ruled_steps, best);
}

}  // namespace roofline

int main() {
  using namespace roofline;
  const std::vector<Case> cases = {
      {"default", square(1024, 2.0)}, {"flower", square(512, 0.5)}, {"centre", square(512, 0.01)}};
  for (const long long target : vector_targets()) {
    use_vector_target(target);
    std::printf("target %s lanes %d\n", target_name(target), vector_lanes());
    std::printf("ns add_mul %.4f div %.4f sqrt %.4f\n", HWY_DYNAMIC_DISPATCH(NsPerInstruction)(0),
                HWY_DYNAMIC_DISPATCH(NsPerInstruction)(1), HWY_DYNAMIC_DISPATCH(NsPerInstruction)(2));
    for (const Case& c : cases) {
      measure(c);
    }
    std::fflush(stdout);
  }
  use_vector_target(0);
}
#endif  // HWY_ONCE
