// The report of a search for a zero of f, or of any function, written while the search runs.
#pragma once

#include <complex>
#include <cstring>
#include <iomanip>
#include <ostream>
#include <string>
#include <utility>

#include "search/methods.hpp"
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

// The report of a search by method m, written to out as the search runs: "    Metodo " and the method's
// title, the column headings, a row per point, and the summary or failure line named after the method
// (the summary's name in a field of 13, as "muller       " is). search(row) runs the search, handing
// each row to row, and returns search_over's answer. Returns the report's status, as muller().
template <class Search>
int write_report(std::ostream& out, search::Method m, Search&& search) {
  const search::MethodNames name = search::names(m);
  out << "    Metodo " << name.title << std::endl;
  out.precision(search::nprec);
  out << " iteracion"
      << "             x  "
      << "  f(x)  " << std::endl;

  int rows = 0;
  std::complex<double> x;
  std::complex<double> fx;
  // The library's operator<< builds the whole "(re,im)" text before writing it, so a field width set
  // just before it pads the parenthesised text as one piece.
  const bool converged = search([&](int k, std::complex<double> xk, std::complex<double> fk) {
    out << std::setw(10) << k << "   " << std::setw(10) << xk << "  " << fk << std::endl;
    rows = k;
    x = xk;
    fx = fk;
  });
  if (!converged) {
    out << " numero maximo de iteraciones excedido en " << name.word << std::endl;
    return 1;
  }
  out << name.word << std::string(13 - std::strlen(name.word), ' ') << rows << "  iteraciones   "
      << "raiz= " << x << " funcion= " << fx << std::endl;
  return search::finite_end(x, fx) ? 0 : 1;
}

// The same report for the search over p (any callable from complex to complex, as search_over takes),
// written to out; its column and summary keep f's name for p.
template <class P>
int muller_over(std::ostream& out, P&& p, std::complex<double> x0, std::complex<double> x1) {
  return write_report(out, search::Method::muller, [&](auto&& row) {
    return search::search_over(p, x0, x1, std::forward<decltype(row)>(row));
  });
}

// The report of the search by method m over e (search::Z4Plus1, search::OfPolynomial), from x0 and x1.
template <class E>
int report_by(std::ostream& out, search::Method m, const E& e, std::complex<double> x0,
              std::complex<double> x1) {
  return write_report(
      out, m, [&](auto&& row) { return search::search_by(m, e, x0, x1, std::forward<decltype(row)>(row)); });
}

}  // namespace muller::report
