// Starting a built program as a user would, with its standard streams captured or broken on purpose.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

enum class Output { captured, full_device, closed, pipe_without_reader, terminal };

// How a started program ended.
struct Finished {
  int status;  // the exit status, or 128 + the signal that ended the process
  std::string out;
  std::string err;
};

// A started program: its process and the files that take its output.
struct Started {
  pid_t pid;
  std::FILE* out;
  std::FILE* err;
};

inline std::string contents(std::FILE* file) {
  std::string text;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) {
    text += static_cast<char>(c);
  }
  std::fclose(file);
  return text;
}

// Starts program with args, under the cross build's emulator when there is one. Standard input is
// /dev/null, or closed; standard error is captured; standard output as asked (a terminal's output is
// not captured).
inline Started start(const char* program, std::vector<std::string> args, Output output = Output::captured,
                     bool stdin_closed = false) {
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
    case Output::terminal: {
      // A pseudo-terminal whose other side stays open with this process, so that it stays a terminal.
      static const int controller = posix_openpt(O_RDWR | O_NOCTTY);
      EXPECT_TRUE(controller >= 0 && grantpt(controller) == 0 && unlockpt(controller) == 0);
      posix_spawn_file_actions_addopen(&actions, 1, ptsname(controller), O_WRONLY | O_NOCTTY, 0);
      break;
    }
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

  args.insert(args.begin(), program);
  if (*MULLER_EMULATOR != '\0') {
    args.insert(args.begin(), MULLER_EMULATOR);
  }
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& a : args) {
    argv.push_back(a.data());
  }
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  EXPECT_EQ(spawned, 0) << std::strerror(spawned);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (pipe_ends[1] != -1) {
    close(pipe_ends[1]);
  }
  return {pid, out, err};
}

inline Finished finish(Started s) {
  int wait_status = 0;
  EXPECT_EQ(waitpid(s.pid, &wait_status, 0), s.pid);
  const int status = WIFSIGNALED(wait_status) ? 128 + WTERMSIG(wait_status) : WEXITSTATUS(wait_status);
  return {status, contents(s.out), contents(s.err)};
}

inline Finished run(const char* program, std::vector<std::string> args, Output output = Output::captured,
                    bool stdin_closed = false) {
  return finish(start(program, std::move(args), output, stdin_closed));
}
