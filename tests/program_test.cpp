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

}  // namespace
