// The explorer program: options, the address it listens on, and a clean stop on SIGINT or SIGTERM.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "cli/options.hpp"
#include "explorer/service.hpp"

using namespace muller::explorer;  // NOLINT(google-build-using-namespace)
namespace cli = muller::cli;

namespace {

const char* const program = "muller-explorer";

const char* const help_text =
    "Uso: muller-explorer [--host DIRECCION] [--port PUERTO] [-j HILOS] [--cache MIB]\n"
    "Sirve en el navegador el mapa de a donde lleva el metodo de Muller sobre f(z) = z^4 + 1, o sobre el\n"
    "polinomio que se escriba o cuyas raices se arrastren: se acerca hasta el limite de la doble\n"
    "precision, muestra el x1 bajo el puntero y, con un clic, el camino de la busqueda y su informe, el\n"
    "mismo que escribe muller. La primera linea de la salida es la direccion donde escucha; SIGINT o\n"
    "SIGTERM lo detienen tras responder lo que tiene entre manos.\n"
    "\n"
    "      --host DIRECCION   direccion donde escuchar (por omision 127.0.0.1: solo este equipo)\n"
    "      --port PUERTO      puerto, de 0 a 65535; 0 toma uno libre (por omision 8080)\n"
    "  -j, --threads HILOS    hilos que dibujan cada tesela, de 1 a 256 (por omision, los nucleos)\n"
    "      --cache MIB        memoria para teselas ya dibujadas, de 0 a 1048576 MiB (por omision 256)\n"
    "  -h, --help             muestra esta ayuda y termina\n"
    "      --version          muestra la version y termina\n"
    "\n"
    "Estado de salida: 0 tras detenerse por una senal, 1 si no puede escuchar en la direccion, 2 si las\n"
    "opciones no son validas.\n";

struct Options {
  std::string host = "127.0.0.1";
  int port = 8080;
  ExplorerSettings settings;
};

Options parse(int argc, char** argv) {
  enum : int { host = cli::first_long_code, port, cache };
  static const option long_options[] = {{"host", required_argument, nullptr, host},
                                        {"port", required_argument, nullptr, port},
                                        {"threads", required_argument, nullptr, 'j'},
                                        {"cache", required_argument, nullptr, cache},
                                        {nullptr, 0, nullptr, 0}};
  Options o;
  o.settings.threads = cli::cores_available();
  o.settings.loops = std::min(o.settings.threads, 4);
  cli::Parser args(program, help_text, argc, argv, "j:", long_options);
  for (int c; (c = args.next()) != -1;) {
    switch (c) {
      case host:
        o.host = args.value();
        if (o.host.size() > 2 && o.host.front() == '[' && o.host.back() == ']') {
          o.host = o.host.substr(1, o.host.size() - 2);  // as in a URL
        }
        if (o.host.empty()) {
          args.error(args.name() + " necesita una direccion");
        }
        break;
      case port:
        o.port = static_cast<int>(args.integer(0, 65535));
        break;
      case 'j':
        o.settings.threads = static_cast<int>(args.integer(1, 256));
        break;
      case cache:
        o.settings.cache_bytes = static_cast<std::size_t>(args.integer(0, 1 << 20)) << 20;
        break;
      default:
        args.unhandled();
    }
  }
  args.no_operands();
  return o;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);

  // Every connection holds a file descriptor, and the usual soft limit of 1024 is low for a server.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max == RLIM_INFINITY ? 65536 : std::min<rlim_t>(files.rlim_max, 65536);
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // The stopping signals are taken by one thread, which can stop the server with ordinary calls; every
  // thread started from here on inherits the mask and leaves them to it.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  Explorer explorer(o.settings);
  const std::string problem = explorer.bind(o.host, o.port);
  // An IPv6 address is shown in brackets, once, however it was given.
  const std::string shown_host = o.host.find(':') == std::string::npos ? o.host : "[" + o.host + "]";
  if (!problem.empty()) {
    std::fprintf(stderr, "%s: no se puede escuchar en %s:%d: %s\n", program, shown_host.c_str(), o.port,
                 problem.c_str());
    return 1;
  }
  std::printf("http://%s:%d/\n", shown_host.c_str(), explorer.port());
  if (!cli::stdout_written(program)) {
    return 1;
  }

  std::thread signals([&explorer, &stop_signals] {
    int sig = 0;
    sigwait(&stop_signals, &sig);
    explorer.stop();
  });
  explorer.serve();
  signals.join();
  return 0;
}
