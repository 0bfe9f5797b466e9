// The page's module: what muller-explorer answers, computed in the browser. A thin C interface over
// the map, the report and the explorer's JSON, for one caller at a time (a Web Worker owns each
// instance; muller-module.js is its JavaScript side).
//
// Text goes in through muller_text (the page writes UTF-8 there, then calls the function that reads
// it) and comes out through muller_result and muller_result_length: a JSON answer, byte for byte the
// server's, or the reason for a refusal, in Spanish, as the server's 400 gives it (without its newline).
// Functions that can refuse return 0 when they answered and 1 when they refused.
#include <atomic>
#include <complex>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "cli/polynomial_text.hpp"
#include "cli/text.hpp"
#include "explorer/json.hpp"
#include "map/draw.hpp"
#include "map/outcome.hpp"
#include "map/window.hpp"
#include "search/polynomial.hpp"

#define MULLER_EXPORT(name) extern "C" __attribute__((export_name(name)))

namespace muller::wasm {

namespace {

using complex = std::complex<double>;

// Memory that runs out cannot be answered from: WASI's libc++ has no exceptions, and without a handler
// its operator new would return null, which WebAssembly lets the caller write through (address 0 is
// memory like any other). A trap instead ends the call with an error in the page, which drops this
// instance and starts another.
[[noreturn]] void out_of_memory() { __builtin_trap(); }
[[maybe_unused]] const std::new_handler previous_handler = std::set_new_handler(out_of_memory);

std::string input;   // what the page wrote last
std::string result;  // the last answer or refusal

// The polynomial the page named last: its name as given ("", "c=..." or "r=..."), the key the server's
// /roots writes ("" for z^4 + 1, however named), and its roots in classes (null for z^4 + 1).
std::string named;
std::string key;
std::shared_ptr<const map::MapPolynomial> polynomial;
// The method the page named last, or none (Muller's).
std::optional<search::Method> method;

const map::MapPolynomial& z4_plus_1() {
  static const map::MapPolynomial p = map::map_polynomial(search::default_polynomial());
  return p;
}

int refuse(std::string problem) {
  result = std::move(problem);
  return 1;
}

int answer(std::string json) {
  result = std::move(json);
  return 0;
}

std::vector<std::uint8_t> rgb;
std::vector<std::uint8_t> rgba(std::size_t{map::tile_size} * map::tile_size * 4);

}  // namespace

// Room for size bytes of text, which the page writes before calling what reads it.
MULLER_EXPORT("muller_text") char* text(std::uint32_t size) {
  input.resize(size);
  return input.data();
}

MULLER_EXPORT("muller_result") const char* result_text() { return result.data(); }
MULLER_EXPORT("muller_result_length") std::uint32_t result_length() {
  return static_cast<std::uint32_t>(result.size());
}

// The polynomial of what follows, from the text written: "" for z^4 + 1, or "c=" and coefficients or
// "r=" and roots, each as the server's queries take them (canonical text only). A polynomial refused
// leaves the one before it in place. Classifying a polynomial's roots takes a while at degree 20, so
// naming the one in place again costs nothing.
MULLER_EXPORT("muller_polynomial") int set_polynomial() {
  if (input == named) {
    return 0;
  }
  if (input.empty()) {
    named.clear();
    key.clear();
    polynomial = nullptr;
    return 0;
  }
  if (input.size() < 2 || input[1] != '=' || (input[0] != 'c' && input[0] != 'r')) {
    return refuse("el polinomio se da por c= (coeficientes) o por r= (raices), no " + cli::echo(input));
  }
  const cli::Checked<std::optional<search::Polynomial>> p = cli::named_polynomial(input[0], input.substr(2));
  if (!p.problem.empty()) {
    return refuse(p.problem);
  }
  std::shared_ptr<const map::MapPolynomial> asked =
      p.value.has_value() ? std::make_shared<const map::MapPolynomial>(map::map_polynomial(*p.value))
                          : nullptr;
  const std::string out_of_range = asked != nullptr ? cli::roots_problem(asked->classes.roots) : "";
  if (!out_of_range.empty()) {
    return refuse(input.substr(0, 1) + " " + out_of_range);
  }
  polynomial = std::move(asked);
  key = p.value.has_value() ? input : "";
  named = input;
  return 0;
}

// The method of what follows: -1 for none named (Muller's, and a report answered as the server answers a
// request without m=), or 0 to 3 for the secant, Muller's, Newton's and Halley's, named.
MULLER_EXPORT("muller_method") int set_method(int m) {
  if (m < -1 || m > 3) {
    return refuse("el metodo va de -1 a 3, no " + std::to_string(m));
  }
  method = m < 0 ? std::nullopt : std::optional<search::Method>(static_cast<search::Method>(m));
  return 0;
}

// The tile at level, column and row (as the server's /tile/{level}/{column}/{row}.png: column and row
// are whole numbers below 2^level, given as doubles, which hold them exactly) searched from x0, of the
// polynomial in place: map::tile_size squared pixels at muller_pixels, 4 bytes each (RGBA, opaque), row
// by row from the top left. The same pixels as the server's PNG: drawn by map::draw on this module's
// path (the vector kernel in the SIMD module).
MULLER_EXPORT("muller_tile") int tile(int level, double column, double row, double x0_re, double x0_im) {
  if (level < 0 || level > map::deepest_level) {
    return refuse("no hay nivel " + std::to_string(level) + ": el mas profundo es el " +
                  std::to_string(map::deepest_level) + ", donde la doble precision aun separa los pixeles");
  }
  const double side = static_cast<double>(1LL << level);
  const auto whole = [side](double v) {
    return v >= 0 && v < side && v == static_cast<double>(static_cast<long long>(v));
  };
  if (!whole(column) || !whole(row)) {
    return refuse("el nivel " + std::to_string(level) + " tiene columnas y filas de 0 a " +
                  std::to_string((1LL << level) - 1));
  }
  map::Window window =
      map::tile(level, static_cast<long long>(column), static_cast<long long>(row), complex(x0_re, x0_im));
  window.polynomial = polynomial;
  window.method = method.value_or(search::Method::muller);
  std::atomic<int> rows_done{0};
  map::draw(window, rgb, 1, rows_done);
  for (std::size_t p = 0, q = 0; p < rgb.size(); p += 3, q += 4) {
    rgba[q] = rgb[p];
    rgba[q + 1] = rgb[p + 1];
    rgba[q + 2] = rgb[p + 2];
    rgba[q + 3] = 255;
  }
  return 0;
}

MULLER_EXPORT("muller_pixels") const std::uint8_t* pixels() { return rgba.data(); }

// The report of the search from x0 to x1 over the polynomial in place, as the server's /report gives it.
// Any doubles are taken, infinities and NaN included (the server's query reads finite numbers only).
MULLER_EXPORT("muller_report") int report(double x0_re, double x0_im, double x1_re, double x1_im) {
  return answer(explorer::report_json(polynomial != nullptr ? &polynomial->p : nullptr, complex(x0_re, x0_im),
                                      complex(x1_re, x1_im), method));
}

// The classes of the roots of the polynomial in place, with their colours, as the server's /roots.
MULLER_EXPORT("muller_roots") int roots() {
  return answer(explorer::roots_json(key, polynomial != nullptr ? *polynomial : z4_plus_1()));
}

// The instruction set the map is drawn with ("WASM" in the SIMD module), or an empty text for the
// scalar search.
MULLER_EXPORT("muller_vector_instructions") const char* vector_instructions() {
  const char* name = map::vector_instructions();
  return name != nullptr ? name : "";
}

}  // namespace muller::wasm
