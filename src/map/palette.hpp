// The map's colours: a hue per class of zeros, shaded by the rows a search took, and the names of the
// classes. The summary of muller-basins and the explorer's legend take theirs from here.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <string>

#include "map/outcome.hpp"

namespace muller::map {

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

}  // namespace muller::map
