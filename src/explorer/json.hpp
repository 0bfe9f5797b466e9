// The explorer's JSON answers: a search's report and points, and a polynomial's classes of roots.
#pragma once

#include <complex>
#include <optional>
#include <string>

#include "map/outcome.hpp"
#include "search/methods.hpp"
#include "search/polynomial.hpp"

namespace muller::explorer {

// The search over p (z^4 + 1 by f when null) from x0 and x1: the report as muller prints it, with its
// status and the points the page draws; by Muller's method, or by the method given, which the answer
// then names, with the order of convergence its rows show (null where they show none).
std::string report_json(const search::Polynomial* p, std::complex<double> x0, std::complex<double> x1,
                        std::optional<search::Method> method = std::nullopt);

// The classes of p's roots in their order, each with its colour on the map (at each row count of the
// shading's key), its point as the summary names it and its roots, numbered from 1 in the order they
// were found or given: what the page's legend and markers show. key names the polynomial as the
// request did ("" for z^4 + 1).
std::string roots_json(const std::string& key, const map::MapPolynomial& p);

}  // namespace muller::explorer
