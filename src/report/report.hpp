// The report of a search for a zero of f, or of any function, written while the search runs.
#pragma once

#include <complex>
#include <iomanip>
#include <ostream>

#include "search/problem.hpp"
#include "search/search.hpp"

namespace muller::report {

// Seeks a zero of f from the start points x0 and x1: one secant step gives a third point, then each
// Muller step fits a quadratic through the last three points and moves to its zero nearer the newest.
//
// Writes its report to std::cout as it goes and leaves the precision of std::cout at 10 digits: two
// header lines, one numbered row per point computed (the start points are not shown), then either the
// summary line with the number of rows, the last point and f there, or the failure line when the row
// counter reaches numiter (at most 99 rows). Every line is flushed as it is written.
//
// Returns 0 when both the residual |f(x2)| and the last step |x2 - x1| have fallen below their
// tolerances and the point and residual are finite; returns 1 when the limit was reached, or when the
// search stopped on a non-finite point or residual (its summary line then shows those values). Start
// points are not validated: equal points, NaNs or infinities run through the arithmetic and end in
// status 1. Never throws; reads nothing.
int muller(std::complex<double> x0, std::complex<double> x1);

// The same search with its report written to out instead, whose precision it leaves at 10 digits.
int muller(std::ostream& out, std::complex<double> x0, std::complex<double> x1);

namespace detail {

// The report of the search that run(row) makes, handing each row to row, written to out.
template <class Run>
int report_of(std::ostream& out, Run&& run) {
  out << "    Metodo Muller" << std::endl;
  out.precision(search::nprec);
  out << " iteracion"
      << "             x  "
      << "  f(x)  " << std::endl;

  int rows = 0;
  std::complex<double> x;
  std::complex<double> fx;
  // The library's operator<< builds the whole "(re,im)" text before writing it, so a field width set
  // just before it pads the parenthesised text as one piece.
  const bool converged = run([&](int k, std::complex<double> xk, std::complex<double> fk) {
    out << std::setw(10) << k << "   " << std::setw(10) << xk << "  " << fk << std::endl;
    rows = k;
    x = xk;
    fx = fk;
  });
  if (!converged) {
    out << " numero maximo de iteraciones excedido en muller" << std::endl;
    return 1;
  }
  out << "muller       " << rows << "  iteraciones   "
      << "raiz= " << x << " funcion= " << fx << std::endl;
  return search::finite_end(x, fx) ? 0 : 1;
}

}  // namespace detail

// The same report for the search over p (any callable from complex to complex, as search_over takes),
// written to out; its column and summary keep f's name for p.
template <class P>
int muller_over(std::ostream& out, P&& p, std::complex<double> x0, std::complex<double> x1) {
  return detail::report_of(out, [&](auto&& row) { return search::search_over(p, x0, x1, row); });
}

// The report of the search over a polynomial, as search_polynomial runs it: its values are p's.
inline int muller_polynomial(std::ostream& out, const search::Polynomial& p, std::complex<double> x0,
                             std::complex<double> x1) {
  return detail::report_of(out, [&](auto&& row) { return search::search_polynomial(p, x0, x1, row); });
}

}  // namespace muller::report
