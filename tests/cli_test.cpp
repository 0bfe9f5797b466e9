// What the programs' command lines accept, and how a name looks in a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <complex>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <utility>

#include "cli/options.hpp"

namespace cli = muller::cli;

namespace {

TEST(Cli, QuotesANameSoThatItCannotBreakALine) {
  const std::pair<std::string, std::string> cases[] = {{"map.png", "'map.png'"},
                                                       {"", "''"},
                                                       {"it's", "'it'\\''s'"},
                                                       {"a\nb.png", "$'a\\nb.png'"},
                                                       {"\033[2J\t'\\", "$'\\033[2J\\t\\'\\\\'"},
                                                       {"mapa-año.png", "'mapa-año.png'"},
                                                       {"\xff;1", "$'\\377;1'"},       // not UTF-8
                                                       {"a\xc3", "$'a\\303'"},         // cut short
                                                       {"\xc0\xaf", "$'\\300\\257'"},  // overlong '/'
                                                       {"\xed\xa0\x80", "$'\\355\\240\\200'"},  // a surrogate
                                                       {"\xc2\x9b"
                                                        "2J",
                                                        "$'\\302\\2332J'"},  // C1's CSI
                                                       {"ño\n", "$'ño\\n'"}};
  for (const auto& [name, quoted] : cases) {
    EXPECT_EQ(cli::quote(name), quoted);
  }
  EXPECT_EQ(cli::echo(std::string(5000, '7')), "'" + std::string(40, '7') + "'...");
}

TEST(Cli, ReadsEveryDecimalFormAndRefusesTheRest) {
  // Accepted by both readers where positive; a finite real of any sign by cli::real.
  const std::pair<const char*, double> good[] = {{"2", 2.0},    {"+2.", 2.0},       {".5e1", 5.0},
                                                 {"2E+0", 2.0}, {"1e-310", 1e-310}, {"-2.5", -2.5},
                                                 {"0", 0.0},    {"-0", -0.0},       {"+.5e1", 5.0}};
  for (const auto& [text, value] : good) {
    const cli::Checked<double> x = cli::real(text);
    EXPECT_EQ(x.problem, "") << text;
    EXPECT_EQ(x.value, value) << text;
    EXPECT_EQ(std::signbit(x.value), std::signbit(value)) << text;
    if (value > 0) {
      EXPECT_EQ(cli::positive_real(text).problem, "") << text;
      EXPECT_EQ(cli::positive_real(text).value, value) << text;
    }
  }
  EXPECT_EQ(cli::integer("+064", 2, 100).value, 64);
  const std::pair<const char*, const char*> bad[] = {
      {"-inf", "debe ser un numero decimal, no '-inf'"},
      {"0x1p3", "debe ser un numero decimal, no '0x1p3'"},
      {" 1", "debe ser un numero decimal, no ' 1'"},
      {"", "debe ser un numero decimal, no ''"},
      {"-1e400", "'-1e400' es demasiado grande para representarlo"},
      {"-1e-400", "'-1e-400' es demasiado pequeno para representarlo"}};
  for (const auto& [text, problem] : bad) {
    EXPECT_EQ(cli::real(text).problem, problem) << text;
  }
}

TEST(Cli, ReadsAPointAndNamesTheWrongPart) {
  EXPECT_EQ(cli::point("-0.5,1e-3").value, std::complex<double>(-0.5, 1e-3));
  EXPECT_TRUE(std::signbit(cli::point("-0,0").value.real()));
  const std::pair<const char*, const char*> bad[] = {
      {"0.5", "debe ser RE,IM"},
      {"1,2,3", "debe ser RE,IM"},
      {"0.5+0.25i", "debe ser RE,IM"},
      {"0.5, 0.25", "tiene mal la parte imaginaria: debe ser un numero decimal, no ' 0.25'"},
      {"1e999,0", "tiene mal la parte real: '1e999' es demasiado grande"},
      {",1", "tiene mal la parte real"}};
  for (const auto& [text, problem] : bad) {
    EXPECT_NE(cli::point(text).problem.find(problem), std::string::npos)
        << text << ": " << cli::point(text).problem;
  }
}

TEST(Cli, NamesEverySystemErrorOfWritingAFileInSpanish) {
  const int errors[] = {ENOENT, EACCES, EROFS, ENOSPC, EDQUOT, EISDIR, ENOTDIR, ENAMETOOLONG, ELOOP, EFBIG,
                        EIO, EMFILE, ENFILE, ENOMEM, EEXIST, EPERM, EXDEV, EBADF, EPIPE,
                        // and listening on an address
                        EADDRINUSE, EADDRNOTAVAIL, EAFNOSUPPORT};
  std::set<std::string> phrases;
  for (const int error : errors) {
    const std::string phrase = cli::error_phrase(error);
    EXPECT_EQ(phrase.find(std::strerror(error)), std::string::npos) << phrase;
    EXPECT_TRUE(std::all_of(phrase.begin(), phrase.end(), [](char c) { return c >= ' ' && c <= '~'; }))
        << phrase;
    phrases.insert(phrase);
  }
  EXPECT_EQ(phrases.size(), std::size(errors));
  // Anything else still says what the system said, and its number.
  EXPECT_NE(cli::error_phrase(EHOSTDOWN).find(std::strerror(EHOSTDOWN)), std::string::npos);
}

}  // namespace
