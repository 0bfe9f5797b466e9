// The Muller search for a zero of f, with the report it writes while it runs.
#pragma once

#include <complex>
#include <ostream>

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
