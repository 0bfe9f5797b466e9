// How one search of the map ends: the search run with nothing written, its end classified.
#include "map/outcome.hpp"

#include <utility>

#include "search/search.hpp"

namespace muller::map {

namespace {

// The search that run(row) makes, its finite converged end named by zero_of.
template <class Run, class ZeroOf>
Outcome outcome_of(Run run, ZeroOf zero_of) {
  int rows = 0;
  std::complex<double> end;
  std::complex<double> residual;
  const bool converged = run([&](int k, std::complex<double> x, std::complex<double> fx) {
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
  return outcome_of([&](auto&& row) { return search::search(x0, x1, row); }, quadrant);
}

MapPolynomial map_polynomial(search::Polynomial p) {
  search::RootClasses classes = search::classify(p);
  return {std::move(p), std::move(classes)};
}

Outcome outcome(const MapPolynomial& p, std::complex<double> x0, std::complex<double> x1) {
  return outcome_of(
      [&](auto&& row) { return search::search_polynomial(p.p, x0, x1, row); },
      [&p](std::complex<double> end) { return zero_class(search::nearest_class(p.classes, end)); });
}

}  // namespace muller::map
