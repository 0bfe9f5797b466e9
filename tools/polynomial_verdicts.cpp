// The programs' verdicts on texts a user may type, for comparing with the page's reader
// (tests/polynomial_differential_test.js): reads one case a line, KIND and the text's bytes in
// hexadecimal (so that any byte, a newline or a tab included, can be given), KIND one of poly (--poly),
// roots (--roots and r=), coef (c=) and point (--x0); writes one line a case, "refused", or "ok", the
// numbers read (RE,IM each, ';' between, in the shortest digits that read back, -0 kept) and, for a
// polynomial, its canonical text, separated by tabs.
#include <complex>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/polynomial_text.hpp"
#include "cli/text.hpp"

namespace cli = muller::cli;

namespace {

std::string bytes_of(const std::string& hex) {
  std::string bytes;
  for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(k, 2), nullptr, 16));
  }
  return bytes;
}

std::string numbers(const std::vector<std::complex<double>>& values) {
  std::string text;
  for (const std::complex<double> z : values) {
    text += (text.empty() ? "" : ";") + cli::shortest(z.real()) + "," + cli::shortest(z.imag());
  }
  return text;
}

}  // namespace

int main() {
  for (std::string line; std::getline(std::cin, line);) {
    const std::size_t space = line.find(' ');
    const std::string kind = line.substr(0, space);
    const std::string text = bytes_of(space == std::string::npos ? "" : line.substr(space + 1));
    if (kind == "point") {
      const cli::Checked<std::complex<double>> z = cli::parse_complex(text);
      std::printf("%s\n", z.problem.empty() ? ("ok\t" + numbers({z.value})).c_str() : "refused");
      continue;
    }
    const cli::Checked<cli::Polynomial> p = kind == "poly"    ? cli::parse_polynomial(text)
                                            : kind == "roots" ? cli::parse_roots(text)
                                                              : cli::parse_coefficients(text);
    if (!p.problem.empty()) {
      std::printf("refused\n");
      continue;
    }
    std::printf("ok\t%s\t%s\n", numbers(kind == "roots" ? p.value.roots : p.value.c).c_str(),
                cli::canonical(p.value).c_str());
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
