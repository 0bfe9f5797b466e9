// The map program: options, the map drawn in parallel, the PNG written into place, and a summary.
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <new>
#include <string>
#include <vector>

#include "basins.hpp"
#include "cli.hpp"
#include "png.hpp"

namespace {

const char* const program = "muller-basins";

const char* const help_text =
    "Uso: muller-basins [-n TAMANO] [-r RADIO] [-j HILOS] [-o FICHERO]\n"
    "Dibuja en un PNG a donde lleva el metodo de Muller sobre f(z) = z^4 + 1 desde cada punto de una\n"
    "malla: la primera aproximacion es 0 y la segunda, x1, recorre el cuadrado |Re x1| <= RADIO,\n"
    "|Im x1| <= RADIO en TAMANO x TAMANO puntos. Cada raiz tiene su color, mas oscuro cuantas mas\n"
    "filas necesita la busqueda; en negro, las busquedas que no convergen o acaban en un valor no finito.\n"
    "\n"
    "  -n, --size TAMANO      puntos por lado, de 2 a 16384 (por omision 1024)\n"
    "  -r, --radius RADIO     semilado del cuadrado, positivo y finito (por omision 2)\n"
    "  -j, --threads HILOS    hilos de calculo, de 1 a 256 (por omision, los nucleos disponibles)\n"
    "  -o, --output FICHERO   PNG de salida (por omision basins.png); se reemplaza solo si todo va bien\n"
    "  -h, --help             muestra esta ayuda y termina\n"
    "      --version          muestra la version y termina\n"
    "\n"
    "Estado de salida: 0 si el mapa se escribio, 1 si no se pudo escribir, 2 si las opciones no son\n"
    "validas.\n";

struct Options {
  int size = 1024;
  double radius = 2.0;
  int threads = 1;
  std::string file = "basins.png";
};

int cores_available() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) {
    return 1;
  }
  const int cores = CPU_COUNT(&set);
  return cores < 1 ? 1 : cores > 256 ? 256 : cores;
}

Options parse(int argc, char** argv) {
  static const option long_options[] = {{"size", required_argument, nullptr, 'n'},
                                        {"radius", required_argument, nullptr, 'r'},
                                        {"threads", required_argument, nullptr, 'j'},
                                        {"output", required_argument, nullptr, 'o'},
                                        {"help", no_argument, nullptr, 'h'},
                                        {"version", no_argument, nullptr, 'V'},
                                        {nullptr, 0, nullptr, 0}};
  cli::Parser args(program, argc, argv, "n:r:j:o:h", long_options);
  Options o;
  o.threads = cores_available();
  for (int c; (c = args.next()) != -1;) {
    switch (c) {
      case 'n':
        o.size = static_cast<int>(args.integer(2, 16384));
        break;
      case 'r':
        o.radius = args.positive_real();
        break;
      case 'j':
        o.threads = static_cast<int>(args.integer(1, 256));
        break;
      case 'o':
        if (*args.value() == '\0') {
          args.error(args.name() + " necesita un nombre de fichero");
        }
        o.file = args.value();
        break;
      case 'h':
        cli::print_and_exit(program, help_text);
      default:  // 'V', the only code left in the table
        cli::print_and_exit(program, std::string(program) + " " + MULLER_VERSION + "\n");
    }
  }
  args.no_operands();
  return o;
}

// The temporary file that becomes FILE. A signal handler may remove it, so its name lives in static
// storage and its existence in a flag that the handler can read.
char temp_path[PATH_MAX];
volatile std::sig_atomic_t temp_exists = 0;
const int cleanup_signals[] = {SIGHUP, SIGINT, SIGTERM};

// Only async-signal-safe calls: remove the temporary file, then die of the same signal, so that the
// caller sees how the program ended.
extern "C" void on_signal(int sig) {
  if (temp_exists != 0) {
    unlink(temp_path);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// Blocks the cleanup signals while the temporary file and its flag change together.
void block_cleanup_signals(bool block) {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : cleanup_signals) {
    sigaddset(&set, sig);
  }
  sigprocmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void remove_temp() {
  block_cleanup_signals(true);
  unlink(temp_path);
  temp_exists = 0;
  block_cleanup_signals(false);
}

[[noreturn]] void file_error(const std::string& file, int error) {
  if (temp_exists != 0) {
    remove_temp();
  }
  std::fprintf(stderr, "%s: no se puede escribir '%s': %s\n", program, file.c_str(),
               error != 0 ? std::strerror(error) : "causa desconocida");
  std::exit(1);
}

// Creates the temporary file beside FILE, so that the final rename stays within one file system.
int open_temp(const std::string& file) {
  struct stat st {};
  if (stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    // Renaming over a directory or a device is never what is meant.
    file_error(file, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  }
  const std::size_t slash = file.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : file.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? file : file.substr(slash + 1);
  const std::string name = dir + "." + base + ".XXXXXX";
  if (name.size() >= sizeof temp_path) {
    file_error(file, ENAMETOOLONG);
  }
  std::memcpy(temp_path, name.c_str(), name.size() + 1);
  block_cleanup_signals(true);
  const int fd = mkstemp(temp_path);
  const int error = errno;
  temp_exists = fd >= 0 ? 1 : 0;
  block_cleanup_signals(false);
  if (fd < 0) {
    file_error(file, error);
  }
  return fd;
}

// Writes the PNG into the temporary file, gives it the usual permissions and renames it into place.
void write_file(const std::string& file, int fd, const std::vector<std::uint8_t>& rgb, int size) {
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0) {
    file_error(file, errno);
  }
  std::FILE* const out = fdopen(fd, "wb");
  if (out == nullptr) {
    file_error(file, errno);
  }
  errno = 0;
  const bool written = write_png(out, rgb.data(), size, size);
  const int write_error = errno;
  if (std::fclose(out) != 0 || !written) {
    file_error(file, written ? errno : write_error);
  }
  block_cleanup_signals(true);
  if (std::rename(temp_path, file.c_str()) != 0) {
    const int error = errno;
    block_cleanup_signals(false);
    file_error(file, error);
  }
  temp_exists = 0;
  block_cleanup_signals(false);
}

// Runs the map on its own thread while this one shows, on a terminal, how far it has come.
Tally draw_with_progress(std::vector<std::uint8_t>& rgb, const Options& o) {
  std::atomic<int> rows_done{0};
  auto map =
      std::async(std::launch::async, [&] { return draw(rgb, o.size, o.radius, o.threads, rows_done); });
  const bool terminal = isatty(STDERR_FILENO) != 0;
  const auto start = std::chrono::steady_clock::now();
  bool shown = false;
  while (map.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready) {
    if (terminal && std::chrono::steady_clock::now() - start > std::chrono::seconds(1)) {
      std::fprintf(stderr, "\r%s: %d %% del mapa", program, rows_done.load() * 100 / o.size);
      shown = true;
    }
  }
  if (shown) {
    std::fputs("\r\033[K", stderr);
  }
  return map.get();
}

void print_summary(const Options& o, const Tally& t, double seconds) {
  const double points = static_cast<double>(o.size) * o.size;
  auto count_line = [&](const char* label, End end) {
    const long long count = t.ends[static_cast<std::size_t>(end)];
    std::printf("%-36s %10lld puntos (%.2f %%)\n", label, count, 100.0 * static_cast<double>(count) / points);
  };
  std::printf("mapa de %d x %d puntos: x0 = 0, x1 en [-%g, %g] x [-%g, %g]\n", o.size, o.size, o.radius,
              o.radius, o.radius, o.radius);
  count_line("raiz (0.7071067812,0.7071067812):", End::upper_right);
  count_line("raiz (-0.7071067812,0.7071067812):", End::upper_left);
  count_line("raiz (-0.7071067812,-0.7071067812):", End::lower_left);
  count_line("raiz (0.7071067812,-0.7071067812):", End::lower_right);
  count_line("sin converger en 99 filas:", End::gave_up);
  count_line("final no finito:", End::non_finite);
  std::printf("filas por busqueda, media: %.2f\n", static_cast<double>(t.rows) / points);
  std::printf("tiempo: %.3f s con %d hilo%s\n", seconds, o.threads, o.threads == 1 ? "" : "s");
  std::printf("escrito: %s\n", o.file.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  const auto start = std::chrono::steady_clock::now();

  for (const int sig : cleanup_signals) {
    std::signal(sig, on_signal);
  }
  // Past a file size limit a write should fail and be reported like any other, not end the process
  // with a temporary file left behind.
  std::signal(SIGXFSZ, SIG_IGN);
  const int fd = open_temp(o.file);
  std::vector<std::uint8_t> rgb;
  Tally tally;
  try {
    tally = draw_with_progress(rgb, o);
  } catch (const std::bad_alloc&) {
    remove_temp();
    std::fprintf(stderr, "%s: no hay memoria para un mapa de %d x %d puntos\n", program, o.size, o.size);
    return 1;
  }
  write_file(o.file, fd, rgb, o.size);
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

  print_summary(o, tally, seconds.count());
  return cli::stdout_written(program) ? 0 : 1;
}
