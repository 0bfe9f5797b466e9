// The explorer's connections, on Boost.Beast and Boost.Asio: HTTP/1.1 read strictly, one request at a
// time per connection and answered in order, with the limits below. Beast stays inside server.cpp and
// session.cpp; the service sees only the small request and response types here, and answers a request
// whenever it can (at once, or from another thread once a tile is drawn) without a thread waiting for it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace muller::http {

struct Limits {
  std::size_t head_bytes = std::size_t{16} * 1024;   // a request line and its headers, at most
  std::size_t target_bytes = std::size_t{8} * 1024;  // of those, the request line's target (414 past it)
  std::size_t body_bytes = std::size_t{1} << 20;     // a body, read and dropped (413 past it)
  std::chrono::milliseconds idle{5000};              // a kept-alive connection with no request
  std::chrono::milliseconds request{10000};          // from a request's first byte to its end
  std::chrono::milliseconds write{10000};            // a response that the client does not read
  std::chrono::milliseconds linger{2000};            // reading what a client still sends after a close
  std::chrono::milliseconds stop_grace{900};         // what a stop leaves the requests in hand
  int backlog = 512;                                 // connections the kernel queues before accept
  std::size_t connections = 10000;                   // open at once (and under the file limit)
  int requests_per_connection = 10000;               // then the connection is closed, and a new one opens
};

// text with its percent-escapes undone (a '%' not followed by two hexadecimal digits stays as it is), and
// with plus_is_space each '+' read as a space, as in a query that a form sends.
std::string percent_decoded(std::string_view text, bool plus_is_space);

// A request as the service sees it: GET or HEAD already told from any other method, the path and the
// query's values percent-decoded ('+' in the query is a space, as forms send it); the query as sent too,
// for a service that reads its own spellings, and the address the client connected from.
struct Request {
  std::string method;
  bool head = false;  // answered as GET is, without the body
  std::string path;
  std::vector<std::pair<std::string, std::string>> query;  // in the order given
  std::string raw_query;                                   // the target's part after '?', undecoded
  std::string peer;                                        // the client's IP address, as text
  std::string if_none_match;

  // The first value of a query parameter, or null.
  const std::string* param(const std::string& name) const {
    for (const auto& [key, value] : query) {
      if (key == name) {
        return &value;
      }
    }
    return nullptr;
  }
};

struct Response {
  int status = 200;
  const char* type = "text/plain; charset=utf-8";
  std::vector<std::pair<const char*, std::string>> headers;  // besides Content-Type, -Length, Date
  // Shared, so that a cached tile or an embedded file is sent from where it is, never copied.
  std::shared_ptr<const std::string> body;
};

// A refusal: one line of text, not to be stored.
Response refusal(int status, const std::string& line);

// Answers one request: call it once, from any thread, now or later. A response for a client that has
// gone meanwhile is dropped.
using Respond = std::function<void(Response)>;
using Handler = std::function<void(const Request&, const Respond&)>;

class Server {
 public:
  Server(int threads, Limits limits, Handler handler);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds host:port (port 0: a free one) and listens. Returns an empty string, or why not, in Spanish.
  std::string bind(const std::string& host, int port);
  int port() const;
  // Serves until shutdown(), then returns once every connection is closed.
  void serve();
  // From any thread but a signal handler: stop accepting, close the connections waiting for a request,
  // answer what is in hand (with "Connection: close"); serve() returns within stop_grace.
  void shutdown();
  bool stopping() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace muller::http
