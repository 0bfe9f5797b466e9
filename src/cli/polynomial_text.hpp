// Polynomials and complex numbers as the user writes them: an expression in z, a list of roots or of
// coefficients, a point; and the canonical text that names a polynomial exactly. The explorer's page
// reads the same grammar (web/polynomial.js), held to the same verdicts by tests/polynomial_cases.txt.
#pragma once

#include <complex>
#include <optional>
#include <string>
#include <vector>

#include "cli/checked.hpp"
#include "search/polynomial.hpp"

namespace muller::cli {

using search::Polynomial;

// An expression in z by the grammar
//
//     poly  = [sign] term {sign term}
//     term  = coef ["*"] power | coef | power
//     power = "z" ["^" digits | superscripts]           (1 to 20, each power at most once)
//     coef  = real ["i"] | "i" | "(" real sign real "i" ")"
//
// where real is an unsigned decimal by the programs' rule (cli::real: 2, 0.5, .5, 1e-3; inside the
// parentheses the first may carry a sign), superscripts are the digits ⁰ to ⁹ in UTF-8 (z² is z^2, as
// headings write it), and spaces may stand between tokens, never inside one. Refused, with one line
// saying why (worded to follow the option's name): a constant or a degree above 20, a repeated power, a
// zero coefficient written out, a number that rounds to 0 or to infinity, anything else; a product of
// factors such as (z-1)^3, with its roots written out for --roots.
Checked<Polynomial> parse_polynomial(const std::string& text);

// A point as the user writes it on the command line: RE,IM by the options' rule, spaces allowed around
// either part, or a complex number in the grammar above without z, its real and imaginary parts each
// written at most once (0.5+0.25i, -i, 2, (1.5-2e-3i)). A part written keeps its sign, -0 included; a
// part not written is +0.
Checked<std::complex<double>> parse_complex(const std::string& text);

// Roots written r1;r2;...: each RE or RE,IM by the programs' rule, 1 to 20 of them.
Checked<Polynomial> parse_roots(const std::string& text);

// Coefficients written c_n;...;c_0, highest power first, each RE or RE,IM as the roots are: 2 to 21 of
// them, the first nonzero.
Checked<Polynomial> parse_coefficients(const std::string& text);

// Why a polynomial with these roots cannot be drawn, or "": a root that is not a finite double, its modulus
// past the largest (1.8e+308), where no search can end.
std::string roots_problem(const std::vector<std::complex<double>>& roots);

// The canonical text of a polynomial: its coefficients (or its roots, in the roots form) each as RE or
// RE,IM in the shortest decimals that read back to the same double (as to_chars writes them, the
// exponent without its '+': 1e21, 1e-06), separated by ';'. It needs no escaping in a URL's query.
std::string canonical(const Polynomial& p);

// A polynomial as the explorer's addresses name it: name 'c' and its coefficients, or 'r' and its roots,
// as parse_coefficients and parse_roots read them, in the canonical text alone (another spelling is
// refused, the canonical one named), so that one polynomial has one name. z^4 + 1 by its coefficients
// gives no polynomial: it is searched by f itself, as when none is named. The problem begins with the
// name, as a query parameter's does.
Checked<std::optional<Polynomial>> named_polynomial(char name, const std::string& text);

}  // namespace muller::cli
