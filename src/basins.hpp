// The map of where the search leads: one search for every second start point of a grid, its end
// classified and drawn as a pixel.
#pragma once

#include <array>
#include <atomic>
#include <complex>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "roots.hpp"

// How a search ended: at one of the classes of zeros, or not at all. A class is numbered from 0 in the
// order of its argument (roots.hpp); z^4 + 1's four are named by their quadrants, in that order.
enum class End : std::uint8_t {
  upper_right,
  upper_left,
  lower_left,
  lower_right,
  gave_up = max_degree,  // after the classes of any polynomial of the map
  non_finite
};
inline constexpr int end_kinds = max_degree + 2;
inline End zero_class(int k) { return static_cast<End>(k); }

struct Outcome {
  End end;
  int rows;  // rows the report would write, the secant row included
};

// The search from x0 and x1, as the report runs it, with nothing written.
Outcome outcome(std::complex<double> x0, std::complex<double> x1);

// A polynomial other than z^4 + 1, as the map needs it: its roots in classes, each class a colour.
struct MapPolynomial {
  Polynomial p;
  RootClasses classes;
};
MapPolynomial map_polynomial(Polynomial p);

// The search over p from x0 and x1; a converged finite end takes the class of its nearest root.
Outcome outcome(const MapPolynomial& p, std::complex<double> x0, std::complex<double> x1);

// A rectangle of the map: pixel (i, j), counted from the top left, is the search from x0 and
// x1 = (re[j], im[i]).
struct Window {
  std::complex<double> x0;
  std::vector<double> re;  // by column, left to right
  std::vector<double> im;  // by row, top to bottom
  // The polynomial searched, or nothing for z^4 + 1 by f itself.
  std::shared_ptr<const MapPolynomial> polynomial = nullptr;
};

// The second start point of pixel (i, j) of muller-basins' square: the grid spans [-radius, radius] in
// both parts around centre, with the real part growing to the right and the imaginary part up; pixels
// mirrored about the centre lines get exactly mirrored offsets from the centre. Any finite radius
// works, up to the largest double: no intermediate value overflows. A point whose sum with the centre
// is not finite comes out infinite; square_fits() tells beforehand.
std::complex<double> grid_point(int i, int j, int size, double radius, std::complex<double> centre = {});

// Whether every point of the square around centre is finite.
bool square_fits(double radius, std::complex<double> centre);

// muller-basins' map: size x size points by grid_point, each searched from x0.
Window square(int size, double radius, std::complex<double> centre = {}, std::complex<double> x0 = {});

// The explorer's tiles: tile_size x tile_size pixels, whose centres are the start points. Level 0 is one
// tile over |Re x1| <= 2, |Im x1| <= 2, and each level halves the pixel size: a level has 2^level
// columns and rows of tiles, counted from the top left. Every pixel centre is an odd multiple of
// 2^-(7 + level) inside (-2, 2), and so a double, distinct from its neighbours, down to deepest_level;
// below it neighbouring pixels would share start points.
inline constexpr int tile_size = 256;
inline constexpr int deepest_level = 45;
Window tile(int level, long long column, long long row, std::complex<double> x0);

// The pixel's colour: one hue per class of zeros, darker the more rows the search took; black for no zero.
// The hues depend on how many classes the map has: up to 4, four that readers with any common kind of
// colour blindness tell apart; 5 to 7, the Okabe-Ito set, which begins with those four; 8 to 20, a
// fixed list in which class k's hue is the same whatever their number.
std::array<std::uint8_t, 3> colour(Outcome o, int classes = 4);

// The row counts at which a key to the shading shows it: full brightness up to the first, a quarter of
// it from the last on, evenly darker between.
inline constexpr int shade_rows[] = {5, 9, 13, 17, 21};

// A class of roots by its point, as the report writes numbers (10 significant digits): "(-0.5,0.8660254038)".
std::string class_label(std::complex<double> centre);

struct Tally {
  std::array<long long, end_kinds> ends{};  // start points by End
  long long rows = 0;                       // rows over all searches
  int threads = 0;                          // threads that drew the map
  // What the vector kernel did, for its benchmarks (zero on the scalar path): lane-steps taken (a
  // Muller step of every lane of a group, idle lanes included, counts one per lane), and searches that
  // left the lanes and were done again by the scalar search.
  long long lane_steps = 0;
  long long redone = 0;
};

// How draw() computes the map: on the vector units, many searches side by side (see basins_kernel.hpp),
// or one scalar search after another. The bytes are the same.
enum class Path { vector, scalar };

// The vector instruction set that Path::vector runs on here, such as "AVX3"; nullptr where the build or
// the processor has none, and Path::vector is then the scalar search.
const char* vector_instructions();

// Fills rgb (3 bytes a pixel, row-major from the top left) with the window's map, using the given number
// of threads, the calling one included, but no more than there are rows; when the system cannot start
// them all, those that started draw the map. Each thread takes whole pixel rows and keeps its own tally,
// so the bytes and the sums do not depend on the thread count. rows_done counts finished pixel rows, for
// a progress line.
Tally draw(const Window& window, std::vector<std::uint8_t>& rgb, int threads, std::atomic<int>& rows_done,
           Path path = Path::vector);

// The window's map drawn band_rows pixel rows at a time, each band as draw() draws it, and handed in
// order, from the top, to take (rgb as draw() fills it, and the band's row count) on another thread
// while the next band is drawn: the map's memory is two bands, whatever its height. The bytes and the
// sums are draw()'s. Returns the tally, with the most threads any band had; or nothing once take
// returns false, when no further band is drawn or taken.
std::optional<Tally> draw_in_bands(const Window& window, int band_rows, int threads,
                                   std::atomic<int>& rows_done, Path path,
                                   const std::function<bool(const std::uint8_t* rgb, int rows)>& take);

// Runs job on a thread of its own, as std::async does, and returns its future; an invalid future when no
// thread could be started, and job has then not run. libc++ 14's std::async, when its thread cannot start,
// waits for ever for that thread to finish (its shared state's destructor waits as the exception leaves),
// which hung muller-basins under a tight memory limit. Unlike std::async's, this future does not wait in
// its destructor: whoever shares data with job waits for it (wait()) before that data goes.
template <class Job>
std::future<std::invoke_result_t<Job>> start_thread(Job job) {
  std::packaged_task<std::invoke_result_t<Job>()> task(std::move(job));
  std::future<std::invoke_result_t<Job>> result = task.get_future();
  try {
    std::thread(std::move(task)).detach();
  } catch (const std::system_error&) {
    return {};
  }
  return result;
}
