// Scratch directories for the tests that write files, and the signals after which nothing may be left
// in them.
#pragma once

#include <dirent.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

// A fresh directory for one test, removed with what is left in it (its tests look there first).
struct Scratch {
  std::string dir;
  Scratch() {
    char name[] = "/tmp/muller-basins-test.XXXXXX";
    dir = mkdtemp(name);
  }
  ~Scratch() { std::system(("rm -rf '" + dir + "'").c_str()); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string path(const std::string& name) const { return dir + "/" + name; }
  std::set<std::string> entries() const {
    std::set<std::string> names;
    DIR* d = opendir(dir.c_str());
    for (dirent* e; (e = readdir(d)) != nullptr;) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") {
        names.insert(name);
      }
    }
    closedir(d);
    return names;
  }
};

inline void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// The signals that remove the temporary file before they end the process (src/output_file.cpp).
inline const int handled_signals[] = {SIGALRM, SIGHUP,  SIGINT,  SIGIO,   SIGPIPE,   SIGPROF,
                                      SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGXCPU};

// SIGQUIT and SIGXCPU dump core by default; the processes that these tests end need not.
inline void no_core_dumps() {
  rlimit core{};
  getrlimit(RLIMIT_CORE, &core);
  core.rlim_cur = 0;
  setrlimit(RLIMIT_CORE, &core);
}
