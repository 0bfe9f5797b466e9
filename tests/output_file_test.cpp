// The file written into place: stopped by a signal while its temporary file exists, and opened after
// standard descriptors that were closed.
#include "cli/output_file.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "files.hpp"
#include "support.hpp"

namespace cli = muller::cli;
using muller::cli::handle_terminating_signals;          // NOLINT(misc-unused-using-decls)
using muller::cli::OutputFile;                          // NOLINT(misc-unused-using-decls)
using muller::cli::reopen_closed_standard_descriptors;  // NOLINT(misc-unused-using-decls)

namespace {

TEST(OutputFile, EachHandledSignalRemovesTheTemporaryFileAndEndsTheProcess) {
  no_core_dumps();
  for (const int sig : handled_signals) {
    Scratch scratch;
    write_text(scratch.path("map.png"), "old");
    const pid_t pid = fork();
    if (pid == 0) {
      handle_terminating_signals();
      OutputFile file(scratch.path("map.png"));
      if (file.prepare().empty() && file.open().value != nullptr && scratch.entries().size() == 2) {
        kill(getpid(), sig);
      }
      _exit(1);  // no temporary file appeared, or the signal did not end the process
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << strsignal(sig) << ", status " << status;
    EXPECT_EQ(scratch.entries(), std::set<std::string>{"map.png"}) << strsignal(sig);
    EXPECT_EQ(read_file(scratch.path("map.png").c_str()), "old");
  }
}

TEST(OutputFile, ClosedStandardDescriptorsAreTakenSoTheFileGetsAnotherAndWritesStillFail) {
  Scratch scratch;
  const pid_t pid = fork();
  if (pid == 0) {
    close(STDOUT_FILENO);
    OutputFile file(scratch.path("map.png"));
    const bool reopened = reopen_closed_standard_descriptors();
    std::FILE* const stream = file.prepare().empty() ? file.open().value : nullptr;
    const bool elsewhere = stream != nullptr && fileno(stream) > STDERR_FILENO;
    const bool still_fails = write(STDOUT_FILENO, "x", 1) == -1 && errno == EBADF;
    _exit(reopened && elsewhere && still_fails && file.close(true).empty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(scratch.entries(), std::set<std::string>{"map.png"});
}

}  // namespace
