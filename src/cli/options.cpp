// The command line as every program of the project reads it: getopt_long with its errors worded here,
// help and version, and the cores a program may use.
#include "cli/options.hpp"

#include <sched.h>

#include <cstring>

#include "cli/messages.hpp"
#include "cli/polynomial_text.hpp"

namespace muller::cli {

namespace {

// The text from its start up to, not including, the first '='.
std::string before_equals(const char* text) { return std::string(text, std::strcspn(text, "=")); }

}  // namespace

int cores_available() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) != 0) {
    return 1;
  }
  const int cores = CPU_COUNT(&set);
  return cores < 1 ? 1 : cores > 256 ? 256 : cores;
}

Parser::Parser(const char* program, const char* help, int argc, char** argv, const char* short_options,
               const option* long_options)
    // The leading ':' makes getopt tell a missing value from an unknown option.
    : program_(program),
      help_(help),
      argc_(argc),
      argv_(argv),
      short_options_(std::string(":h") + short_options) {
  for (const option* o = long_options; o->name != nullptr; ++o) {
    long_options_.push_back(*o);
  }
  long_options_.push_back({"help", no_argument, nullptr, 'h'});
  long_options_.push_back({"version", no_argument, nullptr, version_code});
  long_options_.push_back({nullptr, 0, nullptr, 0});
  opterr = 0;  // the errors are worded here, naming what was typed
}

int Parser::next() {
  int index = -1;
  const int c = getopt_long(argc_, argv_, short_options_.c_str(), long_options_.data(), &index);
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
  if (c == 'h') {
    print_and_exit(program_, help_);
  }
  if (c == version_code) {
    print_and_exit(program_, std::string(program_) + " " + MULLER_VERSION + "\n");
  }
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
    for (const option* o = long_options_.data(); o->name != nullptr; ++o) {
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

std::complex<double> Parser::point() const {
  const Checked<std::complex<double>> z = parse_complex(value_);
  if (!z.problem.empty()) {
    error(name_ + " " + z.problem);
  }
  return z.value;
}

void Parser::unhandled() const { error("opcion sin tratar: " + name_); }

void Parser::no_operands() const {
  if (optind < argc_) {
    error("argumento de mas: " + echo(argv_[optind]));
  }
}

}  // namespace muller::cli
