// The server's answers to the page, computed natively, for comparing the page's WebAssembly modules with
// the native build byte for byte (tests/wasm/modules_test.mjs). One request a line on standard input:
//
//   tile LEVEL COLUMN ROW X0_RE X0_IM POLYNOMIAL     the tile's pixels, 3 bytes each (RGB), drawn by
//                                                   map::draw as the explorer draws them
//   report X0_RE X0_IM X1_RE X1_IM POLYNOMIAL        /report's JSON
//   roots POLYNOMIAL                                 /roots' JSON
//
// POLYNOMIAL is "-" for z^4 + 1, or "c=..." or "r=..." as the server's queries name it; numbers are read
// by strtod (inf and nan included, which the modules take and a query does not).
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/polynomial_text.hpp"
#include "explorer/json.hpp"
#include "map/draw.hpp"
#include "map/outcome.hpp"
#include "map/window.hpp"

namespace {

using complex = std::complex<double>;

struct Named {
  std::string key;  // as /roots writes it: empty for z^4 + 1
  std::shared_ptr<const muller::map::MapPolynomial> polynomial;
};

Named named(const std::string& text) {
  if (text == "-") {
    return {};
  }
  const auto p = muller::cli::named_polynomial(text.at(0), text.substr(2));
  if (!p.problem.empty()) {
    std::cerr << "page_answers: " << p.problem << '\n';
    std::exit(2);
  }
  if (!p.value.has_value()) {
    return {};
  }
  return {text, std::make_shared<const muller::map::MapPolynomial>(muller::map::map_polynomial(*p.value))};
}

double number(std::istream& in) {
  std::string word;
  in >> word;
  return std::strtod(word.c_str(), nullptr);
}

}  // namespace

int main() {
  for (std::string line; std::getline(std::cin, line);) {
    std::istringstream in(line);
    std::string what;
    in >> what;
    if (what == "tile") {
      int level = 0;
      long long column = 0;
      long long row = 0;
      in >> level >> column >> row;
      const double re = number(in);
      const double im = number(in);
      std::string text;
      in >> text;
      muller::map::Window window = muller::map::tile(level, column, row, complex(re, im));
      window.polynomial = named(text).polynomial;
      std::vector<std::uint8_t> rgb;
      std::atomic<int> rows_done{0};
      muller::map::draw(window, rgb, 1, rows_done);
      std::cout.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
    } else if (what == "report") {
      const double x0_re = number(in);
      const double x0_im = number(in);
      const double x1_re = number(in);
      const double x1_im = number(in);
      std::string text;
      in >> text;
      const Named p = named(text);
      std::cout << muller::explorer::report_json(p.polynomial != nullptr ? &p.polynomial->p : nullptr,
                                                 complex(x0_re, x0_im), complex(x1_re, x1_im));
    } else if (what == "roots") {
      std::string text;
      in >> text;
      const Named p = named(text);
      const muller::map::MapPolynomial z4_plus_1 =
          muller::map::map_polynomial(muller::search::default_polynomial());
      std::cout << muller::explorer::roots_json(p.key, p.polynomial != nullptr ? *p.polynomial : z4_plus_1);
    } else {
      std::cerr << "page_answers: no se entiende '" << line << "'\n";
      return 2;
    }
  }
  return std::cout.flush() ? 0 : 1;
}
