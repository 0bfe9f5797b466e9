// How one search of the map ends: the search run with nothing written, its end classified.
#include "map/outcome.hpp"

#include <utility>

#include "search/search.hpp"

namespace muller::map {

namespace {

// The search over p from x0 and x1, its finite converged end named by zero_of.
template <class P, class ZeroOf>
Outcome outcome_over(P p, std::complex<double> x0, std::complex<double> x1, ZeroOf zero_of) {
  int rows = 0;
  std::complex<double> end;
  std::complex<double> residual;
  const bool converged =
      search::search_over(p, x0, x1, [&](int k, std::complex<double> x, std::complex<double> fx) {
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

Outcome outcome(std::complex<double> x0, std::complex<double> x1) {
  return outcome_over([](std::complex<double> z) { return search::f(z); }, x0, x1, quadrant);
}

MapPolynomial map_polynomial(search::Polynomial p) {
  search::RootClasses classes = search::classify(p);
  return {std::move(p), std::move(classes)};
}

Outcome outcome(const MapPolynomial& p, std::complex<double> x0, std::complex<double> x1) {
  return outcome_over(
      [&p](std::complex<double> z) { return search::evaluate(p.p, z); }, x0, x1,
      [&p](std::complex<double> end) { return zero_class(search::nearest_class(p.classes, end)); });
}

}  // namespace muller::map
