// The map of where the search leads: one search from 0 for every second start point of a square grid,
// its end classified and drawn as a pixel.
#pragma once

#include <array>
#include <atomic>
#include <complex>
#include <cstdint>
#include <vector>

// How a search ended: at one of the four zeros, named by the quadrant of the end point, or not at all.
enum class End : std::uint8_t { upper_right, upper_left, lower_left, lower_right, gave_up, non_finite };
inline constexpr int end_kinds = 6;

struct Outcome {
  End end;
  int rows;  // rows the report would write, the secant row included
};

// The search from x0 = 0 and x1, as the report runs it, with nothing written.
Outcome outcome(std::complex<double> x1);

// The second start point of pixel (i, j), counted from the top left: the grid spans
// [-radius, radius] in both parts, with the real part growing to the right and the imaginary part up;
// pixels mirrored about the centre lines get exactly mirrored points.
std::complex<double> grid_point(int i, int j, int size, double radius);

// The pixel's colour: one hue per zero, darker the more rows the search took; black for no zero.
std::array<std::uint8_t, 3> colour(Outcome o);

struct Tally {
  std::array<long long, end_kinds> ends{};  // start points by End
  long long rows = 0;                       // rows over all searches
  int threads = 0;                          // threads that drew the map
};

// Fills rgb (size * size * 3 bytes, row-major from the top left) with the map, using the given number of
// threads, the calling one included, but no more than there are rows; when the system cannot start them
// all, those that started draw the map. Each thread takes whole pixel rows and keeps its own tally, so
// the bytes and the sums do not depend on the thread count. rows_done counts finished pixel rows, for a
// progress line.
Tally draw(std::vector<std::uint8_t>& rgb, int size, double radius, int threads, std::atomic<int>& rows_done);
