// The file a program writes into place: it appears whole under its name or not at all, whatever ends the
// program first, an error or any signal that can be caught.
#pragma once

#include <cstdio>
#include <string>
#include <utility>

#include "cli/checked.hpp"

namespace muller::cli {

// Gives each of the standard descriptors 0, 1 and 2 that is closed a harmless file, /dev/null opened so
// that reading or writing it fails as on a closed descriptor, so that no file the program opens later
// takes its number and receives what was meant for standard output or error. Call it first thing in
// main. Returns false if /dev/null could not be opened.
bool reopen_closed_standard_descriptors();

// Makes the usual terminating signals (SIGALRM, SIGHUP, SIGINT, SIGIO, SIGPIPE, SIGPROF, SIGQUIT, SIGTERM,
// SIGUSR1, SIGUSR2, SIGVTALRM, SIGXCPU) remove an OutputFile's temporary file first; the process then
// ends by the same signal, so that whoever started it sees how it ended. A signal ignored when the
// program started (under nohup, or SIGINT for a background job of a script) stays ignored. SIGXFSZ is
// ignored, so that a file size limit fails a write as a full device does. Call it once, before any
// thread starts.
void handle_terminating_signals();

// Where a program's result goes, by what its path names:
// - "-": standard output;
// - the file, pipe or socket that standard output already is (/dev/stdout, or FILE with '> FILE'):
//   written through standard output too, so that the two cannot overwrite each other;
// - an existing device, FIFO or socket: opened and written directly (/dev/null discards it);
// - anything else, after following symbolic links to their final target (which need not exist yet):
//   written under a temporary name in the target's directory, then renamed over the target.
// Only one OutputFile at a time may have a temporary file: the signal handlers know of one.
class OutputFile {
 public:
  explicit OutputFile(std::string path) : path_(std::move(path)) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Finds where the path leads and checks that the file can be written there, creating nothing, so that
  // a long computation does not end in an error that could have been seen first. Returns "" or the
  // reason, in Spanish, that stops it.
  std::string prepare();
  // The stream to write (after prepare): a file put into place gets its temporary file now, with the
  // permissions of the regular file it replaces, or 0666 less the umask for a new one. Call it with no
  // other thread running: a signal must reach the thread that creates the temporary file, and the
  // umask is read by setting it.
  Checked<std::FILE*> open();
  // Closes the stream. If complete is true and everything reached the file, puts it into place: the file
  // is synced to the device, renamed over the target, and the directory synced, so that a crash leaves
  // the old file or the whole new one. Otherwise removes the temporary file. Returns "" or the reason
  // of what failed.
  std::string close(bool complete);
  // Whether the bytes go to standard output, which then cannot take the program's other output.
  bool to_standard_output() const { return kind_ == Kind::standard_output; }

 private:
  // The same, each with the errno of what failed (0 for none).
  int find_target();
  std::FILE* open_stream();
  int close_stream(bool complete);

  enum class Kind { standard_output, direct, replaced };
  std::string path_;
  std::string target_;  // the path after symbolic links, for a file that is replaced
  Kind kind_ = Kind::replaced;
  std::FILE* stream_ = nullptr;
};

}  // namespace muller::cli
