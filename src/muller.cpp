// The iteration report: the search's rows written as a table, on std::cout or a given stream, with its
// closing line.
#include "muller.hpp"

#include <iomanip>
#include <iostream>

#include "problem.hpp"
#include "search.hpp"

int muller(std::complex<double> x0, std::complex<double> x1) { return muller(std::cout, x0, x1); }

int muller(std::ostream& out, std::complex<double> x0, std::complex<double> x1) {
  out << "    Metodo Muller" << std::endl;
  out.precision(nprec);
  out << " iteracion"
      << "             x  "
      << "  f(x)  " << std::endl;

  int rows = 0;
  std::complex<double> x;
  std::complex<double> fx;
  // The library's operator<< builds the whole "(re,im)" text before writing it, so a field width set
  // just before it pads the parenthesised text as one piece.
  const bool converged = search(x0, x1, [&](int k, std::complex<double> xk, std::complex<double> fk) {
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
  return finite_end(x, fx) ? 0 : 1;
}
