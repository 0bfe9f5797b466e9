// Text from the user and back: quoting, and the one rule for numbers.
#include "cli/text.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace muller::cli {

namespace {

bool is_control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// The length of the UTF-8 character that starts text[at], or 0 where none does (a stray continuation
// byte, a sequence cut short, an overlong form, a surrogate, past U+10FFFF) or where it is a C1 control
// (U+0080 to U+009F), which some terminals take for the start of a code as they do ESC.
std::size_t utf8_length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t k) {
    return at + k < text.size() ? static_cast<unsigned char>(text[at + k]) : 0u;
  };
  const unsigned lead = byte(0);
  const std::size_t length = lead < 0x80                    ? 1
                             : lead >= 0xc2 && lead <= 0xdf ? 2
                             : lead >= 0xe0 && lead <= 0xef ? 3
                             : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                            : 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xc0) != 0x80) {
      return 0;
    }
  }
  const unsigned second = byte(1);
  const bool wrong = (lead == 0xc2 && second < 0xa0) || (lead == 0xe0 && second < 0xa0) ||
                     (lead == 0xed && second >= 0xa0) || (lead == 0xf0 && second < 0x90) ||
                     (lead == 0xf4 && second >= 0x90);
  return wrong ? 0 : length;
}

// Whether text[at] is shown as an escape: a control character, or a byte that does not begin a UTF-8
// character as above.
bool escaped_at(const std::string& text, std::size_t at) {
  return is_control(text[at]) || utf8_length(text, at) == 0;
}

// The characters that have a short escape inside $'...', and the letters that follow the backslash.
const char escaped[] = "\a\b\t\n\v\f\r'\\";
const char escape_letters[] = "abtnvfr'\\";

// The digits from text[at] on; returns how many there were.
std::size_t skip_digits(const std::string& text, std::size_t& at) {
  const std::size_t start = at;
  while (at < text.size() && is_digit(text[at])) {
    ++at;
  }
  return at - start;
}

}  // namespace

std::string quote(const std::string& text) {
  bool plain = true;
  for (std::size_t at = 0; at < text.size() && plain; at += std::max<std::size_t>(1, utf8_length(text, at))) {
    plain = !escaped_at(text, at);
  }
  if (plain) {
    std::string quoted = "'";
    for (const char c : text) {
      // A quote ends the quoting, is given quoted, and the quoting starts again: as a shell reads it.
      quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
  }
  std::string quoted = "$'";
  for (std::size_t at = 0; at < text.size();) {
    const char c = text[at];
    const char* const escape = c == '\0' ? nullptr : std::strchr(escaped, c);
    if (escape != nullptr) {
      quoted += '\\';
      quoted += escape_letters[escape - escaped];
      ++at;
    } else if (escaped_at(text, at)) {
      // In octal, a byte at a time (a C1 control's second byte is not UTF-8 on its own either).
      char octal[5];
      std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(static_cast<unsigned char>(c)));
      quoted += octal;
      ++at;
    } else {
      const std::size_t bytes = utf8_length(text, at);
      quoted.append(text, at, bytes);
      at += bytes;
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

std::string shortest(double v) {
  char buffer[32];
  const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, v);
  return {buffer, written.ptr};
}

}  // namespace muller::cli
