// The map program: its options, the map drawn in parallel, the PNG written into place, and a summary.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/options.hpp"
#include "cli/output_file.hpp"
#include "cli/polynomial_text.hpp"
#include "map/draw.hpp"
#include "map/palette.hpp"
#include "map/png.hpp"
#include "map/thread.hpp"
#include "search/methods.hpp"

using namespace muller::map;  // NOLINT(google-build-using-namespace)
namespace cli = muller::cli;

namespace {

const char* const program = "muller-basins";

const char* const help_text =
    "Uso: muller-basins [-n TAMANO] [-r RADIO] [--center RE,IM] [--x0 RE,IM] [-j HILOS] [-o FICHERO]\n"
    "                   [--scalar] [--poly EXPRESION | --roots LISTA] [--method METODO | --compare]\n"
    "Dibuja en un PNG a donde lleva el metodo de Muller sobre un polinomio p (por omision\n"
    "p(z) = z^4 + 1) desde cada punto de una malla: la primera aproximacion es x0 y la segunda, x1,\n"
    "recorre en TAMANO x TAMANO puntos el cuadrado de semilado RADIO centrado en --center. Cada raiz\n"
    "tiene su color, mas oscuro cuantas mas filas necesita la busqueda; en negro, las busquedas que no\n"
    "convergen o acaban en un valor no finito.\n"
    "\n"
    "  -n, --size TAMANO      puntos por lado, de 2 a 1000000 (por omision 1024)\n"
    "  -r, --radius RADIO     semilado del cuadrado, positivo y finito (por omision 2)\n"
    "      --center RE,IM     centro del cuadrado: dos numeros con una coma, o un complejo como\n"
    "                         0.5+0.25i (por omision 0,0)\n"
    "      --x0 RE,IM         la primera aproximacion de cada busqueda, escrita igual (por omision 0,0)\n"
    "  -j, --threads HILOS    hilos de calculo, de 1 a 256 (por omision, los nucleos disponibles)\n"
    "  -o, --output FICHERO   PNG de salida (por omision basins.png; - es la salida estandar); se\n"
    "                         reemplaza solo cuando el mapa esta completo\n"
    "      --scalar           una busqueda tras otra, sin las unidades vectoriales (el PNG es el mismo)\n"
    "      --poly EXPRESION   el polinomio en z, de grado 1 a 20: z^3 - 1, z^5 + 3z - 2i,\n"
    "                         -(1.5-2e-3i)*z^2 + iz + .5 (coeficientes reales, imaginarios como 2i, o\n"
    "                         complejos como (1.5-2e-3i); cada potencia una sola vez)\n"
    "      --roots LISTA      el polinomio por sus raices, RE o RE,IM separadas por ';' (de 1 a 20):\n"
    "                         1;-0.5,0.866;-0.5,-0.866\n"
    "      --method METODO    el metodo de cada busqueda: secant, muller (por omision), newton o halley\n"
    "      --compare          cada metodo sobre la misma malla: una tabla por metodo, sin PNG\n"
    "  -h, --help             muestra esta ayuda y termina\n"
    "      --version          muestra la version y termina\n"
    "\n"
    "Estado de salida: 0 si el mapa y el resumen se escribieron, 1 si no (o si falto memoria), 2 si las\n"
    "opciones no son validas.\n";

// The widest and tallest PNG that libpng writes, and reads back, without raising its limits. The map
// needs memory in proportion to the side, not to the area, so that is the limit.
constexpr int max_size = 1000000;

struct Options {
  int size = 1024;
  double radius = 2.0;
  std::complex<double> centre;
  std::complex<double> x0;
  int threads = 1;
  std::string file = "basins.png";
  Path path = Path::vector;
  // The polynomial given by --poly or --roots; nothing for z^4 + 1, drawn by f itself.
  std::shared_ptr<const MapPolynomial> polynomial;
  muller::search::Method method = muller::search::Method::muller;
  bool compare = false;       // every method over the grid, a table and no file
  std::string file_option;    // the option that named the file, as typed
  std::string method_option;  // and the method
};

using cli::shortest;

std::string shortest(std::complex<double> z) {
  return "(" + shortest(z.real()) + "," + shortest(z.imag()) + ")";
}

// The value of --poly (by coefficients) or --roots, read and classified; the program ends on a value it
// cannot use.
std::shared_ptr<const MapPolynomial> read_polynomial(cli::Parser& args, bool by_coefficients) {
  const cli::Checked<cli::Polynomial> p =
      by_coefficients ? cli::parse_polynomial(args.value()) : cli::parse_roots(args.value());
  if (!p.problem.empty()) {
    args.error(args.name() + " " + p.problem);
  }
  auto polynomial = std::make_shared<const MapPolynomial>(map_polynomial(p.value));
  const std::string out_of_range = cli::roots_problem(polynomial->classes.roots);
  if (!out_of_range.empty()) {
    args.error(args.name() + " " + out_of_range);
  }
  return polynomial;
}

Options parse(int argc, char** argv) {
  enum : int { scalar = cli::first_long_code, center, x0, poly, roots, method, compare };
  static const option long_options[] = {
      {"size", required_argument, nullptr, 'n'},    {"radius", required_argument, nullptr, 'r'},
      {"threads", required_argument, nullptr, 'j'}, {"output", required_argument, nullptr, 'o'},
      {"scalar", no_argument, nullptr, scalar},     {"center", required_argument, nullptr, center},
      {"x0", required_argument, nullptr, x0},       {"poly", required_argument, nullptr, poly},
      {"roots", required_argument, nullptr, roots}, {"method", required_argument, nullptr, method},
      {"compare", no_argument, nullptr, compare},   {nullptr, 0, nullptr, 0}};
  cli::Parser args(program, help_text, argc, argv, "n:r:j:o:", long_options);
  Options o;
  o.threads = cli::cores_available();
  std::string polynomial_option;  // the option that gave the polynomial, as typed
  int polynomial_code = 0;        // and its code
  for (int c; (c = args.next()) != -1;) {
    switch (c) {
      case 'n':
        o.size = static_cast<int>(args.integer(2, max_size));
        break;
      case 'r':
        o.radius = args.positive_real();
        break;
      case center:
        o.centre = args.point();
        break;
      case x0:
        o.x0 = args.point();
        break;
      case 'j':
        o.threads = static_cast<int>(args.integer(1, 256));
        break;
      case 'o':
        if (*args.value() == '\0') {
          args.error(args.name() + " necesita un nombre de fichero");
        }
        o.file = args.value();
        o.file_option = args.name();
        break;
      case scalar:
        o.path = Path::scalar;
        break;
      case method:
        if (!muller::search::method_named(args.value(), o.method)) {
          args.error(args.name() + " debe ser secant, muller, newton o halley, no " +
                     cli::echo(args.value()));
        }
        o.method_option = args.name();
        break;
      case compare:
        o.compare = true;
        break;
      case poly:
      case roots:
        if (polynomial_code == c) {
          args.error(args.name() + " aparece dos veces: el polinomio se da una sola vez");
        }
        if (polynomial_code != 0) {
          args.error(args.name() + " y " + polynomial_option + " no van juntas: el polinomio se da una vez");
        }
        polynomial_option = args.name();
        polynomial_code = c;
        o.polynomial = read_polynomial(args, c == poly);
        break;
      default:
        args.unhandled();
    }
  }
  args.no_operands();
  if (o.compare && !o.method_option.empty()) {
    args.error("--compare dibuja todos los metodos: sobra " + o.method_option);
  }
  if (o.compare && !o.file_option.empty()) {
    args.error("--compare no escribe un PNG: sobra " + o.file_option);
  }
  if (!square_fits(o.radius, o.centre)) {
    args.error("el cuadrado de centro " + shortest(o.centre) + " y radio " + shortest(o.radius) +
               " se sale de los numeros representables");
  }
  if (o.file == "-" && isatty(STDOUT_FILENO) != 0) {
    args.error("no se escribe un PNG en un terminal: redirija la salida estandar o elija otro FICHERO");
  }
  return o;
}

// The file as messages name it.
std::string display_name(const std::string& file) {
  return file == "-" ? "la salida estandar" : cli::quote(file);
}

[[noreturn]] void file_error(cli::OutputFile& output, const std::string& file, const std::string& problem) {
  output.close(false);
  std::fprintf(stderr, "%s: no se puede escribir %s: %s\n", program, display_name(file).c_str(),
               problem.c_str());
  std::exit(1);
}

// The time a progress line says is left, as "45 s", "3 min 05 s" or "2 h 07 min".
std::string time_left(double seconds) {
  const long long s = std::llround(seconds);
  char text[48];
  if (s >= 3600) {
    std::snprintf(text, sizeof text, "%lld h %02lld min", s / 3600, s / 60 % 60);
  } else if (s >= 60) {
    std::snprintf(text, sizeof text, "%lld min %02lld s", s / 60, s % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld s", s);
  }
  return text;
}

// The map is drawn in bands of at most 12 MiB, two at a time: a hundred rows or more up to 32768 points
// a side, enough that threads seldom wait at a band's end; at least one row, 3 MB at the largest size.
// A band's rows are shared among the threads, so a band of fewer rows than THREADS has fewer threads.
int band_rows(int size) {
  constexpr std::size_t band_bytes = std::size_t{12} << 20;
  const std::size_t row_bytes = static_cast<std::size_t>(size) * 3;
  return static_cast<int>(std::clamp<std::size_t>(band_bytes / row_bytes, 1, static_cast<std::size_t>(size)));
}

// Runs the map on its own thread while this one shows, on a terminal, how far it has come and the time
// left; take gets the rows in order, as draw_in_bands gives them.
std::optional<Tally> draw_with_progress(const Options& o,
                                        const std::function<bool(const std::uint8_t*, int)>& take) {
  std::atomic<int> rows_done{0};
  std::future<std::optional<Tally>> map;
  Window window = square(o.size, o.radius, o.centre, o.x0);
  window.polynomial = o.polynomial;
  window.method = o.method;
  auto draw_map = [&] {
    return draw_in_bands(window, band_rows(o.size), o.threads, rows_done, o.path, take);
  };
  map = start_thread(draw_map);
  if (!map.valid()) {
    return draw_map();  // no thread to spare for the progress line
  }
  const bool terminal = isatty(STDERR_FILENO) != 0;
  const auto start = std::chrono::steady_clock::now();
  bool shown = false;
  while (map.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const int done = rows_done.load();
    if (terminal && elapsed > std::chrono::seconds(1) && done > 0) {
      const double left = elapsed.count() * (o.size - done) / done;
      std::fprintf(stderr, "\r%s: %d %% del mapa, quedan %s\033[K", program,
                   static_cast<int>(std::int64_t{done} * 100 / o.size), time_left(left).c_str());
      shown = true;
    }
  }
  if (shown) {
    std::fputs("\r\033[K", stderr);
  }
  return map.get();
}

// The summary's first line: the grid's outermost points, as exactly as the options name them, and x0.
void print_grid(std::FILE* out, const Options& o) {
  const std::complex<double> first = grid_point(0, 0, o.size, o.radius, o.centre);
  const std::complex<double> last = grid_point(o.size - 1, o.size - 1, o.size, o.radius, o.centre);
  std::fprintf(out, "mapa de %d x %d puntos: x0 = %s, x1 en [%s, %s] x [%s, %s]\n", o.size, o.size,
               shortest(o.x0).c_str(), shortest(first.real()).c_str(), shortest(last.real()).c_str(),
               shortest(last.imag()).c_str(), shortest(first.imag()).c_str());
}

// The ends a summary counts, each by its label: each class of roots by its point (z^4 + 1's are its four
// zeros, in the order of its quadrants), then the searches that gave up or ended non-finite.
std::vector<std::pair<std::string, End>> ends_of(const Options& o) {
  const std::vector<std::complex<double>> centres =
      (o.polynomial != nullptr ? o.polynomial->classes
                               : muller::search::classify(muller::search::default_polynomial()))
          .centres;
  std::vector<std::pair<std::string, End>> ends;
  for (std::size_t k = 0; k < centres.size(); ++k) {
    ends.emplace_back("raiz " + class_label(centres[k]) + ":", zero_class(static_cast<int>(k)));
  }
  ends.emplace_back("sin converger en 99 filas:", End::gave_up);
  ends.emplace_back("final no finito:", End::non_finite);
  return ends;
}

// Whether the vector units drew the map: they run Muller's method.
const char* lanes_used(const Options& o) {
  return o.path == Path::vector && o.method == muller::search::Method::muller ? vector_instructions()
                                                                              : nullptr;
}

void print_summary(std::FILE* out, const Options& o, const Tally& t, double seconds) {
  const double points = static_cast<double>(o.size) * o.size;
  print_grid(out, o);
  for (const auto& [label, end] : ends_of(o)) {
    const long long count = t.ends[static_cast<std::size_t>(end)];
    std::fprintf(out, "%-36s %10lld punto%s (%.2f %%)\n", label.c_str(), count, count == 1 ? "" : "s",
                 100.0 * static_cast<double>(count) / points);
  }
  std::fprintf(out, "filas por busqueda, media: %.2f\n", static_cast<double>(t.rows) / points);
  const char* const vectors = lanes_used(o);
  std::fprintf(out, "tiempo: %.3f s con %d hilo%s, %s%s\n", seconds, t.threads, t.threads == 1 ? "" : "s",
               vectors != nullptr ? "vectores " : "busqueda escalar", vectors != nullptr ? vectors : "");
  std::fprintf(out, "escrito: %s\n", display_name(o.file).c_str());
}

// --compare: every method over the same grid, no file; one table, a column a method: the share of the
// points that reach each class of roots, give up or end non-finite, the mean rows and the time.
int compare(Options o) {
  const auto& methods = muller::search::methods;
  Tally tallies[std::size(methods)];
  double seconds[std::size(methods)];
  for (std::size_t m = 0; m < std::size(methods); ++m) {
    o.method = methods[m];
    Window window = square(o.size, o.radius, o.centre, o.x0);
    window.polynomial = o.polynomial;
    window.method = o.method;
    std::atomic<int> rows_done{0};
    const auto start = std::chrono::steady_clock::now();
    const std::optional<Tally> t = draw_in_bands(window, band_rows(o.size), o.threads, rows_done, o.path,
                                                 [](const std::uint8_t*, int) { return true; });
    seconds[m] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    tallies[m] = *t;
  }
  const double points = static_cast<double>(o.size) * o.size;
  print_grid(stdout, o);
  std::printf("%-36s", "");
  for (const auto m : methods) {
    std::printf(" %10s", muller::search::names(m).word);
  }
  std::printf("\n");
  for (const auto& [label, end] : ends_of(o)) {
    std::printf("%-36s", label.c_str());
    for (const Tally& t : tallies) {
      std::printf(" %8.2f %%", 100.0 * static_cast<double>(t.ends[static_cast<std::size_t>(end)]) / points);
    }
    std::printf("\n");
  }
  std::printf("%-36s", "filas por busqueda, media:");
  for (const Tally& t : tallies) {
    std::printf(" %10.2f", static_cast<double>(t.rows) / points);
  }
  std::printf("\n%-36s", "tiempo (s):");
  for (const double t : seconds) {
    std::printf(" %10.3f", t);
  }
  std::printf("\n");
  return cli::stdout_written(program) ? 0 : 1;
}

// Draws the map and writes it into place as its rows are drawn, then prints the summary; returns the
// exit status.
int run(const Options& o) {
  const auto start = std::chrono::steady_clock::now();
  cli::OutputFile output(o.file);
  if (const std::string problem = output.prepare(); !problem.empty()) {
    file_error(output, o.file, problem);
  }
  const cli::Checked<std::FILE*> opened = output.open();
  if (!opened.problem.empty()) {
    file_error(output, o.file, opened.problem);
  }
  std::FILE* const out = opened.value;
  std::optional<Tally> tally;
  int write_error = 0;
  {
    PngRows png(out, o.size, o.size);
    // Called on the thread that writes, whose errno it reads.
    auto take = [&](const std::uint8_t* rgb, int rows) {
      errno = 0;
      const bool written = png.write(rgb, rows);
      write_error = errno;
      return written;
    };
    try {
      tally = draw_with_progress(o, take);
    } catch (const std::bad_alloc&) {
      output.close(false);
      std::fprintf(stderr, "%s: no hay memoria para un mapa de %d x %d puntos\n", program, o.size, o.size);
      return 1;
    }
    errno = 0;
    if (!tally.has_value() || !png.finish()) {
      file_error(output, o.file, cli::error_phrase(tally.has_value() ? errno : write_error));
    }
  }
  if (const std::string problem = output.close(true); !problem.empty()) {
    file_error(output, o.file, problem);
  }
  const int wanted = std::min(o.threads, band_rows(o.size));
  if (tally->threads < wanted) {
    std::fprintf(stderr, "%s: no hubo recursos para %d hilos; el mapa se dibujo con %d\n", program, wanted,
                 tally->threads);
  }
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

  // FILE is in place now: a summary that cannot be written changes the status, not the file.
  if (output.to_standard_output()) {
    print_summary(stderr, o, *tally, seconds.count());
    return std::ferror(stderr) != 0 ? 1 : 0;
  }
  print_summary(stdout, o, *tally, seconds.count());
  return cli::stdout_written(program) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!cli::reopen_closed_standard_descriptors()) {
    std::fprintf(stderr, "%s: no se puede abrir /dev/null: %s\n", program, cli::error_phrase(errno).c_str());
    return 1;
  }
  const Options o = parse(argc, argv);
  cli::handle_terminating_signals();
  try {
    return o.compare ? compare(o) : run(o);
  } catch (const std::bad_alloc&) {
    // Anywhere else than the map itself: the file in progress is gone with run's stack.
    std::fprintf(stderr, "%s: no hay memoria suficiente\n", program);
    return 1;
  }
}
