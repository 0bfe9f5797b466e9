// The command line as every program of the project reads it: options, numbers, errors, quoting.
#include "cli/options.hpp"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cli {

namespace {

bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// The characters that have a short escape inside $'...', and the letters that follow the backslash.
const char escaped[] = "\a\b\t\n\v\f\r'\\";
const char escape_letters[] = "abtnvfr'\\";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The digits from text[at] on; returns how many there were.
std::size_t skip_digits(const std::string& text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && is_digit(text[at])) {
    ++at;
  }
  return at - start;
}

// The text from its start up to, not including, the first '='.
std::string before_equals(const char* text) { return std::string(text, std::strcspn(text, "=")); }

}  // namespace

std::string quote(const std::string& text) {
  if (std::none_of(text.begin(), text.end(), is_control)) {
    std::string quoted = "'";
    for (const char c : text) {
      // A quote ends the quoting, is given quoted, and the quoting starts again: as a shell reads it.
      quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
  }
  std::string quoted = "$'";
  for (const char c : text) {
    const char* const escape = c == '\0' ? nullptr : std::strchr(escaped, c);
    if (escape != nullptr) {
      quoted += '\\';
      quoted += escape_letters[escape - escaped];
    } else if (is_control(c)) {
      char octal[5];
      std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(static_cast<unsigned char>(c)));
      quoted += octal;
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string echo(const std::string& text) {
  const std::size_t shown = 40;
  if (text.size() <= shown) {
    return quote(text);
  }
  std::size_t cut = shown;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xc0) == 0x80) {
    --cut;  // not inside a UTF-8 character
  }
  return quote(text.substr(0, cut)) + "...";
}

Checked<long long> integer(const std::string& text, long long low, long long high) {
  const std::string range = "debe ser un entero de " + std::to_string(low) + " a " + std::to_string(high);
  std::size_t at = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
  if (skip_digits(text, at) == 0 || at != text.size()) {
    return {0, range + ", no " + echo(text)};
  }
  errno = 0;
  const long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || value < low || value > high) {
    return {0, range + ", no " + echo(text)};
  }
  return {value, ""};
}

namespace {

// A real number written by the rule: its value, or false when the text breaks the rule.
// nonzero_digits says whether its digits (exponent aside) hold anything but zeros.
bool decimal(const std::string& text, double& value, bool& nonzero_digits) {
  std::size_t at = text.empty() || (text[0] != '+' && text[0] != '-') ? 0 : 1;
  std::size_t digits = skip_digits(text, at);
  if (at < text.size() && text[at] == '.') {
    ++at;
    digits += skip_digits(text, at);
  }
  const std::size_t mantissa_end = at;
  bool well_formed = digits > 0;
  if (well_formed && at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    ++at;
    at += at < text.size() && (text[at] == '+' || text[at] == '-') ? 1 : 0;
    well_formed = skip_digits(text, at) > 0;
  }
  if (!well_formed || at != text.size()) {
    return false;
  }
  // The programs leave the locale alone, so strtod reads the '.' that the rule above allows.
  value = std::strtod(text.c_str(), nullptr);
  nonzero_digits = text.find_first_of("123456789") < mantissa_end;
  return true;
}

}  // namespace

Checked<double> positive_real(const std::string& text) {
  double value = 0;
  bool nonzero_digits = false;
  if (!decimal(text, value, nonzero_digits)) {
    return {0, "debe ser un numero positivo, no " + echo(text)};
  }
  if (value == 0 && nonzero_digits && text[0] != '-') {
    return {0, echo(text) + " es demasiado pequeno para representarlo"};
  }
  if (value > 0 && std::isinf(value)) {
    return {0, echo(text) + " es demasiado grande para representarlo"};
  }
  if (value <= 0) {
    return {0, "debe ser un numero positivo, no " + echo(text)};
  }
  return {value, ""};
}

Checked<double> real(const std::string& text) {
  double value = 0;
  bool nonzero_digits = false;
  if (!decimal(text, value, nonzero_digits)) {
    return {0, "debe ser un numero decimal, no " + echo(text)};
  }
  if (value == 0 && nonzero_digits) {
    return {0, echo(text) + " es demasiado pequeno para representarlo"};
  }
  if (std::isinf(value)) {
    return {0, echo(text) + " es demasiado grande para representarlo"};
  }
  return {value, ""};
}

Checked<std::complex<double>> point(const std::string& text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos) {
    return {{}, "debe ser RE,IM, dos numeros decimales separados por una coma, no " + echo(text)};
  }
  const Checked<double> re = real(text.substr(0, comma));
  if (!re.problem.empty()) {
    return {{}, "tiene mal la parte real: " + re.problem};
  }
  const Checked<double> im = real(text.substr(comma + 1));
  if (!im.problem.empty()) {
    return {{}, "tiene mal la parte imaginaria: " + im.problem};
  }
  return {{re.value, im.value}, ""};
}

std::string error_phrase(int error) {
  // The errors that writing a file into place, or standard output, can meet.
  static const struct {
    int error;
    const char* phrase;
  } phrases[] = {
      {ENOENT, "no existe el fichero o el directorio"},
      {EACCES, "permiso denegado"},
      {EPERM, "operacion no permitida"},
      {EROFS, "el sistema de ficheros es de solo lectura"},
      {ENOSPC, "no queda espacio en el dispositivo"},
      {EDQUOT, "se ha superado la cuota de disco"},
      {EISDIR, "es un directorio"},
      {ENOTDIR, "una parte de la ruta no es un directorio"},
      {ENAMETOOLONG, "el nombre es demasiado largo"},
      {ELOOP, "demasiados niveles de enlaces simbolicos"},
      {EFBIG, "el fichero supera el tamano permitido"},
      {EIO, "error de entrada/salida del dispositivo"},
      {EMFILE, "el proceso tiene demasiados ficheros abiertos"},
      {ENFILE, "el sistema tiene demasiados ficheros abiertos"},
      {ENOMEM, "no hay memoria suficiente"},
      {EEXIST, "el fichero ya existe"},
      {EXDEV, "el fichero temporal y el destino estan en sistemas de ficheros distintos"},
      {EBADF, "el descriptor de fichero no es valido (la salida esta cerrada)"},
      {EPIPE, "la tuberia esta cerrada por el otro extremo"},
      {ETXTBSY, "el fichero es un programa en ejecucion"},
      {EBUSY, "el dispositivo o recurso esta ocupado"},
      {ENXIO, "no existe el dispositivo o la direccion"},
      {ENODEV, "el dispositivo no admite la operacion"},
      {EINVAL, "argumento no valido para el sistema"},
      {EAGAIN, "recurso no disponible por ahora"},
      {EINTR, "la llamada al sistema fue interrumpida"},
      {ESTALE, "el fichero remoto ya no es valido"},
      {ENOLCK, "no quedan cerrojos disponibles"},
      {ENOSYS, "el sistema no implementa la operacion"},
      {EOVERFLOW, "el valor es demasiado grande para el sistema"},
      {ECONNRESET, "el otro extremo cerro la conexion"},
      // And those of listening on an address.
      {EADDRINUSE, "la direccion ya esta en uso"},
      {EADDRNOTAVAIL, "la direccion no es de este equipo"},
      {EAFNOSUPPORT, "el sistema no admite esa familia de direcciones"},
  };
  if (error == 0) {
    return "causa desconocida";
  }
  for (const auto& p : phrases) {
    if (p.error == error) {
      return p.phrase;
    }
  }
  return "error del sistema " + std::to_string(error) + " (" + std::strerror(error) + ")";
}

int cores_available() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) {
    return 1;
  }
  const int cores = CPU_COUNT(&set);
  return cores < 1 ? 1 : cores > 256 ? 256 : cores;
}

void usage_error(const char* program, const std::string& problem) {
  std::fprintf(stderr, "%s: %s (vease '%s --help')\n", program, problem.c_str(), program);
  std::exit(2);
}

bool stdout_written(const char* program) {
  errno = 0;
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) {
    return true;
  }
  const std::string cause = error_phrase(errno);
  std::fprintf(stderr, "%s: error de escritura en la salida estandar: %s\n", program, cause.c_str());
  return false;
}

void print_and_exit(const char* program, const std::string& text) {
  std::fputs(text.c_str(), stdout);
  std::exit(stdout_written(program) ? 0 : 1);
}

Parser::Parser(const char* program, int argc, char** argv, const char* short_options,
               const option* long_options)
    // The leading ':' makes getopt tell a missing value from an unknown option.
    : program_(program),
      argc_(argc),
      argv_(argv),
      short_options_(std::string(":") + short_options),
      long_options_(long_options) {
  opterr = 0;  // the errors are worded here, naming what was typed
}

int Parser::next() {
  int index = -1;
  const int c = getopt_long(argc_, argv_, short_options_.c_str(), long_options_, &index);
  value_ = optarg;
  if (c == -1) {
    return c;
  }
  // The word getopt_long finished with; a value in a word of its own follows the option's word.
  const char* const last = argv_[optind - 1];
  if (c == ':') {
    // Only the last word can lack its value, so it holds the option, long or short.
    const bool long_form = std::strncmp(last, "--", 2) == 0;
    error("falta el valor de " +
          (long_form ? std::string(last) : std::string("-") + static_cast<char>(optopt)));
  }
  if (c == '?') {
    error(unknown());
  }
  name_ = index >= 0 ? before_equals(optarg == last ? argv_[optind - 2] : last)
                     : std::string("-") + static_cast<char>(c);
  return c;
}

// What getopt_long refused, named as it was typed. It leaves optopt at 0 for an unknown or ambiguous long
// option; it sets optopt to the option's code for a long option given a value that it does not take,
// as it does for an unknown letter, so only the word tells those two apart.
std::string Parser::unknown() const {
  const char* const last = argv_[optind - 1];
  if (std::strncmp(last, "--", 2) == 0) {
    const std::string typed = before_equals(last);
    int matches = 0;
    for (const option* o = long_options_; o->name != nullptr; ++o) {
      if (std::strncmp(o->name, typed.c_str() + 2, typed.size() - 2) == 0) {
        if (optopt != 0 && o->val == optopt && o->has_arg == no_argument && last[typed.size()] == '=') {
          return typed + " no admite valor";
        }
        ++matches;
      }
    }
    if (optopt == 0) {
      return (matches > 1 ? "opcion ambigua: " : "opcion desconocida: ") + echo(typed);
    }
  }
  return "opcion desconocida: " + echo(std::string("-") + static_cast<char>(optopt));
}

long long Parser::integer(long long low, long long high) const {
  const Checked<long long> n = cli::integer(value_, low, high);
  if (!n.problem.empty()) {
    error(name_ + " " + n.problem);
  }
  return n.value;
}

double Parser::positive_real() const {
  const Checked<double> x = cli::positive_real(value_);
  if (!x.problem.empty()) {
    error(name_ + " " + x.problem);
  }
  return x.value;
}

std::complex<double> Parser::point(Checked<std::complex<double>> (*read)(const std::string&)) const {
  const Checked<std::complex<double>> z = read(value_);
  if (!z.problem.empty()) {
    error(name_ + " " + z.problem);
  }
  return z.value;
}

void Parser::no_operands() const {
  if (optind < argc_) {
    error("argumento de mas: " + echo(argv_[optind]));
  }
}

}  // namespace cli
