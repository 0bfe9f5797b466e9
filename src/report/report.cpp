// The iteration report: the search's rows written as a table, on std::cout or a given stream, with its
// closing line.
#include "report/report.hpp"

#include <iostream>

namespace muller::report {

int muller(std::complex<double> x0, std::complex<double> x1) { return muller(std::cout, x0, x1); }

int muller(std::ostream& out, std::complex<double> x0, std::complex<double> x1) {
  return muller_over(
      out, [](std::complex<double> z) { return search::f(z); }, x0, x1);
}

}  // namespace muller::report
