// Arbitrary bytes as one connection's input to the explorer's service, on loopback: whatever they are,
// every answer that comes back is one whole, well-framed HTTP/1.1 response with a status this server
// sends, nothing else comes back, and the connection closes once the client has sent all and said so.
// Tiles are not drawn (a fixed PNG stands for each), so that an input costs microseconds.
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "explorer/service.hpp"
#include "http_client.hpp"

using muller::explorer::Explorer;          // NOLINT(misc-unused-using-decls)
using muller::explorer::ExplorerSettings;  // NOLINT(misc-unused-using-decls)

namespace {

// A service serving on its own threads until the process ends.
struct Serving {
  Explorer explorer;
  std::thread thread;
  Serving() : explorer(settings()) {
    if (!explorer.bind("127.0.0.1", 0).empty()) {
      std::abort();
    }
    thread = std::thread([this] { explorer.serve(); });
  }
  static ExplorerSettings settings() {
    ExplorerSettings s;
    s.threads = 1;
    s.cache_bytes = std::size_t{1} << 20;
    s.draw_instead = [] { return std::string("\x89PNG\r\n\x1a\n", 8); };
    return s;
  }
};

// The client sends its FIN first, so each input leaves a socket in TIME_WAIT on the client's side for a
// minute. At a few thousand inputs a second those would use up the 28,000 ephemeral ports of one
// source address and connect() would fail (EADDRNOTAVAIL), so the client connects from 127.0.1.0 to
// 127.0.1.255 in turn: the server still listens on 127.0.0.1, and loopback is all of 127.0.0.0/8.
std::uint32_t next_source_address() {
  static std::uint32_t next = 0;
  return 0x7f000100u + next++ % 256;
}

void fail(const char* why, const std::string& answer) {
  std::fprintf(stderr, "http_fuzz: %s; the answer begins:\n%s\n", why, answer.substr(0, 400).c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Serving* const serving = new Serving;  // left to the process's end, like the fuzzing itself
  const int fd = connect_to(serving->explorer.port(), next_source_address());
  if (fd < 0) {
    fail(std::strerror(errno), "");
  }
  // libFuzzer's timer interrupts system calls now and then: the client tries them again.
  send_all(fd, {reinterpret_cast<const char*>(data), size});
  shutdown(fd, SHUT_WR);
  std::string answer;
  const bool whole = read_all(fd, answer);
  const int error = errno;
  close(fd);
  if (!whole) {
    fail(std::strerror(error), answer);
  }
  static const std::set<int> statuses = {200, 301, 304, 400, 404, 405, 413, 414, 431, 500, 503, 505};
  const auto next_is_whole = [&](bool has_body) {
    std::string rest = answer;
    const std::optional<Reply> r = take_reply(rest, has_body);
    if (!r || statuses.count(r->status) == 0 || (!rest.empty() && rest.compare(0, 9, "HTTP/1.1 ") != 0)) {
      return false;
    }
    answer = rest;
    return true;
  };
  // No body of ours begins as a response does, so an answer to HEAD (a length, and no body) is told
  // from an answer to GET by what follows it.
  while (!answer.empty()) {
    if (!next_is_whole(true) && !next_is_whole(false)) {
      fail("an answer is not one well-framed response with a status of ours", answer);
    }
  }
  return 0;
}
