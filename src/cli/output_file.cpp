// The file a program writes into place: the kinds of target, the temporary file, and the signal handlers
// that remove it.
#include "cli/output_file.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "cli/messages.hpp"

namespace muller::cli {

namespace {

// The temporary file that becomes the target. A signal handler may remove it, so its name lives in
// static storage and whether it exists in a flag that the handler can read; the two change together
// only with the signals blocked.
char temp_path[PATH_MAX];
volatile std::sig_atomic_t temp_exists = 0;

// A short name of fixed length, since the target's own name may be as long as the file system allows.
const char temp_name[] = ".muller.XXXXXX";

// Those that end a process by default and that a user, a terminal or a resource limit may send. SIGIO is
// also SIGPOLL. SIGXFSZ is left out: it is ignored, so that the write past the limit fails instead.
const int terminating_signals[] = {SIGALRM, SIGHUP,  SIGINT,  SIGIO,   SIGPIPE,   SIGPROF,
                                   SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGXCPU};

// Only async-signal-safe calls: remove the temporary file, then end by the same signal, which stays
// blocked until this returns.
extern "C" void remove_temp_and_die(int sig) {
  if (temp_exists != 0) {
    unlink(temp_path);
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

sigset_t handled_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : terminating_signals) {
    sigaddset(&set, sig);
  }
  return set;
}

// Keeps the handled signals from this thread while the temporary file and its flag change together.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    const sigset_t set = handled_signals();
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
  }
  ~SignalsBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  SignalsBlocked(const SignalsBlocked&) = delete;
  SignalsBlocked& operator=(const SignalsBlocked&) = delete;

 private:
  sigset_t saved_{};
};

void remove_temp() {
  const SignalsBlocked blocked;
  unlink(temp_path);
  temp_exists = 0;
}

// The directory part of path, with its final '/', or "" for the current directory.
std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Follows path's symbolic links to their end, as opening it would, and also through a last link that
// dangles: a user who writes to a link means the file that it names. Returns 0 or the errno.
int follow_links(std::string& path) {
  for (int links = 0;; ++links) {
    char target[PATH_MAX];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    if (length < 0) {
      return errno == EINVAL || errno == ENOENT ? 0 : errno;  // not a link, or nothing there yet
    }
    if (links == 40) {
      return ELOOP;  // the kernel's own limit
    }
    if (static_cast<std::size_t>(length) == sizeof target) {
      return ENAMETOOLONG;
    }
    const std::string link(target, static_cast<std::size_t>(length));
    path = link[0] == '/' ? link : directory_of(path).append(link);
  }
}

// The permissions the file put at target gets: those of the regular file it replaces, so that
// replacing it keeps it as private or as shared as it was, or those that any new file would get.
// Reading the umask means setting it for a moment, which is safe with no other thread running.
mode_t permissions_for(const std::string& target) {
  struct stat old {};
  if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
    return old.st_mode & 0777;
  }
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Creates the temporary file beside target, with the permissions it is to have (see permissions_for).
// Returns its descriptor, or -1 with errno set.
int create_temp(const std::string& target) {
  const std::string name = directory_of(target) + temp_name;
  std::memcpy(temp_path, name.c_str(), name.size() + 1);  // prepare checked the length
  int fd = -1;
  {
    const SignalsBlocked blocked;
    fd = mkstemp(temp_path);
    temp_exists = fd >= 0 ? 1 : 0;
  }
  if (fd < 0) {
    return -1;
  }
  // mkstemp makes the file private.
  if (fchmod(fd, permissions_for(target)) != 0) {
    const int error = errno;
    ::close(fd);
    remove_temp();
    errno = error;
    return -1;
  }
  return fd;
}

// Waits until what was written to fd is on the device. A file system that cannot sync such a file
// (EINVAL) offers nothing better to wait for.
int sync_to_device(int fd) { return fsync(fd) == 0 || errno == EINVAL ? 0 : errno; }

// Waits until the directory entries of target's directory, a rename among them, are on the device.
int sync_directory_of(const std::string& target) {
  const std::string directory = directory_of(target);
  const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return errno;
  }
  const int error = sync_to_device(fd);
  ::close(fd);
  return error;
}

// Writes out what stream holds; returns 0 or the errno of what failed.
int flush(std::FILE* stream) {
  errno = 0;
  if (std::fflush(stream) != 0 || std::ferror(stream) != 0) {
    return errno != 0 ? errno : EIO;
  }
  return 0;
}

// Renames the temporary file over target, then syncs the directory so that the rename itself is on the
// device. Returns 0 or the errno of what failed.
int put_into_place(const std::string& target) {
  {
    const SignalsBlocked blocked;
    if (std::rename(temp_path, target.c_str()) != 0) {
      return errno;
    }
    temp_exists = 0;
  }
  return sync_directory_of(target);
}

}  // namespace

bool reopen_closed_standard_descriptors() {
  // Each on /dev/null opened the other way round, as the C library does for privileged programs: the
  // descriptor is taken, and using it still fails with EBADF, as the closed descriptor did.
  const int flags[] = {O_WRONLY, O_RDONLY, O_RDONLY};
  for (int fd = 0; fd < 3; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int opened = ::open("/dev/null", flags[fd]);  // the lowest free descriptor: fd
      if (opened != fd) {
        if (opened >= 0) {
          ::close(opened);
        }
        return false;
      }
    }
  }
  return true;
}

void handle_terminating_signals() {
  struct sigaction action {};
  action.sa_handler = remove_temp_and_die;
  action.sa_mask = handled_signals();  // one at a time in a thread
  for (const int sig : terminating_signals) {
    struct sigaction inherited {};
    if (sigaction(sig, nullptr, &inherited) == 0 && inherited.sa_handler != SIG_IGN) {
      sigaction(sig, &action, nullptr);
    }
  }
  std::signal(SIGXFSZ, SIG_IGN);
}

OutputFile::~OutputFile() {
  if (stream_ != nullptr) {
    close_stream(false);
  }
}

std::string OutputFile::prepare() {
  const int error = find_target();
  return error == 0 ? "" : error_phrase(error);
}

Checked<std::FILE*> OutputFile::open() {
  std::FILE* const stream = open_stream();
  if (stream == nullptr) {
    return {nullptr, error_phrase(errno)};
  }
  return {stream, ""};
}

std::string OutputFile::close(bool complete) {
  const int error = close_stream(complete);
  return error == 0 ? "" : error_phrase(error);
}

int OutputFile::find_target() {
  if (path_ == "-") {
    kind_ = Kind::standard_output;
    return 0;
  }
  struct stat file {};
  if (stat(path_.c_str(), &file) == 0) {
    if (S_ISDIR(file.st_mode)) {
      return EISDIR;
    }
    struct stat out {};
    // A terminal or /dev/null can take both the file and the program's messages; a file or a pipe
    // would get them mixed.
    if (fstat(STDOUT_FILENO, &out) == 0 && out.st_dev == file.st_dev && out.st_ino == file.st_ino &&
        !S_ISCHR(file.st_mode)) {
      kind_ = Kind::standard_output;
      return 0;
    }
    if (!S_ISREG(file.st_mode)) {
      kind_ = Kind::direct;  // renaming over a device or a FIFO is never what is meant
      return 0;
    }
  } else if (errno != ENOENT) {
    return errno;
  }
  kind_ = Kind::replaced;
  target_ = path_;
  if (const int error = follow_links(target_); error != 0) {
    return error;
  }
  // Beside the target, so that the final rename stays within one file system.
  const std::string directory = directory_of(target_);
  if (directory.size() + sizeof temp_name > sizeof temp_path) {
    return ENAMETOOLONG;
  }
  return access(directory.empty() ? "." : directory.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

std::FILE* OutputFile::open_stream() {
  if (kind_ == Kind::standard_output) {
    stream_ = stdout;
    return stream_;
  }
  const int fd =
      kind_ == Kind::direct ? ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC) : create_temp(target_);
  if (fd < 0) {
    return nullptr;
  }
  stream_ = fdopen(fd, "wb");
  if (stream_ == nullptr) {
    const int error = errno;
    ::close(fd);
    if (temp_exists != 0) {
      remove_temp();
    }
    errno = error;
  }
  return stream_;
}

int OutputFile::close_stream(bool complete) {
  int error = 0;
  if (stream_ == stdout) {
    error = flush(stdout);
  } else if (stream_ != nullptr) {
    // A file put into place must be whole on the device before its name is: after a crash or a power
    // loss the name then holds the old file or the whole new one.
    if (kind_ == Kind::replaced && complete) {
      error = flush(stream_);
      error = error != 0 ? error : sync_to_device(fileno(stream_));
    }
    if (std::fclose(stream_) != 0 && error == 0) {
      error = errno;
    }
  }
  stream_ = nullptr;
  if (kind_ == Kind::replaced && temp_exists != 0) {
    error = complete && error == 0 ? put_into_place(target_) : error;
    if (temp_exists != 0) {
      remove_temp();
    }
  }
  return error;
}

}  // namespace muller::cli
