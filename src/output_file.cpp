// The file a program writes into place: the kinds of target, the temporary file, and the signal handlers
// that remove it.
#include "output_file.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

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

// Creates the temporary file beside target, with the permissions that any new file would get. Returns
// its descriptor, or -1 with errno set.
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
  // mkstemp makes the file private. Reading the umask means setting it for a moment, which is safe with
  // no other thread running.
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(fd, 0666 & ~mask) != 0) {
    const int error = errno;
    ::close(fd);
    remove_temp();
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

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
    close(false);
  }
}

int OutputFile::prepare() {
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

std::FILE* OutputFile::open() {
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

int OutputFile::close(bool complete) {
  int error = 0;
  if (stream_ == stdout) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
      error = errno != 0 ? errno : EIO;
    }
  } else if (stream_ != nullptr && std::fclose(stream_) != 0) {
    error = errno;
  }
  stream_ = nullptr;
  if (kind_ == Kind::replaced && temp_exists != 0) {
    if (complete && error == 0) {
      const SignalsBlocked blocked;
      if (std::rename(temp_path, target_.c_str()) == 0) {
        temp_exists = 0;
      } else {
        error = errno;
      }
    }
    if (temp_exists != 0) {
      remove_temp();
    }
  }
  return error;
}
