// Windows of the map: the start points it searches, as muller-basins' square or as the explorer's tiles.
#pragma once

#include <complex>
#include <memory>
#include <vector>

#include "map/outcome.hpp"

namespace muller::map {

// A rectangle of the map: pixel (i, j), counted from the top left, is the search from x0 and
// x1 = (re[j], im[i]).
struct Window {
  std::complex<double> x0;
  std::vector<double> re;  // by column, left to right
  std::vector<double> im;  // by row, top to bottom
  // The polynomial searched, or nothing for z^4 + 1 by f itself.
  std::shared_ptr<const MapPolynomial> polynomial = nullptr;
  search::Method method = search::Method::muller;
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

}  // namespace muller::map
