// The roots of a polynomial, for colouring its map, and their classes: roots too close for the map to
// tell apart are one class, and every converged search ends in one class.
//
// Roots by the Aberth-Ehrlich iteration, all n at once: for each root estimate z_i in turn (the newest
// values of the others used at once),
//
//     z_i <- z_i - w_i,   w_i = p(z_i) / (p'(z_i) - p(z_i) S_i),   S_i = sum over j != i of 1 / (z_i - z_j),
//
// which is Newton's step N = p/p' corrected for the other roots, N / (1 - N S_i). It starts from the
// Newton polygon: the upper convex hull of the points (k, log2 |a_k|) (a_k the coefficient of z^k) has an
// edge from k = i to k = j for every group of j - i roots of about the same modulus 2^(-slope); each group
// starts evenly spaced on a circle of that radius, rounded to a power of two, turned by an offset that
// differs from circle to circle. Zero coefficients at the low end are exact roots at 0 and are taken
// out first, and the variable is scaled by a power of two near the roots' geometric mean modulus, so that
// the values stay in range for roots up to the largest double's n-th root and beyond.
//
// Stopping rule: an estimate stops moving once its backward error is at most 4 n eps, that is
// |p(z)| <= 4 n eps sum |a_k| |z|^k (Horner's own rounding bound, so no better test is available in
// double); when all have, or after 100 sweeps, two more sweeps polish every estimate. Accuracy: a
// simple root then carries the forward error of a backward-stable evaluation, about eps times its
// condition number (near 2e-16 relative for random coefficients of degree 2 to 20, and for roots that
// span 1e-8 to 1e8); an m-fold root is only found to about eps^(1/m) (6e-6 for a triple root), as by any
// method in double, which the classes below absorb.
//
// Everything runs in cx's operations and plain +, -, *, /; the logarithms are read from the exponent
// and mantissa, the circle from Taylor series of cos and sin, so that no library's transcendental
// function can change a bit from one platform to the next.
#pragma once

#include <complex>
#include <vector>

#include "search/polynomial.hpp"

namespace muller::search {

// The roots of p: found as above in the coefficient form, as given in the roots form.
std::vector<std::complex<double>> find_roots(const Polynomial& p);

// The classes of p's roots: the connected groups of their inclusion discs. About each root found, z_i, a
// disc of radius n |p(z_i)| / (|a_n| prod over j != i of |z_i - z_j|) (Braess and Hadeler's bound on
// Weierstrass' correction), p evaluated there by compensated Horner, so that it is the residual and not
// the evaluation's rounding noise; any connected group of m discs holds exactly m roots of p, so roots
// whose discs meet cannot be told apart from what was computed, and make one class. An m-fold root's
// estimates (spread by eps^(1/m)) always do; roots that are apart relative to their own accuracy never
// do, at any scale of p or of its roots. Roots given as such are exact: only equal ones join. The
// radii scale with p's roots and not at all with p's multiples, so the classes have no threshold. Each
// class is placed at the mean of its roots, without overflow (its imaginary part read as 0 when within
// the roots' spread about the mean, or 4 n eps of its modulus: the class is then on the positive real
// axis as far as can be told), and the classes are ordered by the argument of that point, from 0 up to
// 2 pi (z^4 + 1: upper right, upper left, lower left, lower right), decided exactly.
struct RootClasses {
  std::vector<std::complex<double>> roots;    // n roots
  std::vector<int> class_of;                  // each root's class
  std::vector<std::complex<double>> centres;  // each class's point, in order
};
RootClasses classify(const Polynomial& p);

// The class of the root nearest to x (a converged search's finite end); ties go to the lower index.
int nearest_class(const RootClasses& classes, std::complex<double> x);

// Whether a's argument is below b's, both taken in [0, 2 pi) (0 at the positive real axis, which the
// point 0 also gets): the half-plane first, then the sign of the cross product, computed exactly.
bool argument_before(std::complex<double> a, std::complex<double> b);

}  // namespace muller::search
