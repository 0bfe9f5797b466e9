// muller-search: the report of one search, by any of the four methods, from any start, over z^4 + 1 or
// any polynomial: the report the explorer's page shows for a point, in the terminal.
#include <complex>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "cli/options.hpp"
#include "cli/polynomial_text.hpp"
#include "report/report.hpp"
#include "search/methods.hpp"

namespace cli = muller::cli;
namespace search = muller::search;

namespace {

const char* const program = "muller-search";

const char* const help_text =
    "Uso: muller-search [--method METODO] [--x0 RE,IM] --x1 RE,IM [--poly EXPRESION | --roots LISTA]\n"
    "Escribe el informe de una busqueda de un cero de p (por omision p(z) = z^4 + 1) desde x0 y x1, el\n"
    "mismo que muestra el explorador para ese punto: una fila por punto calculado y la linea final.\n"
    "\n"
    "      --method METODO    secant (la secante desde x0 y x1), muller (por omision), newton o halley\n"
    "                         (desde x1; x0 no se usa)\n"
    "      --x0 RE,IM         la primera aproximacion (por omision 0,0); tambien como 0.5+0.25i\n"
    "      --x1 RE,IM         la segunda aproximacion, de la que parten newton y halley\n"
    "      --poly EXPRESION   el polinomio en z, de grado 1 a 20, como en muller-basins\n"
    "      --roots LISTA      el polinomio por sus raices, RE o RE,IM separadas por ';'\n"
    "  -h, --help             muestra esta ayuda y termina\n"
    "      --version          muestra la version y termina\n"
    "\n"
    "Estado de salida: 0 si el informe se escribio, 1 si no, 2 si las opciones no son validas.\n";

struct Options {
  search::Method method = search::Method::muller;
  std::complex<double> x0;
  std::optional<std::complex<double>> x1;
  std::optional<search::Polynomial> polynomial;
};

Options parse(int argc, char** argv) {
  enum : int { method = cli::first_long_code, x0, x1, poly, roots };
  static const option long_options[] = {
      {"method", required_argument, nullptr, method}, {"x0", required_argument, nullptr, x0},
      {"x1", required_argument, nullptr, x1},         {"poly", required_argument, nullptr, poly},
      {"roots", required_argument, nullptr, roots},   {nullptr, 0, nullptr, 0}};
  cli::Parser args(program, help_text, argc, argv, "", long_options);
  Options o;
  std::string polynomial_option;
  for (int c; (c = args.next()) != -1;) {
    switch (c) {
      case method:
        if (!search::method_named(args.value(), o.method)) {
          args.error(args.name() + " debe ser secant, muller, newton o halley, no " +
                     cli::echo(args.value()));
        }
        break;
      case x0:
        o.x0 = args.point();
        break;
      case x1:
        o.x1 = args.point();
        break;
      case poly:
      case roots: {
        if (!polynomial_option.empty()) {
          args.error(args.name() +
                     (polynomial_option == args.name() ? " aparece dos veces"
                                                       : " y " + polynomial_option + " no van juntas") +
                     ": el polinomio se da una sola vez");
        }
        polynomial_option = args.name();
        const cli::Checked<search::Polynomial> p =
            c == poly ? cli::parse_polynomial(args.value()) : cli::parse_roots(args.value());
        if (!p.problem.empty()) {
          args.error(args.name() + " " + p.problem);
        }
        o.polynomial = p.value;
        break;
      }
      default:
        args.unhandled();
    }
  }
  args.no_operands();
  if (!o.x1) {
    args.error("falta --x1, el segundo punto de partida");
  }
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  if (o.polynomial) {
    muller::report::report_by(std::cout, o.method, search::OfPolynomial{*o.polynomial}, o.x0, *o.x1);
  } else {
    muller::report::report_by(std::cout, o.method, search::Z4Plus1{}, o.x0, *o.x1);
  }
  // The report is the program's whole product: a failure to write it is the failure to report.
  return cli::stdout_written(program) ? 0 : 1;
}
