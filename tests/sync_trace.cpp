// Loaded into a program under test (LD_PRELOAD): fsync and rename are written, in the order they are
// called, to the file named by MULLER_SYNC_TRACE, then done. A crash-consistency check reads the order.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void trace(const std::string& line) {
  const char* const file = std::getenv("MULLER_SYNC_TRACE");
  if (file == nullptr) {
    return;
  }
  const int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    const std::string text = line + "\n";
    // a line lost shows as a line missing in the test that reads the file
    [[maybe_unused]] const ssize_t written = write(fd, text.data(), text.size());
    close(fd);
  }
}

std::string path_of(int fd) {
  char target[PATH_MAX];
  const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : "?";
}

}  // namespace

extern "C" int fsync(int fd) {
  trace("fsync " + path_of(fd));
  static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
  return real(fd);
}

// NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name): glibc's own names are reserved
extern "C" int rename(const char* from, const char* to) {
  trace(std::string("rename ") + from + " " + to);
  static const auto real = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
  return real(from, to);
}
