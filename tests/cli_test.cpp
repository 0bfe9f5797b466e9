// What the programs' command lines accept, and how a name looks in a message.
#include "cli.hpp"

#include <gtest/gtest.h>

#include <string>

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

TEST(Cli, AcceptsEveryDecimalForm) {
  for (const char* text : {"2", "+2.", ".5e1", "2E+0", "1e-310"}) {
    EXPECT_EQ(cli::positive_real(text).problem, "") << text;
  }
  EXPECT_EQ(cli::positive_real(".5e1").value, 5.0);
  EXPECT_EQ(cli::integer("+064", 2, 100).value, 64);
}

}  // namespace
