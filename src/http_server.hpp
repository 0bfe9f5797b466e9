// The explorer's connections: a few event loops that read each request whole, have cpp-httplib parse it
// and write its response, and park a request that must wait (for a tile being drawn) without holding a
// thread.
//
// cpp-httplib on its own gives each connection a thread from a fixed pool for as long as the connection
// lasts: idle keep-alive connections, or clients that send a request a byte at a time, hold every thread
// and a new request waits (with 8 threads, 40 idle connections made one wait 22.8 s). Here a connection
// costs a thread only while its complete request is being answered, which for everything but a tile not
// yet drawn takes microseconds; requests are read and responses sent by the loops, without blocking.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct HttpLimits {
  std::size_t head_bytes = std::size_t{16} * 1024;  // a request line and its headers, at most
  std::chrono::milliseconds idle{5000};             // a kept-alive connection with no request
  std::chrono::milliseconds request{10000};         // from a request's first byte to its end
  std::chrono::milliseconds write{10000};           // a response that the client does not read
  std::chrono::milliseconds stop_grace{900};        // what a stop leaves the requests in hand
  int backlog = 512;                                // connections the kernel queues before accept
  std::size_t connections = 10000;                  // open at once (and under the file limit)
  int requests_per_connection = 10000;              // then the connection is closed, and a new one opens
};

class HttpServer;

// A request parked by its handler (HttpServer::defer): resume() has it answered again from the start, by
// the same handler, which then finds `held` through HttpServer::held(). Callable from any thread, once.
class Deferral {
 public:
  void resume(std::shared_ptr<const void> held) const;

 private:
  friend class HttpServer;
  Deferral(HttpServer* server, int loop, std::uint64_t connection)
      : server_(server), loop_(loop), connection_(connection) {}
  HttpServer* server_;
  int loop_;
  std::uint64_t connection_;
};

// cpp-httplib's server with the connections above. Register the handlers of httplib::Server as usual
// before serve(): the pre-routing handler sees every request (HEAD included).
class HttpServer : public httplib::Server {
 public:
  HttpServer(int loops, HttpLimits limits);
  ~HttpServer() override;
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Binds host:port (port 0: a free one) and listens. Returns an empty string, or why not, in Spanish.
  std::string bind(const std::string& host, int port);
  int port() const { return port_; }
  // Serves until shutdown(), then returns once every connection is closed.
  void serve();
  // From any thread but a signal handler: stop accepting, answer what is in hand (with "Connection:
  // close"), close the rest; serve() returns within stop_grace.
  void shutdown();
  bool stopping() const { return stopping_.load(); }

  // For a handler answering a request: park this request until the Deferral resumes it. The response the
  // handler leaves now is dropped.
  static Deferral defer();
  // For a handler: what the resume of this request brought, or null on its first answer.
  static const std::shared_ptr<const void>& held();

 private:
  class Loop;
  friend class Deferral;
  friend class Loop;

  HttpLimits limits_;
  std::vector<std::unique_ptr<Loop>> loops_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> open_{0};
  std::atomic<std::uint64_t> next_connection_{0};
};
