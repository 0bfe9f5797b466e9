// Windows of the map: the grid of a square, exactly mirrored, and the tiles, exactly placed.
#include "map/window.hpp"

#include <cmath>
#include <cstddef>

namespace muller::map {

// radius * (2j - (size - 1)) / (size - 1) is -radius + 2 radius j / (size - 1) rearranged so that mirrored
// pixels get exactly opposite parts (the integer factor changes sign exactly, and rounding is
// symmetric), an odd size puts exactly 0 at the centre, and size 257 puts exactly +-1 +- i on pixels.
// When radius times the factor would overflow (a radius within a factor of SIZE of the largest double),
// the factor is divided first: it is then at most 1 in magnitude, and still exactly mirrored. The
// default square never takes that branch, so its points keep their bits. Adding a zero centre changes
// no offset (none is -0), and so no bit either.
namespace {

double grid_offset(int k, int size, double radius) {
  const double last = size - 1;
  const double factor = 2 * k - (size - 1);
  if (std::isfinite(radius * last)) {
    return radius * factor / last;
  }
  return radius * (factor / last);
}

}  // namespace

std::complex<double> grid_point(int i, int j, int size, double radius, std::complex<double> centre) {
  return {centre.real() + grid_offset(j, size, radius), centre.imag() - grid_offset(i, size, radius)};
}

bool square_fits(double radius, std::complex<double> centre) {
  const double re = std::abs(centre.real());
  const double im = std::abs(centre.imag());
  return std::isfinite(radius) && std::isfinite(re + radius) && std::isfinite(im + radius);
}

Window square(int size, double radius, std::complex<double> centre, std::complex<double> x0) {
  Window w{x0, std::vector<double>(static_cast<std::size_t>(size)),
           std::vector<double>(static_cast<std::size_t>(size))};
  for (int k = 0; k < size; ++k) {
    w.re[static_cast<std::size_t>(k)] = grid_point(0, k, size, radius, centre).real();
    w.im[static_cast<std::size_t>(k)] = grid_point(k, 0, size, radius, centre).imag();
  }
  return w;
}

// -2 + n 2^-(6 + level) is exact (a multiple of 2^-51 at most within [-2, 2)), and so is adding the half
// pixel 2^-(7 + level) down to deepest_level, where the odd multiples of 2^-52 below 2 are still doubles.
Window tile(int level, long long column, long long row, std::complex<double> x0) {
  const double pixel = std::ldexp(1.0, -6 - level);
  const double half = std::ldexp(1.0, -7 - level);
  Window w{x0, std::vector<double>(tile_size), std::vector<double>(tile_size)};
  for (int k = 0; k < tile_size; ++k) {
    w.re[static_cast<std::size_t>(k)] = -2.0 + static_cast<double>(column * tile_size + k) * pixel + half;
    w.im[static_cast<std::size_t>(k)] = 2.0 - static_cast<double>(row * tile_size + k) * pixel - half;
  }
  return w;
}

}  // namespace muller::map
