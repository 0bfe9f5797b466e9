// The command line as every program of the project reads it: options named in errors as they were typed,
// one rule for every number, usage errors that point to --help, help and version written with a check,
// and names quoted so that no message line can be broken by them.
#pragma once

#include <getopt.h>

#include <complex>
#include <string>

namespace cli {

// A name or any other text from the user as a message shows it: in single quotes, or, when it holds
// control characters, as $'...' with those characters escaped (\n, \t, \033...), so that it cannot break
// a message's line or send codes to a terminal. Other bytes pass unchanged, UTF-8 included.
std::string quote(const std::string& text);

// A value echoed in a message: quoted, and cut to its first 40 bytes followed by "..." when longer, so
// that a mistaken paste does not fill the screen.
std::string echo(const std::string& text);

// Numbers follow one rule in every option: an optional sign and decimal digits and, for a real number,
// an optional fraction and exponent (2, +2, 0.5, .5, 1e-3). Nothing else: no spaces, no hexadecimal, no
// words such as inf or nan. When the text is not a number in range, problem says why, worded to follow
// the option's name.
template <class T>
struct Checked {
  T value{};
  std::string problem;  // empty when value is good
};
Checked<long long> integer(const std::string& text, long long low, long long high);
Checked<double> positive_real(const std::string& text);
// A finite real number of any sign, zero included (a coordinate).
Checked<double> real(const std::string& text);

// A point written RE,IM: two real numbers by the rule above, parted by one comma (0.5,-1e-3). The
// problem names the part that is wrong, or says what shape was expected.
Checked<std::complex<double>> point(const std::string& text);

// A system error (an errno value) as a short Spanish phrase, such as "no queda espacio en el
// dispositivo", so that a message in Spanish does not end in English. An error without a phrase of its
// own gets the system's text with its number; 0 is "causa desconocida".
std::string error_phrase(int error);

// The cores this process may run on (its CPU affinity, which a container or taskset may narrow), from 1
// to 256: what every -j defaults to.
int cores_available();

// One line on standard error, "PROGRAM: PROBLEM (vease 'PROGRAM --help')", and exit status 2.
[[noreturn]] void usage_error(const char* program, const std::string& problem);

// Whether everything sent to standard output reached it. If not, one line on standard error names the
// program and the error.
bool stdout_written(const char* program);

// Writes text on standard output and exits: status 0, or 1 with one line on standard error when the
// output is closed or full.
[[noreturn]] void print_and_exit(const char* program, const std::string& text);

// getopt_long over a program's options, with every error a usage error named as the user typed it: an
// unknown option, an ambiguous abbreviation, a missing value, a value given to an option that takes
// none. The caller keeps its own option table (ending in a zero entry, as getopt_long wants) and its
// own loop:
//
//     cli::Parser args("prog", argc, argv, "n:h", long_options);
//     for (int c; (c = args.next()) != -1;) {
//       switch (c) { case 'n': size = args.integer(2, 100); break; ... }
//     }
//     args.no_operands();
class Parser {
 public:
  Parser(const char* program, int argc, char** argv, const char* short_options, const option* long_options);

  // The next option's code from the table, or -1 when the options end.
  int next();
  // The option next() returned, as typed: "-n", "--size", or the abbreviation "--si".
  const std::string& name() const { return name_; }
  const char* value() const { return value_; }
  // The option's value checked, or a usage error that names the option and says why.
  long long integer(long long low, long long high) const;
  double positive_real() const;
  // A point by cli::point, or by another reader of points (the polynomial's, which takes 0.5+0.25i too).
  std::complex<double> point(Checked<std::complex<double>> (*read)(const std::string&) = cli::point) const;
  // A usage error if anything but options was given.
  void no_operands() const;
  [[noreturn]] void error(const std::string& problem) const { usage_error(program_, problem); }

 private:
  std::string unknown() const;

  const char* program_;
  int argc_;
  char** argv_;
  std::string short_options_;
  const option* long_options_;
  std::string name_;
  const char* value_ = nullptr;
};

}  // namespace cli
