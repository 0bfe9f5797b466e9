// The explorer program run as a user runs it: its options, the address it prints, a port already taken,
// and its stop on SIGTERM.
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "explorer/service.hpp"
#include "http_client.hpp"
#include "spawn.hpp"
#include "support.hpp"

using muller::explorer::Explorer;          // NOLINT(misc-unused-using-decls)
using muller::explorer::ExplorerSettings;  // NOLINT(misc-unused-using-decls)

namespace {

TEST(ExplorerProgram, PrintsItsHelpAndVersion) {
  const Finished help = run(EXPLORER_PROGRAM, {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(starts_with(help.out, "Uso: muller-explorer [--host DIRECCION] [--port PUERTO]")) << help.out;
  EXPECT_EQ(help.err, "");
  const Finished version = run(EXPLORER_PROGRAM, {"--version"});
  EXPECT_EQ(version.out, std::string("muller-explorer ") + MULLER_VERSION + "\n");
  EXPECT_EQ(version.status, 0);
}

TEST(ExplorerProgram, RefusesBadOptionsWithOneLineAndStatusTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {"--port", "65536"}, {"--port", "-1"}, {"--port", "80a"}, {"-j", "0"},           {"--threads", "257"},
      {"--cache", "-1"},   {"--host", ""},   {"--bogus"},       {"--port", "80", "x"}, {"--port"},
  };
  for (const auto& args : cases) {
    const Finished o = run(EXPLORER_PROGRAM, args);
    EXPECT_EQ(o.status, 2) << args[0];
    EXPECT_TRUE(starts_with(o.err, "muller-explorer: ")) << o.err;
    EXPECT_EQ(lines_of(o.err).size(), 1u) << o.err;
    EXPECT_NE(o.err.find("(vease 'muller-explorer --help')"), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
  }
}

TEST(ExplorerProgram, SaysInOneLineAndInSpanishThatItCannotListen) {
  Explorer first({});
  ASSERT_EQ(first.bind("127.0.0.1", 0), "");
  const Finished o = run(EXPLORER_PROGRAM, {"--port", std::to_string(first.port())});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "muller-explorer: no se puede escuchar en 127.0.0.1:" + std::to_string(first.port()) +
                       ": la direccion ya esta en uso\n");
  EXPECT_EQ(o.out, "");
  // A name that cannot be looked up (glibc refuses an empty label without asking a server), in Spanish too.
  const Finished unknown = run(EXPLORER_PROGRAM, {"--host", "a..b", "--port", "0"});
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(
      unknown.err,
      "muller-explorer: no se puede escuchar en a..b:0: direccion desconocida: no se conoce ese nombre\n");
}

// The first line the program writes, read as it comes (within a generous bound).
std::string first_line(std::FILE* out) {
  for (int tries = 0; tries < 1000; ++tries) {
    std::fflush(out);
    std::string text;
    std::rewind(out);
    for (int c; (c = std::fgetc(out)) != EOF;) {
      text += static_cast<char>(c);
    }
    if (text.find('\n') != std::string::npos) {
      return text.substr(0, text.find('\n'));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "";
}

TEST(ExplorerProgram, PrintsItsAddressFirstAndStopsOnSigtermWithStatusZero) {
  const Started s = start(EXPLORER_PROGRAM, {"--port", "0", "-j", "1"});
  const std::string url = first_line(s.out);
  const std::string prefix = "http://127.0.0.1:";
  ASSERT_TRUE(starts_with(url, prefix)) << url;
  const std::optional<Reply> page = request(std::stoi(url.substr(prefix.size())), "/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_NE(page->body.find("<script type=\"module\" src=\"explorer.js\"></script>"), std::string::npos);
  kill(s.pid, SIGTERM);
  const Finished o = finish(s);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, url + "\n");
  EXPECT_EQ(o.err, "");
}

TEST(ExplorerProgram, ShowsAnIpv6AddressInBracketsOnce) {
  if (!Explorer({}).bind("::1", 0).empty()) {
    GTEST_SKIP() << "no IPv6 loopback here";
  }
  for (const char* host : {"::1", "[::1]"}) {
    const Started s = start(EXPLORER_PROGRAM, {"--host", host, "--port", "0", "-j", "1"});
    const std::string url = first_line(s.out);
    kill(s.pid, SIGTERM);
    const Finished o = finish(s);
    EXPECT_TRUE(starts_with(url, "http://[::1]:")) << host << ": " << url;
    EXPECT_EQ(o.status, 0) << o.err;
  }
}

}  // namespace
