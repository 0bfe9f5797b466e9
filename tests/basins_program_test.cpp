// The map program run as a user runs it: the PNG it writes and where, the options it refuses, its summary,
// and what it leaves behind when the file cannot be written, memory runs short or a signal stops it.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/options.hpp"
#include "decode_png.hpp"
#include "files.hpp"
#include "map/draw.hpp"
#include "spawn.hpp"
#include "support.hpp"

namespace cli = muller::cli;

using namespace muller::map;     // NOLINT(google-build-using-namespace)
using namespace muller::search;  // NOLINT(google-build-using-namespace)

namespace {

const char* const png_signature = "\x89PNG\r\n\x1a\n";

// The six counts of a summary in its order: the four zeros, then gave up and non-finite.
std::vector<long long> counts(const std::string& summary) {
  std::vector<long long> found;
  for (const std::string& line : lines_of(summary)) {
    const std::size_t at = line.find(" punto");
    if (at != std::string::npos && !starts_with(line, "mapa ")) {
      found.push_back(std::stoll(line.substr(line.rfind(' ', at - 1) + 1)));
    }
  }
  return found;
}

// The map program under a limit on its address space, set by a shell that then becomes the program.
Finished run_with_memory(const std::string& kib, std::vector<std::string> args) {
  args.insert(args.begin(), {"-c", "ulimit -v " + kib + " && exec \"$0\" \"$@\"", BASINS_PROGRAM});
  return run("/bin/sh", args);
}

TEST(BasinsProgram, WritesTheSamePngWhateverTheThreadCountOrPath) {
  Scratch scratch;
  const mode_t saved_mask = umask(027);
  const Finished one = run(BASINS_PROGRAM, {"-n", "65", "-r", "1.5", "-j", "1", "-o", scratch.path("a.png")});
  const Finished three =
      run(BASINS_PROGRAM, {"-n", "65", "-r", "1.5", "-j", "3", "-o", scratch.path("b.png")});
  const Finished scalar =
      run(BASINS_PROGRAM, {"-n", "65", "-r", "1.5", "--scalar", "-o", scratch.path("c.png")});
  umask(saved_mask);
  for (const Finished& o : {one, three, scalar}) {
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const std::vector<long long> six = counts(o.out);
    EXPECT_EQ(six.size(), 6u) << o.out;
    EXPECT_EQ(std::accumulate(six.begin(), six.end(), 0LL), 65 * 65) << o.out;
  }
  EXPECT_EQ(scratch.entries(), (std::set<std::string>{"a.png", "b.png", "c.png"}));
  const std::string a = read_file(scratch.path("a.png").c_str());
  EXPECT_EQ(a, read_file(scratch.path("b.png").c_str()));
  EXPECT_EQ(a, read_file(scratch.path("c.png").c_str()));

  const Decoded image = decode_png(a);
  EXPECT_EQ(image.width, 65u);
  EXPECT_EQ(image.height, 65u);

  struct stat st {};
  ASSERT_EQ(stat(scratch.path("a.png").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(BasinsProgram, RefusesBadOptionsAndLeavesTheFileAlone) {
  // One rule for every number, decimal digits and nothing around them.
  const std::vector<std::vector<std::string>> bad = {
      {"-n", "1000001"}, {"-n", "12x"}, {"-n", ""},    {"-n", " 64"}, {"-n", "64 "},
      {"-n", "0x10"},    {"-r", "-2"},  {"-r", "inf"}, {"-r", "nan"}, {"-r", "dos"},
      {"-r", "0x10"},    {"-r", " 2"},  {"-j", "0"},   {"-j", "257"}};
  // The message names what was typed and the real reason, with a long value cut.
  const std::pair<std::vector<std::string>, std::string> said[] = {
      {{"-n", "1"}, ": -n debe ser un entero de 2 a 1000000, no '1' ("},
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
      {{"--radius"}, ": falta el valor de --radius ("},
      {{"--center", "0.5+0.25i+1"}, ": --center da dos veces la parte real ("},
      {{"--center", "0.5, 0.25i"}, ": --center tiene mal la parte imaginaria: debe ser un numero decimal"},
      {{"--x0", "1 2"}, ": --x0 no es un numero complejo: no se entiende desde la posicion 3, '2' ("},
      {{"--x0", "1e400,0"}, ": --x0 tiene mal la parte real: '1e400' es demasiado grande para representarlo"},
      {{"--center", "1e308,0", "-r", "1e308"}, " se sale de los numeros representables ("},
      {{"--poly", "z^2 + z^2"}, ": --poly repite la potencia z^2 ("},
      {{"--poly", "sin(z)"},
       ": --poly no es un polinomio en z: no se entiende desde la posicion 1, 'sin(z)' ("},
      {{"--poly", "z", "--roots", "1"}, ": --roots y --poly no van juntas"},
      {{"--method", "bisection"}, ": --method debe ser secant, muller, newton o halley, no 'bisection' ("},
      {{"--compare", "-o", "x.png"}, ": --compare no escribe un PNG: sobra -o ("},
      {{"--compare", "--method=newton"}, ": --compare dibuja todos los metodos: sobra --method ("},
      {{"--poly", "z", "--poly", "z"}, ": --poly aparece dos veces"},
      {{"--poly", "(z-1)^3 (z+i)"}, " sus raices, --roots '1;1;1;0,-1' ("},
      {{"--roots", "1;;2"}, ": --roots tiene mal la raiz 2: debe ser un numero decimal, no '' ("},
      {{"--poly", "1e-300z + 1e300"}, ": --poly tiene una raiz fuera del alcance de los double"}};
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
  // A PNG is no use on a terminal.
  const Finished terminal = run(BASINS_PROGRAM, {"-n", "2", "-o", "-"}, Output::terminal);
  EXPECT_EQ(terminal.status, 2);
  EXPECT_EQ(lines_of(terminal.err).size(), 1u) << terminal.err;
  EXPECT_EQ(scratch.entries(), std::set<std::string>{"map.png"});
  EXPECT_EQ(read_file(scratch.path("map.png").c_str()), "old");
}

TEST(BasinsProgram, SaysSoWhenItsHelpOrVersionCannotBeWritten) {
  for (const char* option : {"--help", "--version"}) {
    for (const auto& [output, error] : {std::pair{Output::full_device, ENOSPC}, {Output::closed, EBADF}}) {
      const Finished o = run(BASINS_PROGRAM, {option}, output);
      EXPECT_EQ(o.status, 1) << option;
      EXPECT_EQ(o.err, "muller-basins: error de escritura en la salida estandar: " +
                           cli::error_phrase(error) + "\n");
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
    // In Spanish throughout: the system's own (English) text only for an error without a phrase.
    EXPECT_NE(o.err.find(": " + cli::error_phrase(c.error) + "\n"), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find(std::strerror(c.error)), std::string::npos) << o.err;
  }
  EXPECT_EQ(scratch.entries(), (std::set<std::string>{"dir", "map.png"}));
  EXPECT_EQ(read_file(scratch.path("map.png").c_str()), "old");
}

TEST(BasinsProgram, WritesWhereTheNameLeads) {
  Scratch scratch;
  write_text(scratch.path("real.png"), "old");
  symlink("real.png", scratch.path("link.png").c_str());
  symlink("new.png", scratch.path("dangling.png").c_str());
  mkfifo(scratch.path("fifo").c_str(), 0600);
  // A reader already there, so that the program's open does not wait; the small map fits the pipe.
  const int fifo = open(scratch.path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
  const std::string longest(255, 'n');  // as long as a name may be here
  const struct {
    std::string file;
    std::string png;      // where the PNG must be: a name in the directory, "fifo", "stdout", or nowhere
    std::string written;  // the summary's last line, which goes to standard error when the PNG takes stdout
  } cases[] = {
      {scratch.path("link.png"), "real.png", "escrito: '" + scratch.path("link.png") + "'"},
      {scratch.path("dangling.png"), "new.png", "escrito: '" + scratch.path("dangling.png") + "'"},
      {scratch.path(longest), longest, "escrito: '" + scratch.path(longest) + "'"},
      {scratch.path("a\nb.png"), "a\nb.png", "escrito: $'" + scratch.path("a\\nb.png") + "'"},
      {scratch.path("fifo"), "fifo", "escrito: '" + scratch.path("fifo") + "'"},
      {"/dev/null", "", "escrito: '/dev/null'"},
      {"-", "stdout", "escrito: la salida estandar"},
      {"/dev/stdout", "stdout", "escrito: '/dev/stdout'"},
  };
  for (const auto& c : cases) {
    const Finished o = run(BASINS_PROGRAM, {"-n", "8", "-o", c.file});
    EXPECT_EQ(o.status, 0) << c.file << ": " << o.err;
    std::string png;
    if (c.png == "fifo") {
      char buffer[4096];
      for (ssize_t n; (n = read(fifo, buffer, sizeof buffer)) > 0;) {
        png.append(buffer, static_cast<std::size_t>(n));
      }
    } else if (!c.png.empty()) {
      png = c.png == "stdout" ? o.out : read_file(scratch.path(c.png).c_str());
    }
    EXPECT_EQ(png.substr(0, 8), c.png.empty() ? "" : png_signature) << c.file;
    const std::vector<std::string> summary = lines_of(c.png == "stdout" ? o.err : o.out);
    EXPECT_EQ(summary.size(), 10u) << c.file;
    EXPECT_EQ(summary.empty() ? "" : summary.back(), c.written);
  }
  close(fifo);
  // A bare name and the default one are in the working directory, the directory synced as such.
  char here[PATH_MAX];
  ASSERT_NE(getcwd(here, sizeof here), nullptr);
  ASSERT_EQ(chdir(scratch.dir.c_str()), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-n", "8", "-o", "bare.png"}, std::vector<std::string>{"-n", "8"}}) {
    const Finished o = run(BASINS_PROGRAM, args);
    EXPECT_EQ(o.status, 0) << o.err;
  }
  ASSERT_EQ(chdir(here), 0);
  EXPECT_EQ(read_file(scratch.path("bare.png").c_str()).substr(0, 8), png_signature);
  EXPECT_EQ(read_file(scratch.path("basins.png").c_str()).substr(0, 8), png_signature);
  EXPECT_EQ(scratch.entries(),
            (std::set<std::string>{"real.png", "link.png", "dangling.png", "new.png", "fifo", longest,
                                   "a\nb.png", "bare.png", "basins.png"}));
  struct stat link {};
  EXPECT_TRUE(lstat(scratch.path("link.png").c_str(), &link) == 0 && S_ISLNK(link.st_mode));
  EXPECT_TRUE(lstat(scratch.path("dangling.png").c_str(), &link) == 0 && S_ISLNK(link.st_mode));
}

// A crash or a power loss must leave the old file or the whole new one under the name: the new file is
// on the device before the rename, and the rename before the program says it is written.
TEST(BasinsProgram, SyncsTheFileBeforeItsRenameAndTheDirectoryAfter) {
  Scratch scratch;
  const std::string trace = scratch.path("trace");
  setenv("LD_PRELOAD", SYNC_TRACE, 1);
  setenv("MULLER_SYNC_TRACE", trace.c_str(), 1);
  setenv("ASAN_OPTIONS", "verify_asan_link_order=0", 1);  // the sanitizers' runtime is not loaded first
  const Finished o = run(BASINS_PROGRAM, {"-n", "8", "-o", scratch.path("map.png")});
  unsetenv("LD_PRELOAD");
  unsetenv("MULLER_SYNC_TRACE");
  unsetenv("ASAN_OPTIONS");
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<std::string> calls = lines_of(read_file(trace.c_str()));
  ASSERT_EQ(calls.size(), 3u) << read_file(trace.c_str());
  const std::string temp = calls[0].substr(6);  // "fsync " and the temporary file
  EXPECT_EQ(temp.substr(0, scratch.dir.size() + 9), scratch.dir + "/.muller.");
  EXPECT_EQ(calls[1], "rename " + temp + " " + scratch.path("map.png"));
  EXPECT_EQ(calls[2], "fsync " + scratch.dir);
}

TEST(BasinsProgram, EndsByEachHandledSignalLeavingNothingButNotByAnIgnoredOne) {
  no_core_dumps();
  // SIGINT and SIGHUP ignored from the start, as in a script's background job or under nohup.
  std::vector<std::pair<int, bool>> cases{{SIGINT, true}, {SIGHUP, true}};
  for (const int sig : handled_signals) {
    cases.emplace_back(sig, false);
  }
  for (const auto& [sig, ignored] : cases) {
    Scratch scratch;
    write_text(scratch.path("map.png"), "old");
    // Whatever this process does with the signal, the program starts with it ignored or not as asked.
    const auto saved = std::signal(sig, ignored ? SIG_IGN : SIG_DFL);
    // The scalar search on one thread, long enough that the signal comes while the map is drawn: once
    // the temporary file is there. A map that the signal does not end is a smaller one, which may be
    // done by then.
    const Started started = start(BASINS_PROGRAM, {"-n", ignored ? "256" : "768", "-j", "1", "--scalar", "-o",
                                                   scratch.path("map.png")});
    std::signal(sig, saved);
    const auto drawing_or_done = [&] {
      return scratch.entries().size() > 1 || read_file(scratch.path("map.png").c_str()) != "old";
    };
    for (int wait = 0; wait < 6000 && !drawing_or_done(); ++wait) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(started.pid, sig);
    const Finished o = finish(started);
    EXPECT_EQ(o.status, ignored ? 0 : 128 + sig) << strsignal(sig) << ": " << o.err;
    EXPECT_EQ(scratch.entries(), std::set<std::string>{"map.png"}) << strsignal(sig);
    EXPECT_EQ(read_file(scratch.path("map.png").c_str()).substr(0, 8), ignored ? png_signature : "old");
  }
}

TEST(BasinsProgram, SaysWhenMemoryOrThreadsRunShort) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer needs more address space than these limits leave";
#endif
  Scratch scratch;
  write_text(scratch.path("map.png"), "old");
  // The largest map needs some 50 MB: its grid (16 MB), a copy of a row's coordinates (8 MB) and two
  // bands of rows (12 MB each).
  const Finished none = run_with_memory("30000", {"-n", "1000000", "-o", scratch.path("map.png")});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.err, "muller-basins: no hay memoria para un mapa de 1000000 x 1000000 puntos\n");
  EXPECT_EQ(scratch.entries(), std::set<std::string>{"map.png"});
  EXPECT_EQ(read_file(scratch.path("map.png").c_str()), "old");

  // Room for the pixels and a few threads' stacks of 8 MB, not for eight: 4 MB past the limit at which a
  // fourth stack fits, so that the file has room (just past such a limit it may not, and the program
  // says so, as it should).
  const Finished few = run_with_memory("44000", {"-n", "64", "-j", "8", "-o", scratch.path("map.png")});
  EXPECT_EQ(few.status, 0) << few.err;
  const std::string said = "muller-basins: no hubo recursos para 8 hilos; el mapa se dibujo con ";
  ASSERT_TRUE(starts_with(few.err, said)) << few.err;
  const int threads = std::stoi(few.err.substr(said.size()));
  EXPECT_LT(threads, 8);
  EXPECT_NE(few.out.find(" s con " + std::to_string(threads) + " hilo"), std::string::npos) << few.out;
  EXPECT_EQ(read_file(scratch.path("map.png").c_str()).substr(0, 8), png_signature);
}

TEST(BasinsProgram, CountsAndColoursEveryEndAsTheReadmeNamesIt) {
  // At this radius an odd size has some of everything: each zero, searches that give up, and searches
  // that end non-finite, the centre among them.
  const int n = 101;
  const double radius = 1e5;
  Scratch scratch;
  const Finished o = run(BASINS_PROGRAM, {"-n", "101", "-r", "100000", "-o", scratch.path("map.png")});
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<std::uint8_t> rgb = decode_png(read_file(scratch.path("map.png").c_str())).rgb;
  ASSERT_EQ(rgb.size(), std::size_t{n} * n * 3);

  // In the summary's order: orange for (1 + i)/sqrt 2, sky blue for (-1 + i)/sqrt 2, bluish green for
  // (-1 - i)/sqrt 2, reddish purple for (1 - i)/sqrt 2, then black for gave up and for non-finite.
  const int hues[6][3] = {{230, 159, 0}, {86, 180, 233}, {0, 158, 115}, {204, 121, 167}, {}, {}};
  std::vector<long long> ends(6);
  int wrong_colours = 0;
  for (int k = 0; k < n * n; ++k) {
    const End e = outcome(Method::muller, 0, grid_point(k / n, k % n, n, radius)).end;
    const int end = e == End::gave_up ? 4 : e == End::non_finite ? 5 : static_cast<int>(e);
    ++ends[static_cast<std::size_t>(end)];
    const std::uint8_t* p = &rgb[static_cast<std::size_t>(k) * 3];
    const int* h = hues[end];
    bool shaded = false;  // the hue darkened by some factor from 1/4 to 1
    for (int s = 64; s <= 256 && !shaded; ++s) {
      shaded = p[0] == h[0] * s / 256 && p[1] == h[1] * s / 256 && p[2] == h[2] * s / 256;
    }
    wrong_colours += shaded ? 0 : 1;
  }
  EXPECT_EQ(wrong_colours, 0);
  EXPECT_GT(ends[4], 0);  // gave up
  EXPECT_GT(ends[5], 0);  // non-finite
  EXPECT_EQ(counts(o.out), ends) << o.out;
}

TEST(BasinsProgram, DrawsAnyWindowOfTheExplorerPixelForPixel) {
  // A tile's pixel centres are -2 + (256 column + k + 1/2) p across and 2 - (256 row + k + 1/2) p down,
  // p = 2^-(6 + level); 256 points spaced p around the tile's middle, -2 + (256 column + 128) p, are
  // the same start points, and so must give the same colours as the tile drawn in process.
  const struct {
    int level;
    long long column, row;
    std::complex<double> x0;
    bool varied;  // whether the window has more than one colour; at the deepest level only its points tell
  } cases[] = {{3, 3, 2, {0.25, -0.5}, true},
               {1, 0, 1, {-1e-3, 2}, true},
               {45, 17856068835082, 17768107904860, {}, false}};
  Scratch scratch;
  for (const auto& c : cases) {
    const double p = std::ldexp(1.0, -6 - c.level);
    const double re = -2 + static_cast<double>(c.column * 256 + 128) * p;
    const double im = 2 - static_cast<double>(c.row * 256 + 128) * p;
    char centre[100];
    char x0[100];
    char radius[40];
    std::snprintf(centre, sizeof centre, "%.17g,%.17g", re, im);
    std::snprintf(x0, sizeof x0, "%.17g,%.17g", c.x0.real(), c.x0.imag());
    std::snprintf(radius, sizeof radius, "%.17g", 255 * p / 2);
    const Finished o = run(BASINS_PROGRAM, {"-n", "256", "-r", radius, "--center", centre, "--x0", x0, "-o",
                                            scratch.path("window.png")});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<std::uint8_t> drawn = decode_png(read_file(scratch.path("window.png").c_str())).rgb;
    const Window window = tile(c.level, c.column, c.row, c.x0);
    const Window poster = square(256, 255 * p / 2, {re, im}, c.x0);
    EXPECT_TRUE(window.re == poster.re && window.im == poster.im) << "level " << c.level;
    std::vector<std::uint8_t> expected;
    std::atomic<int> rows{0};
    draw(window, expected, 1, rows, Path::scalar);
    EXPECT_TRUE(drawn == expected) << "level " << c.level;
    std::set<std::vector<std::uint8_t>> colours;
    for (std::size_t k = 0; k + 3 <= expected.size(); k += 3) {
      colours.insert({expected.begin() + static_cast<std::ptrdiff_t>(k),
                      expected.begin() + static_cast<std::ptrdiff_t>(k + 3)});
    }
    EXPECT_EQ(colours.size() > 1, c.varied) << "a window of one colour shows nothing: level " << c.level;
  }
}

TEST(BasinsProgram, SpansARadiusUpToTheLargestDouble) {
  // radius * (n - 1) overflows here; the grid's edges must still be -radius and +radius.
  const Finished o = run(BASINS_PROGRAM, {"-n", "3", "-r", "1.7976931348623157e308", "-o", "/dev/null"});
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string edge = "1.7976931348623157e+308";
  EXPECT_EQ(lines_of(o.out).at(0), "mapa de 3 x 3 puntos: x0 = (0,0), x1 en [-" + edge + ", " + edge +
                                       "] x [-" + edge + ", " + edge + "]");
}

TEST(BasinsProgram, KeepsTheMapWholeWhenStartedWithStandardDescriptorsClosed) {
  // A closed descriptor 1 must not become the temporary file's, or the summary lands in the image.
  Scratch scratch;
  for (const bool stdin_closed : {false, true}) {
    const Finished o =
        run(BASINS_PROGRAM, {"-n", "16", "-o", scratch.path("map.png")}, Output::closed, stdin_closed);
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err,
              "muller-basins: error de escritura en la salida estandar: " + cli::error_phrase(EBADF) + "\n");
    const Decoded image = decode_png(read_file(scratch.path("map.png").c_str()));
    EXPECT_EQ(image.width, 16u) << "stdin closed: " << stdin_closed;
    EXPECT_EQ(scratch.entries(), std::set<std::string>{"map.png"});
  }
}

TEST(BasinsProgram, ReplacedFileKeepsItsPermissions) {
  Scratch scratch;
  write_text(scratch.path("map.png"), "old");
  chmod(scratch.path("map.png").c_str(), 0604);
  const mode_t saved_mask = umask(022);
  const Finished o = run(BASINS_PROGRAM, {"-n", "8", "-o", scratch.path("map.png")});
  umask(saved_mask);
  EXPECT_EQ(o.status, 0) << o.err;
  struct stat st {};
  ASSERT_EQ(stat(scratch.path("map.png").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0604u);
  EXPECT_EQ(read_file(scratch.path("map.png").c_str()).substr(0, 8), png_signature);
}

TEST(BasinsProgram, SummaryMeanRowsIsTheScalarSearchesMean) {
  // Counted here one scalar search at a time, with several bands' worth of threads drawing the map.
  const int n = 41;
  const double radius = 1.5;
  long long rows = 0;
  for (int k = 0; k < n * n; ++k) {
    rows += outcome(Method::muller, 0, grid_point(k / n, k % n, n, radius)).rows;
  }
  char mean[64];
  std::snprintf(mean, sizeof mean, "filas por busqueda, media: %.2f", static_cast<double>(rows) / (n * n));
  Scratch scratch;
  for (const char* threads : {"1", "3"}) {
    const Finished o =
        run(BASINS_PROGRAM, {"-n", "41", "-r", "1.5", "-j", threads, "-o", scratch.path("m.png")});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find(std::string(mean) + "\n"), std::string::npos) << mean << " in\n" << o.out;
  }
}

}  // namespace

namespace {

// z^4 + 1 typed out is the default polynomial, searched by sparse Horner through the general path: the
// same map to the byte, and the same counts under the same names.
TEST(BasinsProgram, DrawsZ4Plus1TypedOutAsTheDefaultMap) {
  Scratch scratch;
  const Finished given = run(BASINS_PROGRAM, {"-n", "97", "--poly", "1 + z^4", "-o", scratch.path("p.png")});
  const Finished plain = run(BASINS_PROGRAM, {"-n", "97", "-o", scratch.path("d.png")});
  ASSERT_EQ(given.status, 0) << given.err;
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(read_file(scratch.path("p.png").c_str()), read_file(scratch.path("d.png").c_str()));
  const std::vector<std::string> a = lines_of(given.out);
  const std::vector<std::string> b = lines_of(plain.out);
  ASSERT_EQ(a.size(), b.size()) << given.out;
  EXPECT_TRUE(std::equal(a.begin(), a.begin() + 8, b.begin())) << given.out << plain.out;
}

// A point may be written RE,IM with spaces around its parts, or as a complex number: the same map.
TEST(BasinsProgram, ReadsAPointInEitherForm) {
  Scratch scratch;
  const Finished pairs =
      run(BASINS_PROGRAM, {"-n", "17", "--x0=0.5,-0", "--center", "-0.25,1", "-o", scratch.path("a.png")});
  const Finished complex_form = run(BASINS_PROGRAM, {"-n", "17", "--x0", "0.5 - 0i", "--center",
                                                     " -0.25 , 1 ", "-o", scratch.path("b.png")});
  const Finished other =
      run(BASINS_PROGRAM, {"-n", "17", "--x0", "0.5", "--center", "-0.25+i", "-o", scratch.path("c.png")});
  ASSERT_EQ(pairs.status, 0) << pairs.err;
  ASSERT_EQ(complex_form.status, 0) << complex_form.err;
  ASSERT_EQ(other.status, 0) << other.err;
  EXPECT_EQ(lines_of(pairs.out).at(0),
            "mapa de 17 x 17 puntos: x0 = (0.5,-0), x1 en [-2.25, 1.75] x [-1, 3]");
  EXPECT_EQ(lines_of(complex_form.out).at(0), lines_of(pairs.out).at(0));
  EXPECT_EQ(read_file(scratch.path("a.png").c_str()), read_file(scratch.path("b.png").c_str()));
  EXPECT_EQ(lines_of(other.out).at(0), "mapa de 17 x 17 puntos: x0 = (0.5,0), x1 en [-2.25, 1.75] x [-1, 3]");
}

// Roots that the map cannot tell apart are one colour and one line: (z - 1)^3 (z + 1)^2 (z - i).
TEST(BasinsProgram, NamesOneLinePerClassOfRoots) {
  Scratch scratch;
  const Finished o =
      run(BASINS_PROGRAM, {"-n", "33", "--roots", "1;1;1;-1;-1;0,1", "-o", scratch.path("m.png")});
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<std::string> lines = lines_of(o.out);
  ASSERT_GE(lines.size(), 4U) << o.out;
  EXPECT_TRUE(starts_with(lines[1], "raiz (1,0): ")) << o.out;
  EXPECT_TRUE(starts_with(lines[2], "raiz (0,1): ")) << o.out;
  EXPECT_TRUE(starts_with(lines[3], "raiz (-1,0): ")) << o.out;
  const std::vector<long long> five = counts(o.out);
  EXPECT_EQ(five.size(), 5U) << o.out;
  EXPECT_EQ(std::accumulate(five.begin(), five.end(), 0LL), 33 * 33) << o.out;
}

}  // namespace
