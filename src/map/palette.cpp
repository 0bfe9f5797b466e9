// The map's colours: the hues of the classes, their shading by rows, and the classes' names.
#include "map/palette.hpp"

#include <algorithm>
#include <cstdio>

namespace muller::map {

std::array<std::uint8_t, 3> colour(Outcome o, int classes) {
  // Orange, sky blue, bluish green and reddish purple, then the rest of Okabe and Ito's set but black:
  // yellow, blue and vermillion.
  static constexpr std::uint8_t hues[7][3] = {{230, 159, 0},  {86, 180, 233}, {0, 158, 115}, {204, 121, 167},
                                              {240, 228, 66}, {0, 114, 178},  {213, 94, 0}};
  // scripts/palette: golden-angle hues in OKLCH, lightness cycling over three levels.
  static constexpr std::uint8_t many[20][3] = {
      {254, 134, 116}, {1, 151, 113},  {226, 204, 255}, {220, 163, 23},  {2, 143, 173},
      {255, 197, 216}, {131, 195, 93}, {99, 119, 217},  {255, 203, 174}, {7, 200, 188},
      {172, 93, 177},  {234, 219, 88}, {71, 184, 255},  {202, 84, 94},   {124, 245, 172},
      {177, 156, 255}, {176, 112, 3},  {108, 237, 255}, {240, 132, 195}, {113, 141, 2},
  };
  const int k = static_cast<int>(o.end);
  if (k >= std::max(classes, 4) || k >= search::max_degree) {
    return {0, 0, 0};  // gave up, not finite (or no class of this map)
  }
  // Full brightness up to 5 rows, then darker by a twentieth of it a row, down to a quarter from 21 rows
  // on: most searches take 6 to 15 rows, and that is where the shades tell them apart. Integer
  // arithmetic, so that every machine draws the same bytes.
  const int shade = o.rows <= 5 ? 256 : o.rows >= 21 ? 64 : 256 - (o.rows - 5) * 12;
  const std::uint8_t* hue = classes <= 7 ? hues[k] : many[k];
  return {static_cast<std::uint8_t>(hue[0] * shade / 256), static_cast<std::uint8_t>(hue[1] * shade / 256),
          static_cast<std::uint8_t>(hue[2] * shade / 256)};
}

std::string class_label(std::complex<double> centre) {
  char label[64];
  // + 0.0 writes a -0 part as 0: a class's point is not a search's end, and has no sign of zero to show.
  std::snprintf(label, sizeof label, "(%.10g,%.10g)", centre.real() + 0.0, centre.imag() + 0.0);
  return label;
}

}  // namespace muller::map
