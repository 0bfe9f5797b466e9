// FNV-1a, one step a value: for the tiles' table and the page files' ETags.
#pragma once

#include <cstdint>

namespace muller::explorer {

inline constexpr std::uint64_t fnv_basis = 1469598103934665603ULL;
constexpr std::uint64_t fnv_step(std::uint64_t h, std::uint64_t v) { return (h ^ v) * 1099511628211ULL; }

}  // namespace muller::explorer
