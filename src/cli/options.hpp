// The command line as every program of the project reads it: options named in errors as they were typed,
// one rule for every number, usage errors that point to --help, and help and version handled here for
// every program.
#pragma once

#include <getopt.h>

#include <climits>
#include <complex>
#include <string>
#include <vector>

#include "cli/checked.hpp"
#include "cli/messages.hpp"
#include "cli/text.hpp"

namespace muller::cli {

// The cores this process may run on (its CPU affinity, which a container or taskset may narrow), from 1
// to 256: what every -j defaults to.
int cores_available();

// The codes of long options that have no letter, above every char as getopt_long's callers give them;
// a program numbers its own from first_long_code.
enum : int { version_code = CHAR_MAX + 1, first_long_code };

// getopt_long over a program's options, with every error a usage error named as the user typed it: an
// unknown option, an ambiguous abbreviation, a missing value, a value given to an option that takes
// none. -h and --help print the program's help, --version its version, and exit; the caller keeps its
// own option table (ending in a zero entry, as getopt_long wants) and its own loop:
//
//     enum : int { scalar = cli::first_long_code };
//     static const option long_options[] = {{"size", required_argument, nullptr, 'n'},
//                                           {"scalar", no_argument, nullptr, scalar}, {nullptr, 0, nullptr,
//                                           0}};
//     cli::Parser args("prog", help_text, argc, argv, "n:", long_options);
//     for (int c; (c = args.next()) != -1;) {
//       switch (c) {
//         case 'n': size = args.integer(2, 100); break;
//         ...
//         default: args.unhandled();  // an option in the table without its case
//       }
//     }
//     args.no_operands();
class Parser {
 public:
  Parser(const char* program, const char* help, int argc, char** argv, const char* short_options,
         const option* long_options);

  // The next option's code from the table, or -1 when the options end.
  int next();
  // The option next() returned, as typed: "-n", "--size", or the abbreviation "--si".
  const std::string& name() const { return name_; }
  const char* value() const { return value_; }
  // The option's value checked, or a usage error that names the option and says why.
  long long integer(long long low, long long high) const;
  double positive_real() const;
  // A point as RE,IM or as a complex number (0.5+0.25i), by cli::parse_complex.
  std::complex<double> point() const;
  // A usage error if anything but options was given.
  void no_operands() const;
  [[noreturn]] void error(const std::string& problem) const { usage_error(program_, problem); }
  // For the default of the caller's switch: a code in its table that it does not handle is refused, as
  // an unknown option is, rather than taken for another.
  [[noreturn]] void unhandled() const;

 private:
  std::string unknown() const;

  const char* program_;
  const char* help_;
  int argc_;
  char** argv_;
  std::string short_options_;
  std::vector<option> long_options_;  // the program's, then --help and --version
  std::string name_;
  const char* value_ = nullptr;
};

}  // namespace muller::cli
