// The roots that the map would colour by, for a checker outside the program: reads one polynomial a line,
// its coefficients (highest power first) as pairs of real and imaginary parts in any form strtod reads
// (hexadecimal floats keep every bit), and writes its roots on one line as pairs of hexadecimal floats.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "search/roots.hpp"

using namespace muller::search;  // NOLINT(google-build-using-namespace)

int main() {
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream parts(line);
    std::vector<std::complex<double>> c;
    for (std::string re, im; parts >> re >> im;) {
      c.emplace_back(std::strtod(re.c_str(), nullptr), std::strtod(im.c_str(), nullptr));
    }
    if (c.size() < 2 || c[0] == std::complex<double>(0.0, 0.0)) {
      std::fprintf(stderr, "roots_print: linea no valida: %s\n", line.c_str());
      return 2;
    }
    const char* separator = "";
    for (const std::complex<double> z : find_roots(from_coefficients(c))) {
      std::printf("%s%a %a", separator, z.real(), z.imag());
      separator = " ";
    }
    std::printf("\n");
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
