// Muller's method on f, with the iteration report.
//
// Through the last three points x0, x1, x2 (values f0, f1, f2) fit the quadratic in w = x - x2
//
//     A w^2 + B w + C,    Q = (x2 - x1)(x1 - x0)(x1 - x0)
//     A = ((x1 - x0) f2 + (x0 - x2) f1 + (x2 - x1) f0) / Q
//     B = ((x1 - x0)(2 x2 - x1 - x0) f2 - (x2 - x0)^2 f1 + (x2 - x1)^2 f0) / Q
//     C = (x2 - x0) f2 / (x1 - x0)
//
// (the interpolating quadratic scaled by (x2 - x0)/(x1 - x0), which leaves its zeros alone), and step to
// the zero nearer x2:
//
//     x3 = x2 - 2C / (B +- sqrt(B^2 - 4AC)),  the sign giving the denominator of larger modulus.
//
// The two start points give the third by a secant step, x2 = x1 - f1 (x1 - x0) / (f1 - f0).
#include "muller.hpp"

#include <cmath>
#include <iomanip>
#include <iostream>

#include "problem.hpp"

namespace {

using complex = std::complex<double>;

// Constants enter the arithmetic as complex numbers, so that every product below is a full complex
// product with its own handling of signed zeros, infinities and NaNs.
const complex two(2.0, 0.0);
const complex four(4.0, 0.0);

// A NaN modulus compares false here, so it never keeps a search going on its own.
bool residual_above_tolerance(complex f2) { return std::abs(f2) >= fprec; }
bool step_above_tolerance(complex x2, complex x1) { return std::abs(x2 - x1) >= prec; }

bool finite(complex z) { return std::isfinite(z.real()) && std::isfinite(z.imag()); }

// The library's operator<< builds the whole "(re,im)" text before writing it, so a field width set just
// before it pads the parenthesised text as one piece.
void write_row(int k, complex x, complex fx) {
  std::cout << std::setw(10) << k << "   " << std::setw(10) << x << "  " << fx << std::endl;
}

}  // namespace

int muller(complex x0, complex x1) {
  std::cout << "    Metodo Muller" << std::endl;
  std::cout.precision(nprec);
  std::cout << " iteracion"
            << "             x  "
            << "  f(x)  " << std::endl;

  int k = 1;
  complex f0 = f(x0);
  complex f1 = f(x1);
  complex x2 = x1 - (f1 * (x1 - x0)) / (f1 - f0);
  complex f2 = f(x2);
  write_row(k, x2, f2);

  for (k = 2; residual_above_tolerance(f2) || step_above_tolerance(x2, x1); ++k) {
    if (k >= numiter) {
      std::cout << " numero maximo de iteraciones excedido en muller" << std::endl;
      return 1;
    }
    const complex Q = ((x2 - x1) * (x1 - x0)) * (x1 - x0);
    const complex A = (((x1 - x0) * f2 + (x0 - x2) * f1) + (x2 - x1) * f0) / Q;
    const complex B = ((((x1 - x0) * (((two * x2) - x1) - x0)) * f2 - ((x2 - x0) * (x2 - x0)) * f1) +
                       ((x2 - x1) * (x2 - x1)) * f0) /
                      Q;
    const complex C = ((x2 - x0) * f2) / (x1 - x0);
    const complex D = std::sqrt(B * B - (four * A) * C);
    // The factor -2 is written two ways on purpose: -(2, 0) is (-2, -0), with a negative-zero
    // imaginary part, and (-2, 0) has a positive one. The steps they give differ at most in the sign of
    // a zero part of E, and that sign can reach the report, where a zero part prints as 0 or -0; so each
    // branch keeps its own. Ties and NaN moduli take the B - D branch.
    complex E;
    if (std::abs(B + D) > std::abs(B - D)) {
      E = (-two * C) / (B + D);
    } else {
      E = (complex(-2.0, 0.0) * C) / (B - D);
    }
    const complex x3 = x2 + E;

    x0 = x1;
    f0 = f1;
    x1 = x2;
    f1 = f2;
    x2 = x3;
    f2 = f(x2);
    write_row(k, x2, f2);
  }

  std::cout << "muller       " << k - 1 << "  iteraciones   "
            << "raiz= " << x2 << " funcion= " << f2 << std::endl;
  // A NaN or an infinity can end the loop above as well as a zero can; only a finite end is a zero.
  return finite(x2) && finite(f2) ? 0 : 1;
}
