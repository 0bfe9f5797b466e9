// What a request names, read from its query by the rules the programs' options follow: a start point,
// and the polynomial, whose parsed form and classes are kept for the requests that name it again.
#pragma once

#include <complex>
#include <cstddef>
#include <initializer_list>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "cli/options.hpp"
#include "http/server.hpp"
#include "map/outcome.hpp"
#include "search/methods.hpp"

namespace muller::explorer {

// The point named by the query parameter `name`, "RE,IM", each part a finite decimal number by the
// programs' rule (no spaces, no hexadecimal, no words such as inf or nan); absent when not given.
cli::Checked<std::complex<double>> point_param(const http::Request& req, const char* name,
                                               std::complex<double> absent);

// Why a request's query cannot name one answer, or "": a key other than those of the route, or one of
// them given twice (each is named). route names the route in the message ("/tile").
std::string key_problem(const http::Request& req, std::initializer_list<const char*> keys, const char* route);

// The method a request names by m= (secant, muller, newton or halley), or none.
cli::Checked<std::optional<search::Method>> method_param(const http::Request& req);

// The polynomial a request names: "c=" with its coefficients or "r=" with its roots. key is "c=..." or
// "r=..." in the canonical text, and empty, with no polynomial, for z^4 + 1 (no parameter, or its own
// coefficients), whose tiles keep the URLs, tags and bytes they had before any other was drawn. When the
// request spelled the polynomial otherwise (other digits, percent-escapes, a key escaped, empty
// parameters), moved_to is where it should go instead: the route's last segment and its query with the
// polynomial in the canonical text, a relative reference that holds under any prefix.
struct Asked {
  std::string key;
  std::shared_ptr<const map::MapPolynomial> polynomial;
  std::string moved_to;
};

// The polynomials requests have named lately, parsed and classified once each: a request that names one
// of them again finds it by its text, and is neither parsed nor classified again. Only canonical texts
// are kept, so a text found here is one that parse would accept as it stands. Safe from any thread.
class Polynomials {
 public:
  explicit Polynomials(std::size_t most = 256) : most_(most) {}

  // The polynomial of the request, or why it names none that can be served: both parameters given, a
  // list that is not a polynomial, or roots out of range. In c= and r= a '+' is read as a '+' (neither
  // ever holds a space), so that an exponent written 1e+21 is read, and moved to 1e21.
  cli::Checked<Asked> asked(const http::Request& req);

 private:
  std::size_t most_;
  std::mutex mutex_;
  std::list<Asked> recent_;  // most recently named first
  std::unordered_map<std::string, std::list<Asked>::iterator> index_;
};

}  // namespace muller::explorer
