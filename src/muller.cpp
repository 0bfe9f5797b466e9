// The iteration report: the search's rows written as a table, on std::cout or a given stream, with its
// closing line.
#include "muller.hpp"

#include <iostream>

int muller(std::complex<double> x0, std::complex<double> x1) { return muller(std::cout, x0, x1); }

int muller(std::ostream& out, std::complex<double> x0, std::complex<double> x1) {
  return muller_over(
      out, [](std::complex<double> z) { return f(z); }, x0, x1);
}
