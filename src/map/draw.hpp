// The map drawn: the search from every start point of a window, on all cores, on the vector units or one
// scalar search after another, each pixel coloured by how its search ended.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "map/outcome.hpp"
#include "map/window.hpp"

namespace muller::map {

struct Tally {
  std::array<long long, end_kinds> ends{};  // start points by End
  long long rows = 0;                       // rows over all searches
  int threads = 0;                          // threads that drew the map
  // What the vector kernel did, for its benchmarks (zero on the scalar path): lane-steps taken (a
  // Muller step of every lane of a group, idle lanes included, counts one per lane), and of them those
  // taken again on every value, by the ruled arithmetic (a hardware vector's lanes all count).
  long long lane_steps = 0;
  long long ruled_steps = 0;
};

// How draw() computes the map: on the vector units, many searches side by side (see kernel/kernel.hpp),
// or one scalar search after another. The bytes are the same.
enum class Path { vector, scalar };

// The vector instruction set that Path::vector runs on here, such as "AVX3"; nullptr where the build or
// the processor has none, and Path::vector is then the scalar search.
const char* vector_instructions();

// Fills rgb (3 bytes a pixel, row-major from the top left) with the window's map, using the given number
// of threads, the calling one included, but no more than there are rows; when the system cannot start
// them all, those that started draw the map (on WASI, which has no threads, the calling one alone). Each
// thread takes whole pixel rows and keeps its own tally, so the bytes and the sums do not depend on the
// thread count. rows_done counts finished pixel rows, for a progress line.
Tally draw(const Window& window, std::vector<std::uint8_t>& rgb, int threads, std::atomic<int>& rows_done,
           Path path = Path::vector);

// The window's map drawn band_rows pixel rows at a time, each band as draw() draws it, and handed in
// order, from the top, to take (rgb as draw() fills it, and the band's row count) on another thread
// while the next band is drawn (on WASI, on the calling thread before it): the map's memory is two bands,
// whatever its height. The bytes and the sums are draw()'s. Returns the tally, with the most threads any band
// had; or nothing once take returns false, when no further band is drawn or taken.
std::optional<Tally> draw_in_bands(const Window& window, int band_rows, int threads,
                                   std::atomic<int>& rows_done, Path path,
                                   const std::function<bool(const std::uint8_t* rgb, int rows)>& take);

}  // namespace muller::map
