// The built program run as a user runs it: its whole output, its status and what it says on failure.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support.hpp"

namespace {

enum class Output { captured, full_device, closed, pipe_without_reader };

struct Outcome {
  int status;  // the exit status, or 128 + the signal that ended the process
  std::string out;
  std::string err;
};

std::string contents(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) {
    text += static_cast<char>(c);
  }
  std::fclose(file);
  return text;
}

Outcome run_program(std::vector<std::string> args, Output output, bool stdin_closed) {
  std::FILE* const out = std::tmpfile();
  std::FILE* const err = std::tmpfile();
  int pipe_ends[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdin_closed) {
    posix_spawn_file_actions_addclose(&actions, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  switch (output) {
    case Output::captured:
      posix_spawn_file_actions_adddup2(&actions, fileno(out), 1);
      break;
    case Output::full_device:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
      break;
    case Output::closed:
      posix_spawn_file_actions_addclose(&actions, 1);
      break;
    case Output::pipe_without_reader:
      EXPECT_EQ(pipe(pipe_ends), 0);
      close(pipe_ends[0]);
      posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
      break;
  }
  posix_spawn_file_actions_adddup2(&actions, fileno(err), 2);
  // The child gets the default action for SIGPIPE whatever this process does with it.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &pipe_signal);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

  args.insert(args.begin(), MULLER_PROGRAM);
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, MULLER_PROGRAM, &actions, &attributes, argv.data(), environ);
  EXPECT_EQ(spawned, 0) << std::strerror(spawned);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (pipe_ends[1] != -1) {
    close(pipe_ends[1]);
  }
  int wait_status = 0;
  EXPECT_EQ(waitpid(pid, &wait_status, 0), pid);
  const int status = WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
  return {status, contents(out), contents(err)};
}

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
    const Outcome o = run_program(i.args, Output::captured, i.stdin_closed);
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
    const Outcome o = run_program({}, c.output, false);
    EXPECT_EQ(o.status, 1) << std::strerror(c.error);
    EXPECT_TRUE(starts_with(o.err, "muller: ")) << o.err;
    EXPECT_NE(o.err.find(std::strerror(c.error)), std::string::npos) << o.err;
    EXPECT_EQ(lines_of(o.err).size(), 1u) << o.err;
    EXPECT_EQ(o.err.back(), '\n');
  }
}

TEST(Program, IsEndedBySigpipeWhenNobodyReadsItsOutput) {
  const Outcome o = run_program({}, Output::pipe_without_reader, false);
  EXPECT_EQ(o.status, 128 + SIGPIPE);
  EXPECT_EQ(o.err, "");
}

}  // namespace
