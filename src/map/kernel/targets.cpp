// Which of the kernel's instruction sets this processor runs, and the one draw_rows_vector uses: read
// from Highway with the kernel's own configuration (targets.h), apart from the kernel's compilation.
#include "map/kernel/targets.h"

#include <cstdint>
#include <vector>

#include "map/kernel/kernel.hpp"
// targets.h first: it decides what Highway's headers say.
#include <hwy/targets.h>

namespace muller::map {

#ifdef HWY_COMPILE_ONLY_STATIC
// One target, the module's (targets.h), chosen by whoever loaded it: Highway's run-time library, which
// finds the processor's, is not there.
std::vector<long long> vector_targets() {
  if (HWY_STATIC_TARGET == HWY_SCALAR || HWY_STATIC_TARGET == HWY_EMU128) {
    return {};
  }
  return {HWY_STATIC_TARGET};
}

void use_vector_target(long long /* target */) {}
#else
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

void use_vector_target(long long target) { hwy::SetSupportedTargetsForTest(target); }
#endif

const char* target_name(long long target) { return hwy::TargetName(target); }

const char* vector_target() {
  const std::vector<long long> targets = vector_targets();
  return targets.empty() ? nullptr : target_name(targets.front());
}

}  // namespace muller::map
