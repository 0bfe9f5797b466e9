// The map program run as a user runs it: the PNG it writes, the options it refuses, and what it leaves
// behind when the file cannot be written or it is stopped.
#include <dirent.h>
#include <png.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "spawn.hpp"
#include "support.hpp"

namespace {

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

void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TEST(BasinsProgram, WritesTheSamePngWhateverTheThreadCount) {
  Scratch scratch;
  const mode_t saved_mask = umask(027);
  const Finished one = run(BASINS_PROGRAM, {"-n", "65", "-r", "1.5", "-j", "1", "-o", scratch.path("a.png")});
  const Finished three =
      run(BASINS_PROGRAM, {"-n", "65", "-r", "1.5", "-j", "3", "-o", scratch.path("b.png")});
  umask(saved_mask);
  for (const Finished& o : {one, three}) {
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    // Four zeros, gave up and non-finite: six counts that cover the grid.
    long long points = 0;
    std::istringstream lines(o.out);
    for (std::string line; std::getline(lines, line);) {
      const std::size_t at = line.find(" puntos (");
      if (at != std::string::npos) {
        points += std::stoll(line.substr(line.rfind(' ', at - 1) + 1));
      }
    }
    EXPECT_EQ(points, 65 * 65) << o.out;
  }
  EXPECT_EQ(scratch.entries(), (std::set<std::string>{"a.png", "b.png"}));
  const std::string a = read_file(scratch.path("a.png").c_str());
  EXPECT_EQ(a, read_file(scratch.path("b.png").c_str()));

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_NE(png_image_begin_read_from_memory(&image, a.data(), a.size()), 0) << image.message;
  EXPECT_EQ(image.width, 65u);
  EXPECT_EQ(image.height, 65u);
  png_image_free(&image);

  struct stat st {};
  ASSERT_EQ(stat(scratch.path("a.png").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(BasinsProgram, RefusesBadOptionsAndLeavesTheFileAlone) {
  // One rule for every number, decimal digits and nothing around them.
  const std::vector<std::vector<std::string>> bad = {
      {"-n", "16385"}, {"-n", "12x"}, {"-n", ""},    {"-n", " 64"}, {"-n", "64 "},
      {"-n", "0x10"},  {"-r", "-2"},  {"-r", "inf"}, {"-r", "nan"}, {"-r", "dos"},
      {"-r", "0x10"},  {"-r", " 2"},  {"-j", "0"},   {"-j", "257"}};
  // The message names what was typed and the real reason, with a long value cut.
  const std::pair<std::vector<std::string>, std::string> said[] = {
      {{"-n", "1"}, ": -n debe ser un entero de 2 a 16384, no '1' ("},
      {{"-n", std::string(5000, '9')}, " no '" + std::string(40, '9') + "'... ("},
      {{"-r", "0"}, ": -r debe ser un numero positivo, no '0' ("},
      {{"-r", "1e-400"}, ": -r '1e-400' es demasiado pequeno para representarlo ("},
      {{"-r", "1e400"}, ": -r '1e400' es demasiado grande para representarlo ("},
      {{"--size=abc"}, ": --size debe ser"},
      {{"--threads", "0"}, ": --threads debe ser"},
      {{"-x"}, ": opcion desconocida: '-x' ("},
      {{"--bogus=1"}, ": opcion desconocida: '--bogus' ("},
      {{"--help=yes"}, ": --help no admite valor ("},
      {{"--vers=1"}, ": --vers no admite valor ("},
      {{"stray"}, ": argumento de mas: 'stray' ("},
      {{"-n"}, ": falta el valor de -n ("},
      {{"--radius"}, ": falta el valor de --radius ("}};
  Scratch scratch;
  write_text(scratch.path("map.png"), "old");
  auto expect_refused = [&](std::vector<std::string> args, const std::string& says) {
    const std::string shown = ::testing::PrintToString(args).substr(0, 80);
    args.insert(args.begin(), {"-o", scratch.path("map.png")});
    const Finished o = run(BASINS_PROGRAM, args);
    EXPECT_EQ(o.status, 2) << shown;
    EXPECT_EQ(o.out, "") << shown;
    EXPECT_EQ(lines_of(o.err).size(), 1u) << shown << ": " << o.err;
    EXPECT_LT(o.err.size(), 200u) << shown;
    EXPECT_TRUE(starts_with(o.err, "muller-basins: ")) << shown << ": " << o.err;
    EXPECT_NE(o.err.find("--help"), std::string::npos) << shown << ": " << o.err;
    if (!says.empty()) {
      EXPECT_NE(o.err.find(says), std::string::npos) << shown << ": " << o.err;
    }
  };
  for (const auto& args : bad) {
    expect_refused(args, "");
  }
  for (const auto& [args, says] : said) {
    expect_refused(args, says);
  }
  EXPECT_EQ(scratch.entries(), std::set<std::string>{"map.png"});
  EXPECT_EQ(read_file(scratch.path("map.png").c_str()), "old");
}

TEST(BasinsProgram, SaysSoWhenItsHelpOrVersionCannotBeWritten) {
  for (const char* option : {"--help", "--version"}) {
    for (const auto& [output, error] : {std::pair{Output::full_device, ENOSPC}, {Output::closed, EBADF}}) {
      const Finished o = run(BASINS_PROGRAM, {option}, output);
      EXPECT_EQ(o.status, 1) << option;
      EXPECT_EQ(o.err, std::string("muller-basins: error de escritura en la salida estandar: ") +
                           std::strerror(error) + "\n");
    }
  }
}

TEST(BasinsProgram, NamesTheFileItCannotWriteAndLeavesNothingBehind) {
  Scratch scratch;
  write_text(scratch.path("map.png"), "old");
  mkdir(scratch.path("dir").c_str(), 0755);
  const struct {
    std::string file;
    int error;
    rlim_t size_limit;
  } cases[] = {
      {scratch.path("missing/map.png"), ENOENT, RLIM_INFINITY},
      {scratch.path("dir"), EISDIR, RLIM_INFINITY},
      // A file size limit makes the PNG's writes fail part way, as a full device would.
      {scratch.path("map.png"), EFBIG, 1000},
  };
  for (const auto& c : cases) {
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = c.size_limit;
    setrlimit(RLIMIT_FSIZE, &limit);
    // A map of some 14 kB: its writes reach the file while libpng is still at work.
    const Started started = start(BASINS_PROGRAM, {"-n", "256", "-o", c.file});
    setrlimit(RLIMIT_FSIZE, &saved);
    const Finished o = finish(started);
    EXPECT_EQ(o.status, 1) << c.file;
    EXPECT_EQ(lines_of(o.err).size(), 1u) << o.err;
    EXPECT_NE(o.err.find("'" + c.file + "'"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(std::strerror(c.error)), std::string::npos) << o.err;
  }
  EXPECT_EQ(scratch.entries(), (std::set<std::string>{"dir", "map.png"}));
  EXPECT_EQ(read_file(scratch.path("map.png").c_str()), "old");
}

TEST(BasinsProgram, IsStoppedBySignalsWithoutLeavingAFile) {
  for (const int sig : {SIGINT, SIGTERM}) {
    Scratch scratch;
    write_text(scratch.path("map.png"), "old");
    // A map that takes minutes, stopped as soon as its temporary file is there.
    const Started started = start(BASINS_PROGRAM, {"-n", "8192", "-j", "1", "-o", scratch.path("map.png")});
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (scratch.entries().size() < 2 && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(scratch.entries().size(), 2u) << "no temporary file appeared";
    kill(started.pid, sig);
    const Finished o = finish(started);
    EXPECT_EQ(o.status, 128 + sig);
    EXPECT_EQ(scratch.entries(), std::set<std::string>{"map.png"});
    EXPECT_EQ(read_file(scratch.path("map.png").c_str()), "old");
  }
}

}  // namespace
