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

#include "explorer.hpp"
#include "http_client.hpp"

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

void fail(const char* why, const std::string& answer) {
  std::fprintf(stderr, "http_fuzz: %s; the answer begins:\n%s\n", why, answer.substr(0, 400).c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Serving* const serving = new Serving;  // left to the process's end, like the fuzzing itself
  const int fd = connect_to(serving->explorer.port());
  if (fd < 0) {
    fail("no connection", "");
  }
  // libFuzzer's timer interrupts system calls now and then: they are tried again.
  for (std::size_t sent = 0; sent < size;) {
    const ssize_t n = send(fd, data + sent, size - sent, MSG_NOSIGNAL);
    if (n < 0 && errno != EINTR) {
      break;  // the server closed first, as after a refusal: what it answered is read below
    }
    sent += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  shutdown(fd, SHUT_WR);
  std::string answer;
  char buffer[65536];
  ssize_t n = 0;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0 || (n < 0 && errno == EINTR)) {
    answer.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  close(fd);
  if (n < 0) {
    fail(std::strerror(errno), answer);
  }
  static const std::set<int> statuses = {200, 304, 400, 404, 405, 413, 414, 431, 500, 503, 505};
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
