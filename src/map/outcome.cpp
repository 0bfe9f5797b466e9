// How one search of the map ends: the search run with nothing written, its end classified.
#include "map/outcome.hpp"

#include <utility>

#include "search/methods.hpp"

namespace muller::map {

namespace {

// The search by method m over e from x0 and x1, its finite converged end named by zero_of.
template <class E, class ZeroOf>
Outcome outcome_over(search::Method m, const E& e, std::complex<double> x0, std::complex<double> x1,
                     ZeroOf zero_of) {
  int rows = 0;
  std::complex<double> end;
  std::complex<double> residual;
  const bool converged =
      search::search_by(m, e, x0, x1, [&](int k, std::complex<double> x, std::complex<double> fx) {
        rows = k;
        end = x;
        residual = fx;
      });
  if (!converged) {
    return {End::gave_up, rows};
  }
  if (!search::finite_end(end, residual)) {
    return {End::non_finite, rows};
  }
  return {zero_of(end), rows};
}

}  // namespace

Outcome outcome(search::Method m, std::complex<double> x0, std::complex<double> x1) {
  return outcome_over(m, search::Z4Plus1{}, x0, x1, quadrant);
}

MapPolynomial map_polynomial(search::Polynomial p) {
  search::RootClasses classes = search::classify(p);
  return {std::move(p), std::move(classes)};
}

Outcome outcome(search::Method m, const MapPolynomial& p, std::complex<double> x0, std::complex<double> x1) {
  return outcome_over(m, search::OfPolynomial{p.p}, x0, x1, [&p](std::complex<double> end) {
    return zero_class(search::nearest_class(p.classes, end));
  });
}

}  // namespace muller::map
