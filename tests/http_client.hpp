// A few lines of sockets that speak HTTP/1.1 to a server on 127.0.0.1, for what a client library would
// not send, and a strict reader of the responses that come back: the one client of the tests, the
// benchmark and the fuzz target.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct Reply {
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case, in order
  std::string body;

  // The value of the first header of that name (in lower case), or "".
  std::string header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
      if (key == name) {
        return value;
      }
    }
    return "";
  }
  bool has(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(), [&](const auto& h) { return h.first == name; });
  }
};

// The response at the start of bytes, removed from them; nothing if they do not start with one that is
// whole and well framed: "HTTP/1.1 NNN reason", headers "Name: value", an empty line, and as many bytes
// as Content-Length says (none for a 304, or when has_body is false: the answer to a HEAD).
inline std::optional<Reply> take_reply(std::string& bytes, bool has_body = true) {
  const std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos || bytes.compare(0, 9, "HTTP/1.1 ") != 0 || bytes.size() < 13 ||
      bytes[12] != ' ') {
    return std::nullopt;
  }
  Reply r;
  for (std::size_t k = 9; k < 12; ++k) {
    if (bytes[k] < '0' || bytes[k] > '9') {
      return std::nullopt;
    }
    r.status = r.status * 10 + (bytes[k] - '0');
  }
  for (std::size_t line = bytes.find("\r\n") + 2; line < end + 2;) {
    const std::size_t next = bytes.find("\r\n", line);
    const std::size_t colon = bytes.find(':', line);
    if (colon >= next || colon == line || bytes.compare(colon, 2, ": ") != 0) {
      return std::nullopt;
    }
    std::string name = bytes.substr(line, colon - line);
    for (char& c : name) {
      c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    r.headers.emplace_back(name, bytes.substr(colon + 2, next - colon - 2));
    line = next + 2;
  }
  std::size_t length = 0;
  const std::string text = r.header("content-length");
  if (text.empty() != (r.status == 304) || text.find_first_not_of("0123456789") != std::string::npos ||
      text.size() > 9) {
    return std::nullopt;  // a length is said exactly when a body could follow, in digits
  }
  length = has_body && !text.empty() ? std::stoul(text) : 0;
  if (bytes.size() - end - 4 < length) {
    return std::nullopt;
  }
  r.body = bytes.substr(end + 4, length);
  bytes.erase(0, end + 4 + length);
  return r;
}

// Whether a connect() that failed was only interrupted (by libFuzzer's timer signal, say): the connection
// then goes on being made, and is waited for.
inline bool connected_after_all(int fd) {
  if (errno != EINTR) {
    return false;
  }
  pollfd p{fd, POLLOUT, 0};
  while (poll(&p, 1, -1) < 0) {
    if (errno != EINTR) {
      return false;
    }
  }
  int error = 0;
  socklen_t size = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
    return false;
  }
  errno = error;
  return error == 0;
}

// A socket connected to 127.0.0.1:port, from the loopback address `from` when one is given, with a bound
// on every read so that a test cannot hang on it; -1 with errno when it cannot connect.
inline int connect_to(int port, std::uint32_t from = INADDR_ANY) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) {
    return -1;
  }
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr.s_addr = htonl(from);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if ((from != INADDR_ANY && bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0) ||
      (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && !connected_after_all(fd))) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  const timeval limit{100, 0};  // a bound on a hung read (a tile under the sanitizers, on a busy machine)
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

// Sends all of bytes, trying a send again when a signal interrupts it; stops early if the server has
// closed the connection, as after a refusal, whose answer is still there to be read.
inline void send_all(int fd, std::string_view bytes) {
  for (std::size_t sent = 0; sent < bytes.size();) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno != EINTR) {
      return;
    }
    sent += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
}

// Reads until the server closes the connection; false, with errno, when a read fails first (the bound
// above passing, say).
inline bool read_all(int fd, std::string& answer) {
  char buffer[65536];
  ssize_t n = 0;
  while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0 || (n < 0 && errno == EINTR)) {
    answer.append(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  }
  return n == 0;
}

// What the client does once its bytes are sent: read until the server closes the connection, first say
// it has sent all (its FIN) and then read, or leave without reading.
enum class Then { read, finish_then_read, leave };

// Bytes sent on a connection of its own (from the loopback address `from`, when one is given), and what
// comes back.
inline std::string send_and_read(int port, const std::string& bytes, Then then = Then::read,
                                 std::uint32_t from = INADDR_ANY) {
  const int fd = connect_to(port, from);
  if (fd < 0) {
    return "";
  }
  send_all(fd, bytes);
  if (then == Then::finish_then_read) {
    shutdown(fd, SHUT_WR);
  }
  std::string answer;
  if (then != Then::leave) {
    read_all(fd, answer);
  }
  close(fd);
  return answer;
}

// One request on a connection of its own, answered and closed.
inline std::optional<Reply> request(int port, const std::string& target, const std::string& method = "GET",
                                    const std::string& headers = "", std::uint32_t from = INADDR_ANY) {
  std::string answer = send_and_read(
      port,
      method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "Connection: close\r\n\r\n",
      Then::read, from);
  std::optional<Reply> r = take_reply(answer, method != "HEAD");
  return r && answer.empty() ? r : std::nullopt;
}
