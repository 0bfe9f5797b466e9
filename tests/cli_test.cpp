// What the programs' command lines accept, and how a name looks in a message.
#include "cli.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

namespace {

TEST(Cli, QuotesANameSoThatItCannotBreakALine) {
  const std::pair<std::string, std::string> cases[] = {{"map.png", "'map.png'"},
                                                       {"", "''"},
                                                       {"it's", "'it'\\''s'"},
                                                       {"a\nb.png", "$'a\\nb.png'"},
                                                       {"\033[2J\t'\\", "$'\\033[2J\\t\\'\\\\'"},
                                                       {"mapa-año.png", "'mapa-año.png'"}};
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

}  // namespace
