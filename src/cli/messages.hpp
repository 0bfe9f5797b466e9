// The programs' messages: system errors in Spanish, usage errors, and what every program writes on
// standard output checked before it exits.
#pragma once

#include <string>

namespace muller::cli {

// A system error (an errno value) as a short Spanish phrase, such as "no queda espacio en el
// dispositivo", so that a message in Spanish does not end in English. An error without a phrase of its
// own gets the system's text with its number; 0 is "causa desconocida".
std::string error_phrase(int error);

// One line on standard error, "PROGRAM: PROBLEM (vease 'PROGRAM --help')", and exit status 2.
[[noreturn]] void usage_error(const char* program, const std::string& problem);

// Whether everything sent to standard output reached it. If not, one line on standard error names the
// program and the error.
bool stdout_written(const char* program);

// Writes text on standard output and exits: status 0, or 1 with one line on standard error when the
// output is closed or full.
[[noreturn]] void print_and_exit(const char* program, const std::string& text);

}  // namespace muller::cli
