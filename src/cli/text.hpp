// Text from the user and back: names quoted so that no message line can be broken by them, and one rule
// for every number, read and written.
#pragma once

#include <complex>
#include <string>

#include "cli/checked.hpp"

namespace muller::cli {

// A name or any other text from the user as a message shows it: in single quotes, or, when it holds
// control characters or bytes that are not UTF-8, as $'...' with those escaped (\n, \t, \033, \377...), so
// that it cannot break a message's line, send codes to a terminal, or put a stray byte in an answer that
// says it is UTF-8. UTF-8 passes unchanged, but for the C1 controls (U+0080 to U+009F), escaped too.
std::string quote(const std::string& text);

// A value echoed in a message: quoted, and cut to its first 40 bytes followed by "..." when longer, so
// that a mistaken paste does not fill the screen.
std::string echo(const std::string& text);

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Numbers follow one rule in every option: an optional sign and decimal digits and, for a real number,
// an optional fraction and exponent (2, +2, 0.5, .5, 1e-3). Nothing else: no spaces, no hexadecimal, no
// words such as inf or nan. When the text is not a number in range, problem says why, worded to follow
// the option's name.
Checked<long long> integer(const std::string& text, long long low, long long high);
Checked<double> positive_real(const std::string& text);
// A finite real number of any sign, zero included (a coordinate).
Checked<double> real(const std::string& text);

// A point written RE,IM: two real numbers by the rule above, parted by one comma (0.5,-1e-3). The
// problem names the part that is wrong, or says what shape was expected.
Checked<std::complex<double>> point(const std::string& text);

// The shortest decimal that reads back as the same double, so that a number is named exactly: 0.1, 2,
// 1e+21, -0 (its sign kept).
std::string shortest(double v);

}  // namespace muller::cli
