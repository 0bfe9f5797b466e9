// The explorer's connections: event loops over epoll that read requests whole, hand each to cpp-httplib's
// parser and response writer in memory, and send the result without blocking.
#include "http_server.hpp"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// What a connection is waiting for; each has its own time limit.
enum class Wait { idle, head, render, write };

struct Connection {
  int fd = -1;
  std::uint64_t id = 0;
  std::string remote_ip;
  std::string local_ip;
  int remote_port = 0;
  int local_port = 0;
  std::string in;                // received, not yet answered
  std::size_t scanned = 0;       // of in, searched for the end of a head
  std::string out;               // to send
  std::size_t sent = 0;          // of out
  std::uint64_t sent_total = 0;  // over the connection's life, to tell a slow reader from a stopped one
  bool unread = false;           // reading stopped with bytes left in the socket
  bool peer_done = false;        // the client will send nothing more
  bool deferred = false;         // a handler parked the first request in `in`
  bool closing = false;          // close once out is sent
  int answered = 0;
  Wait wait = Wait::idle;
  Clock::time_point since;  // when the wait began, or the last request was answered or byte sent
  std::shared_ptr<const void> held;
};

// The request a thread is answering, for the handler's calls to HttpServer::defer() and held().
struct Answering {
  HttpServer* server;
  int loop;
  Connection* connection;
  std::shared_ptr<const void> held;
  bool deferred = false;
  bool parsed = false;  // the request line and headers were read: what follows them is known
  bool has_body = false;
};
thread_local Answering* answering = nullptr;

constexpr std::uint64_t listener_id = 0;
// Responses waiting to be sent, past which no further request of the connection is answered.
constexpr std::size_t unsent_limit = std::size_t{256} * 1024;
constexpr std::uint64_t wake_id = 1;

// Where the head of the first request in `in` ends, just past its empty line; searching resumes where
// the last search stopped. cpp-httplib wants lines ended by CRLF and answers 400 to any other; a blank
// line ended by LF alone ends a head here too, so that such a request gets its 400 at once, instead of
// waiting for an end that may never come.
std::size_t head_end(Connection& c) {
  for (std::size_t at = c.in.find('\n', c.scanned); at != std::string::npos; at = c.in.find('\n', at + 1)) {
    if (at + 1 < c.in.size() && c.in[at + 1] == '\n') {
      return at + 2;
    }
    if (at + 2 < c.in.size() && c.in[at + 1] == '\r' && c.in[at + 2] == '\n') {
      return at + 3;
    }
  }
  c.scanned = c.in.size() < 2 ? 0 : c.in.size() - 2;
  return std::string::npos;
}

// One request's head as cpp-httplib reads it: from memory, ending where the head ends, so that the
// parser never waits for the network and never reads into the next request. What it writes is kept for
// sending.
class HeadStream final : public httplib::Stream {
 public:
  HeadStream(Connection& c, std::size_t end) : c_(c), end_(end) {}
  bool is_readable() const override { return position_ < end_; }
  bool is_writable() const override { return true; }
  ssize_t read(char* ptr, std::size_t size) override {
    const std::size_t n = std::min(size, end_ - position_);
    std::memcpy(ptr, c_.in.data() + position_, n);
    position_ += n;
    return static_cast<ssize_t>(n);
  }
  ssize_t write(const char* ptr, std::size_t size) override {
    c_.out.append(ptr, size);
    return static_cast<ssize_t>(size);
  }
  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.remote_ip;
    port = c_.remote_port;
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    ip = c_.local_ip;
    port = c_.local_port;
  }
  socket_t socket() const override { return c_.fd; }

 private:
  Connection& c_;
  std::size_t end_;
  std::size_t position_ = 0;
};

void address_of(const sockaddr_storage& address, std::string& ip, int& port) {
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
    port = ntohs(v4->sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
    port = ntohs(v6->sin6_port);
  }
  ip = text;
}

// A response that the loops write themselves, where no request could be parsed.
std::string canned(int status, const char* reason, const std::string& line, const char* extra = "") {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " + std::to_string(line.size()) +
         "\r\nConnection: close\r\n" + extra + "\r\n" + line;
}

// Before a request is routed.
void setup_request(httplib::Request& req) {
  answering->parsed = true;
  // Responses go as they are: cpp-httplib would compress every text response anew for every request,
  // with brotli at its slowest setting (most of a second for Leaflet's script). A proxy in front can
  // compress, and keep the result.
  req.headers.erase("Accept-Encoding");
  // Parts of a tile are of no use to a map, and a request for thousands of ranges of one file would make
  // its response thousands of times as large; the whole response is a correct answer to any of them.
  req.ranges.clear();
  // No route takes a body, and none is read: the connection closes after the response, so that the body
  // is never taken for the next request.
  answering->has_body = req.has_header("Transfer-Encoding") ||
                        (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0");
}

}  // namespace

class HttpServer::Loop {
 public:
  Loop(HttpServer& server, int index) : server_(server), index_(index) {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epoll_ < 0 || wake_ < 0) {
      throw std::system_error(errno, std::generic_category(), "epoll");
    }
    watch(wake_, wake_id, EPOLLIN);
  }
  ~Loop() {
    run_inbox();  // sockets handed over after the loop ended are closed by their adoption
    for (auto& [id, c] : connections_) {
      ::close(c->fd);
    }
    ::close(wake_);
    ::close(epoll_);
  }
  Loop(const Loop&) = delete;
  Loop& operator=(const Loop&) = delete;

  void listen_on(int listener) {
    listener_ = listener;
    watch(listener_, listener_id, EPOLLIN);
  }

  // From any thread.
  void post(std::function<void(Loop&)> task) {
    {
      const std::lock_guard<std::mutex> lock(inbox_mutex_);
      inbox_.push_back(std::move(task));
    }
    const std::uint64_t one = 1;
    while (::write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
  }

  void run() {
    std::array<epoll_event, 64> events{};
    Clock::time_point next_sweep = Clock::now();
    while (!(stopped_ && connections_.empty())) {
      const int n = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), stopped_ ? 50 : 250);
      for (int k = 0; k < n; ++k) {
        const std::uint64_t id = events[static_cast<std::size_t>(k)].data.u64;
        if (id == listener_id) {
          accept_all();
        } else if (id == wake_id) {
          std::uint64_t count = 0;
          while (::read(wake_, &count, sizeof count) < 0 && errno == EINTR) {
          }
          run_inbox();
        } else {
          on_event(id, events[static_cast<std::size_t>(k)].events);
        }
      }
      const Clock::time_point now = Clock::now();
      if (now >= next_sweep) {
        sweep(now);
        next_sweep = now + std::chrono::milliseconds(100);
      }
    }
  }

  void adopt(int fd) {
    if (stopped_) {
      drop(fd);
      return;
    }
    const int one = 1;
    // A response leaves in one write, but without this the kernel would hold its last segment back until
    // the client acknowledged the one before (one kept-alive client got 37 responses a second).
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Connection>();
    c->fd = fd;
    c->id = server_.next_connection_.fetch_add(1) + 2;
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      address_of(address, c->remote_ip, c->remote_port);
    }
    length = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      address_of(address, c->local_ip, c->local_port);
    }
    c->since = Clock::now();
    // Edge-triggered: every event is read or written to the end, and a connection costs no system call
    // between its requests but the reads and writes themselves.
    if (!watch(fd, c->id, EPOLLIN | EPOLLOUT | EPOLLRDHUP | EPOLLET)) {
      drop(fd);
      return;
    }
    connections_.emplace(c->id, std::move(c));
  }

  void resume(std::uint64_t id, std::shared_ptr<const void> held) {
    const auto found = connections_.find(id);
    if (found == connections_.end()) {
      return;  // closed meanwhile: the client went away, or the stop's grace ran out
    }
    Connection& c = *found->second;
    c.deferred = false;
    c.held = std::move(held);
    advance(c);
  }

  void stop() {
    stopped_ = true;
    if (listener_ >= 0) {
      epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_, nullptr);
      listener_ = -1;  // the server closes it
    }
    stop_deadline_ = Clock::now() + server_.limits_.stop_grace;
    std::vector<std::uint64_t> idle;
    for (const auto& [id, c] : connections_) {
      if (c->wait == Wait::idle || c->wait == Wait::head) {
        idle.push_back(id);
      }
    }
    for (const std::uint64_t id : idle) {
      close(*connections_.at(id));
    }
  }

 private:
  bool watch(int fd, std::uint64_t id, std::uint32_t events) const {
    epoll_event e{};
    e.events = events;
    e.data.u64 = id;
    return epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) == 0;
  }

  void drop(int fd) {
    ::close(fd);
    server_.open_.fetch_sub(1);
  }

  void close(Connection& c) {
    drop(c.fd);  // closing also takes it out of the epoll set
    connections_.erase(c.id);
  }

  void run_inbox() {
    std::vector<std::function<void(Loop&)>> tasks;
    {
      const std::lock_guard<std::mutex> lock(inbox_mutex_);
      tasks.swap(inbox_);
    }
    for (auto& task : tasks) {
      task(*this);
    }
  }

  void accept_all() {
    if (accept_paused_) {
      return;
    }
    for (int k = 0; k < 64; ++k) {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) {
          continue;
        }
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // The connection stays queued; listening waits until the next sweep instead of spinning.
          epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_, nullptr);
          accept_paused_ = true;
        }
        return;
      }
      if (server_.open_.fetch_add(1) >= server_.limits_.connections) {
        static const std::string busy =
            canned(503, "Service Unavailable", "demasiadas conexiones abiertas\n", "Retry-After: 1\r\n");
        send(fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        drop(fd);
        continue;
      }
      Loop& target = *server_.loops_[next_loop_++ % server_.loops_.size()];
      if (&target == this) {
        adopt(fd);
      } else {
        target.post([fd](Loop& loop) { loop.adopt(fd); });
      }
    }
  }

  void on_event(std::uint64_t id, std::uint32_t events) {
    const auto found = connections_.find(id);
    if (found == connections_.end()) {
      return;
    }
    Connection& c = *found->second;
    if ((events & EPOLLERR) != 0 || (events & EPOLLHUP) != 0) {
      close(c);  // reset, or closed both ways: nothing can be sent
      return;
    }
    if ((events & (EPOLLIN | EPOLLRDHUP)) != 0 && !receive(c)) {
      close(c);
      return;
    }
    advance(c);
  }

  // Reads what the socket holds; false if the connection failed.
  bool receive(Connection& c) const {
    std::array<char, 16384> buffer;
    c.unread = false;
    while (!c.peer_done) {
      if (c.in.size() >= 4 * server_.limits_.head_bytes) {
        c.unread = true;  // enough in hand; the rest is read once these are answered
        return true;
      }
      const ssize_t n = ::recv(c.fd, buffer.data(), buffer.size(), 0);
      if (n > 0) {
        c.in.append(buffer.data(), static_cast<std::size_t>(n));
        if (static_cast<std::size_t>(n) < buffer.size()) {
          return true;  // the socket is drained: data that comes later raises a new event
        }
      } else if (n == 0) {
        c.peer_done = true;
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return true;
      } else if (errno != EINTR) {
        return false;
      }
    }
    return true;
  }

  // Answers every complete request in hand, in order, sends what it can, and sets what the connection
  // waits for next. May close the connection.
  void advance(Connection& c) {
    const int answered = c.answered;
    const std::uint64_t sent = c.sent_total;
    bool alive = true;
    for (;;) {
      answer_all(c);
      alive = flush(c);
      if (!alive || !more_to_read(c)) {
        break;
      }
      alive = receive(c);
      if (!alive) {
        break;
      }
    }
    const bool sending = c.sent < c.out.size();
    if (!alive || (!sending && !c.deferred &&
                   (c.closing || (c.peer_done && head_end(c) == std::string::npos) ||
                    (server_.stopping() && c.in.empty())))) {
      close(c);
      return;
    }
    const Wait next = sending        ? Wait::write
                      : c.deferred   ? Wait::render
                      : c.in.empty() ? Wait::idle
                                     : Wait::head;
    // A time limit runs from the start of a wait, and anew after every answer or anything sent: a
    // request arriving byte by byte does not restart it, a busy kept-alive connection never reaches it.
    if (next != c.wait || c.answered != answered || c.sent_total != sent) {
      c.wait = next;
      c.since = Clock::now();
    }
  }

  // The complete requests in hand, while none is parked and the client keeps up with the responses.
  void answer_all(Connection& c) {
    const std::size_t head_bytes = server_.limits_.head_bytes;
    while (!c.deferred && !c.closing && c.out.size() - c.sent < unsent_limit) {
      const std::size_t end = head_end(c);
      if (end != std::string::npos) {
        answer(c, end);
      } else {
        if (c.in.size() > head_bytes) {
          c.out += canned(431, "Request Header Fields Too Large",
                          "la peticion y sus cabeceras pasan de " + std::to_string(head_bytes) + " bytes\n");
          c.closing = true;
        }
        return;
      }
    }
  }

  // Whether reading stopped early, and there is room now for what was left in the socket.
  bool more_to_read(const Connection& c) const {
    return c.unread && !c.deferred && !c.closing && c.in.size() < 4 * server_.limits_.head_bytes;
  }

  void answer(Connection& c, std::size_t end) {
    const bool last = server_.stopping() || c.answered + 1 >= server_.limits_.requests_per_connection;
    const std::size_t out_before = c.out.size();
    Answering a{&server_, index_, &c, std::move(c.held)};
    HeadStream stream(c, end);
    bool client_closes = false;
    bool written = false;
    answering = &a;
    try {
      written = server_.process_request(stream, last, client_closes, setup_request);
    } catch (...) {
      written = false;  // out of memory while parsing: this connection ends, the others go on
    }
    answering = nullptr;
    if (a.deferred && written) {
      c.out.resize(out_before);
      c.deferred = true;
      return;
    }
    c.in.erase(0, end);
    c.scanned = 0;
    ++c.answered;
    // After a request that could not be parsed, where the next one starts is unknown.
    if (!written || last || client_closes || a.has_body || !a.parsed) {
      c.closing = true;
    }
  }

  // Sends what it can of out; false if the connection failed.
  static bool flush(Connection& c) {
    while (c.sent < c.out.size()) {
      const ssize_t n = ::send(c.fd, c.out.data() + c.sent, c.out.size() - c.sent, MSG_NOSIGNAL);
      if (n >= 0) {
        c.sent += static_cast<std::size_t>(n);
        c.sent_total += static_cast<std::uint64_t>(n);
      } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
        return true;  // the kernel's buffer is full: an event says when it has room again
      } else if (errno != EINTR) {
        return false;
      }
    }
    c.out.clear();
    c.sent = 0;
    return true;
  }

  void sweep(Clock::time_point now) {
    const HttpLimits& limits = server_.limits_;
    if (accept_paused_ && listener_ >= 0) {
      accept_paused_ = false;
      watch(listener_, listener_id, EPOLLIN);
    }
    std::vector<std::uint64_t> expired;
    for (const auto& [id, c] : connections_) {
      const auto limit = c->wait == Wait::idle    ? limits.idle
                         : c->wait == Wait::head  ? limits.request
                         : c->wait == Wait::write ? limits.write
                                                  : std::chrono::milliseconds::max();
      const bool late = c->wait != Wait::render && now - c->since > limit;
      if (late || (stopped_ && now > stop_deadline_)) {
        expired.push_back(id);
      }
    }
    for (const std::uint64_t id : expired) {
      close(*connections_.at(id));
    }
  }

  HttpServer& server_;
  int index_;
  int epoll_ = -1;
  int wake_ = -1;
  int listener_ = -1;
  bool accept_paused_ = false;
  bool stopped_ = false;
  Clock::time_point stop_deadline_;
  std::size_t next_loop_ = 0;
  std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> connections_;
  std::mutex inbox_mutex_;
  std::vector<std::function<void(Loop&)>> inbox_;
};

void Deferral::resume(std::shared_ptr<const void> held) const {
  const std::uint64_t id = connection_;
  server_->loops_[static_cast<std::size_t>(loop_)]->post(
      [id, held = std::move(held)](HttpServer::Loop& loop) mutable { loop.resume(id, std::move(held)); });
}

HttpServer::HttpServer(int loops, HttpLimits limits) : limits_(limits) {
  // Each connection holds a descriptor; some are kept for the program's own use.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    limits_.connections =
        std::min<std::size_t>(limits_.connections, files.rlim_cur > 64 ? files.rlim_cur - 64 : 1);
  }
  for (int k = 0; k < loops; ++k) {
    loops_.push_back(std::make_unique<Loop>(*this, k));
  }
  // What the Keep-Alive header of each response says.
  set_keep_alive_timeout(std::chrono::duration_cast<std::chrono::seconds>(limits_.idle).count());
  set_keep_alive_max_count(static_cast<std::size_t>(limits_.requests_per_connection));
  // cpp-httplib sets SO_REUSEPORT by default, under which a second server on the same port shares it
  // silently instead of failing; SO_REUSEADDR alone lets a restarted server listen again at once.
  set_socket_options([](socket_t sock) {
    const int one = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  });
}

HttpServer::~HttpServer() {
  loops_.clear();
  if (listener_ >= 0) {
    ::close(listener_);
  }
}

std::string HttpServer::bind(const std::string& host, int port) {
  // The name is looked up first, to tell an unknown address from one that cannot be listened on.
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const int lookup = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (lookup != 0) {
    return std::string("direccion desconocida: ") + gai_strerror(lookup);
  }
  freeaddrinfo(found);
  errno = 0;
  if (!bind_to_port(host, port)) {
    return errno == 0 ? std::string("no se puede escuchar") : std::strerror(errno);
  }
  listener_ = svr_sock_;
  // cpp-httplib listens with a backlog of 5, fixed when it was compiled: under a burst of connections
  // the kernel drops the rest and clients wait a second to retry (200 connections saw a p99 of 3.1 s,
  // 93 ms with 512). On Linux listen() on a listening socket sets its backlog anew.
  if (::listen(listener_, limits_.backlog) != 0) {
    return std::strerror(errno);
  }
  const int flags = fcntl(listener_, F_GETFL);
  fcntl(listener_, F_SETFL, flags | O_NONBLOCK);
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return std::strerror(errno);
  }
  std::string ip;
  address_of(address, ip, port_);
  return "";
}

void HttpServer::serve() {
  if (listener_ >= 0) {
    loops_[0]->listen_on(listener_);
  }
  std::vector<std::thread> threads;
  for (std::size_t k = 1; k < loops_.size(); ++k) {
    threads.emplace_back([this, k] { loops_[k]->run(); });
  }
  loops_[0]->run();
  for (std::thread& t : threads) {
    t.join();
  }
  if (listener_ >= 0) {
    ::close(listener_);
    listener_ = -1;
  }
}

void HttpServer::shutdown() {
  if (stopping_.exchange(true)) {
    return;
  }
  for (const auto& loop : loops_) {
    loop->post([](Loop& l) { l.stop(); });
  }
}

Deferral HttpServer::defer() {
  answering->deferred = true;
  return {answering->server, answering->loop, answering->connection->id};
}

const std::shared_ptr<const void>& HttpServer::held() { return answering->held; }
