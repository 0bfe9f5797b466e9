// Times whole processes side by side: each round starts every command once, with standard output on
// /dev/null, beginning with a different command each round, so that the machine's drift and the cost
// of going first fall on all of them alike. Prints the median wall time of each command and its ratio
// to the first.
//
//   startup_timer ROUNDS LABEL COMMAND [ARG...] [-- LABEL COMMAND [ARG...]]...
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double run_once(const std::vector<char*>& argv, posix_spawn_file_actions_t* actions) {
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], actions, nullptr, argv.data(), environ) != 0) {
    std::fprintf(stderr, "startup_timer: cannot start %s\n", argv[0]);
    std::exit(2);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "startup_timer: %s failed\n", argv[0]);
    std::exit(2);
  }
  return std::chrono::duration<double, std::milli>(end - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: startup_timer ROUNDS LABEL COMMAND [ARG...] [-- LABEL COMMAND [ARG...]]...\n");
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  // Each group is a label followed by a command line; groups are separated by "--".
  std::vector<std::vector<char*>> groups(1);
  for (int i = 2; i < argc; ++i) {
    if (std::string(argv[i]) == "--") {
      groups.emplace_back();
    } else {
      groups.back().push_back(argv[i]);
    }
  }
  std::vector<std::string> labels;
  std::vector<std::vector<char*>> commands;
  for (std::vector<char*>& g : groups) {
    if (g.size() < 2) {
      std::fprintf(stderr, "startup_timer: each group needs a label and a command\n");
      return 2;
    }
    labels.emplace_back(g.front());
    commands.emplace_back(g.begin() + 1, g.end());
    commands.back().push_back(nullptr);
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

  const std::size_t n = commands.size();
  std::vector<std::vector<double>> times(n);
  for (int r = 0; r < rounds; ++r) {
    for (std::size_t j = 0; j < n; ++j) {
      const std::size_t i = (static_cast<std::size_t>(r) + j) % n;
      times[i].push_back(run_once(commands[i], &actions));
    }
  }

  const double base = median(times[0]);
  std::printf("| command | median (ms) | ratio to %s |\n| --- | ---: | ---: |\n", labels[0].c_str());
  for (std::size_t i = 0; i < n; ++i) {
    const double m = median(times[i]);
    std::printf("| %s | %.3f | %.2f |\n", labels[i].c_str(), m, m / base);
  }
  return 0;
}
