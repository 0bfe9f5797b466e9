// A few lines of sockets that speak HTTP/1.1 to a server on 127.0.0.1, for what a client library would
// not send, and a strict reader of the responses that come back.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
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

// A socket connected to 127.0.0.1:port, with a bound on every read so that a test cannot hang on it.
inline int connect_to(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  const timeval limit{100, 0};  // a bound on a hung read (a tile under the sanitizers, on a busy machine)
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return fd;
}

// Sends bytes, then reads until the server closes the connection (or the bound above passes).
inline std::string send_and_read(int port, const std::string& bytes, bool close_first = false) {
  const int fd = connect_to(port);
  if (fd < 0) {
    return "";
  }
  send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  std::string answer;
  if (!close_first) {
    char buffer[16384];
    for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  close(fd);
  return answer;
}

// One request on a connection of its own, answered and closed.
inline std::optional<Reply> request(int port, const std::string& target, const std::string& method = "GET",
                                    const std::string& headers = "") {
  std::string answer = send_and_read(port, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                                               headers + "Connection: close\r\n\r\n");
  std::optional<Reply> r = take_reply(answer, method != "HEAD");
  return r && answer.empty() ? r : std::nullopt;
}
