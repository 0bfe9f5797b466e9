// How one search of the map ends: at which class of zeros, after how many rows, or at none.
#pragma once

#include <complex>
#include <cstdint>

#include "search/methods.hpp"
#include "search/roots.hpp"

namespace muller::map {

using search::max_degree;

// How a search ended: at one of the classes of zeros, or not at all. A class is numbered from 0 in the
// order of its argument (search/roots.hpp); z^4 + 1's four are named by their quadrants, in that order.
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

// The zero of z^4 + 1 that a converged search's finite end is nearest to: the one in its quadrant.
// The vector kernel classifies its lanes' ends by this too.
inline End quadrant(std::complex<double> end) {
  const bool right = end.real() > 0;
  if (end.imag() > 0) {
    return right ? End::upper_right : End::upper_left;
  }
  return right ? End::lower_right : End::lower_left;
}

// The search by method m from x0 and x1, as the report runs it, with nothing written.
Outcome outcome(search::Method m, std::complex<double> x0, std::complex<double> x1);

// A polynomial other than z^4 + 1, as the map needs it: its roots in classes, each class a colour.
struct MapPolynomial {
  search::Polynomial p;
  search::RootClasses classes;
};
MapPolynomial map_polynomial(search::Polynomial p);

// The search by method m over p from x0 and x1; a converged finite end takes the class of its nearest
// root.
Outcome outcome(search::Method m, const MapPolynomial& p, std::complex<double> x0, std::complex<double> x1);

}  // namespace muller::map
