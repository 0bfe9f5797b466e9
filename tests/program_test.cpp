// The built program run as a user runs it: its whole output, its status and what it says on failure.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

#include "spawn.hpp"
#include "support.hpp"

namespace {

struct Invocation {
  const char* name;
  std::vector<std::string> args;
  bool stdin_closed;
};

TEST(Program, WritesTheFourReportsWhateverItsArgumentsAndInput) {
  const std::string expected = read_file(EXPECTED_REPORT);
  const Invocation invocations[] = {
      {"no arguments", {}, false},
      {"arguments", {"--help", "1", "-x y"}, false},
      {"standard input closed", {}, true},
  };
  for (const Invocation& i : invocations) {
    const Finished o = run(MULLER_PROGRAM, i.args, Output::captured, i.stdin_closed);
    EXPECT_EQ(o.out, expected) << i.name;
    EXPECT_EQ(o.err, "") << i.name;
    EXPECT_EQ(o.status, 0) << i.name;
  }
}

TEST(Program, FailsAndNamesTheErrorWhenOutputCannotBeWritten) {
  const struct {
    Output output;
    int error;
  } cases[] = {{Output::full_device, ENOSPC}, {Output::closed, EBADF}};
  for (const auto& c : cases) {
    const Finished o = run(MULLER_PROGRAM, {}, c.output);
    EXPECT_EQ(o.status, 1) << std::strerror(c.error);
    EXPECT_TRUE(starts_with(o.err, "muller: ")) << o.err;
    EXPECT_NE(o.err.find(std::strerror(c.error)), std::string::npos) << o.err;
    EXPECT_EQ(lines_of(o.err).size(), 1u) << o.err;
    EXPECT_EQ(o.err.back(), '\n');
  }
}

TEST(Program, IsEndedBySigpipeWhenNobodyReadsItsOutput) {
  const Finished o = run(MULLER_PROGRAM, {}, Output::pipe_without_reader);
  EXPECT_EQ(o.status, 128 + SIGPIPE);
  EXPECT_EQ(o.err, "");
}

// muller-search prints the report of one search, by the method named, over the polynomial given: the
// report muller writes for its first pair, and the first row of Newton's search from 1 + i, 0.8125 (1 + i);
// and refuses what it cannot run, as the other programs do.
TEST(Program, MullerSearchPrintsTheReportOfOneSearch) {
  const std::vector<std::string> expected = expected_report();
  const Finished muller_first = run(SEARCH_PROGRAM, {"--x1", "1+i"});
  EXPECT_EQ(lines_of(muller_first.out), std::vector<std::string>(expected.begin(), expected.begin() + 11));
  EXPECT_EQ(muller_first.status, 0);
  const Finished newton = run(SEARCH_PROGRAM, {"--method", "newton", "--x1", "1,1"});
  ASSERT_GE(lines_of(newton.out).size(), 3u);
  EXPECT_EQ(lines_of(newton.out)[2], "         1   (0.8125,0.8125)  (-0.7432250977,0)");
  const Finished cubic = run(SEARCH_PROGRAM, {"--method", "halley", "--x1", "2", "--poly", "z^3 - 1"});
  EXPECT_EQ(lines_of(cubic.out).back().substr(0, 13), "halley       ") << cubic.out;
  EXPECT_EQ(run(SEARCH_PROGRAM, {"--method", "newton"}).status, 2);  // no x1
  EXPECT_EQ(run(SEARCH_PROGRAM, {"--x1", "1,1", "--method", "regula"}).status, 2);
  EXPECT_EQ(run(SEARCH_PROGRAM, {"--x1", "1,1"}, Output::full_device).status, 1);
}

}  // namespace
