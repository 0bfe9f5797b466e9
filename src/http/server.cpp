// The explorer's connections: one session per connection reads a request, has the service answer it,
// writes the answer and reads the next, each wait under its own time limit. Each thread runs an
// io_context of its own, and owns the connections given to it: no locks or wake-ups between threads on a
// connection's way, and an answer given from elsewhere (a tile drawn) is handed to its connection's thread.
#include "http/server.hpp"

#include <sys/resource.h>

#include <atomic>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>

#include "cli/messages.hpp"

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

// No route takes a body: one is read, so that the next request starts where it should, and dropped.
struct DroppedBody {
  struct value_type {};
  struct reader {
    template <bool isRequest, class Fields>
    reader(http::header<isRequest, Fields>& /*h*/, value_type& /*v*/) {}
    static void init(const boost::optional<std::uint64_t>& /*length*/, beast::error_code& ec) { ec = {}; }
    template <class Buffers>
    std::size_t put(const Buffers& buffers, beast::error_code& ec) {
      ec = {};
      return net::buffer_size(buffers);
    }
    static void finish(beast::error_code& ec) { ec = {}; }
  };
};

// Where a head ends, just past its empty line; a blank line ended by LF alone ends one too, so that such
// a request gets its 400 at once instead of waiting for an end that may never come.
std::size_t head_end(std::string_view in) {
  for (std::size_t at = in.find('\n'); at != std::string_view::npos; at = in.find('\n', at + 1)) {
    if (in.substr(at + 1, 1) == "\n") {
      return at + 2;
    }
    if (in.substr(at + 1, 2) == "\r\n") {
      return at + 3;
    }
  }
  return std::string_view::npos;
}

int hex(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}

std::string decoded(std::string_view text, bool plus_is_space) {
  std::string out;
  for (std::size_t k = 0; k < text.size(); ++k) {
    if (text[k] == '%' && k + 2 < text.size() && hex(text[k + 1]) >= 0 && hex(text[k + 2]) >= 0) {
      out += static_cast<char>(hex(text[k + 1]) * 16 + hex(text[k + 2]));
      k += 2;
    } else {
      out += plus_is_space && text[k] == '+' ? ' ' : text[k];
    }
  }
  return out;
}

// "Mon, 07 Dec 2026 15:00:00 GMT", in English whatever the locale; made once a second by each thread.
const std::string& http_date() {
  static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  thread_local std::time_t made = -1;
  thread_local std::string text;
  const std::time_t now = std::time(nullptr);
  if (now != made) {
    std::tm t{};
    gmtime_r(&now, &t);
    char line[40];
    std::snprintf(line, sizeof line, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[t.tm_wday], t.tm_mday,
                  months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    text = line;
    made = now;
  }
  return text;
}

class Session;

}  // namespace

struct HttpServer::State {
  State(int n, HttpLimits l, Handler h)
      : limits(l), handler(std::move(h)), ios(contexts(n)), acceptor(*ios[0]), grace(*ios[0]) {
    work.reserve(ios.size());
    for (const auto& io : ios) {
      work.push_back(net::make_work_guard(*io));
    }
  }
  static std::vector<std::unique_ptr<net::io_context>> contexts(int n) {
    std::vector<std::unique_ptr<net::io_context>> made(static_cast<std::size_t>(n));
    for (auto& io : made) {
      io = std::make_unique<net::io_context>(1);  // the hint that one thread runs it
    }
    return made;
  }
  void accept();
  void forget(std::uint64_t id);
  std::vector<std::shared_ptr<Session>> open_sessions();
  void end_after(std::chrono::steady_clock::time_point deadline);

  HttpLimits limits;
  Handler handler;
  std::atomic<bool> stopping{false};
  // Before the io_context: the sessions that its pending handlers hold leave this table as it goes.
  std::mutex mutex;  // for sessions and next_id
  std::unordered_map<std::uint64_t, std::weak_ptr<Session>> sessions;
  std::uint64_t next_id = 0;
  std::vector<std::unique_ptr<net::io_context>> ios;  // one a thread; the first also accepts
  std::size_t next_io = 0;
  tcp::acceptor acceptor;
  net::steady_timer grace;
  std::vector<net::executor_work_guard<net::io_context::executor_type>> work;
};

namespace {

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(HttpServer::State& server, tcp::socket socket, std::uint64_t id)
      : server_(server), limits_(server.limits), stream_(std::move(socket)), id_(id) {}
  ~Session() { server_.forget(id_); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void start() {
    beast::error_code ignored;
    // A response leaves in one write, but without this the kernel would hold its last segment back until
    // the client acknowledged the one before.
    stream_.socket().set_option(tcp::no_delay(true), ignored);
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->next_request(); });
  }

  // On the stop: a connection waiting for a request closes now; one being answered is closed after it.
  void stop() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] {
      if (self->waiting_) {
        self->stream_.close();
      }
    });
  }
  void close() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->stream_.close(); });
  }

 private:
  std::string_view in() const { return {static_cast<const char*>(buffer_.data().data()), buffer_.size()}; }

  void next_request() {
    waiting_ = true;
    if (server_.stopping) {
      return stream_.close();
    }
    if (buffer_.size() > 0) {
      return read_head();  // pipelined
    }
    stream_.expires_after(limits_.idle);
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                              self->buffer_.commit(n);
                              if (!ec) {
                                self->read_head();
                              }
                            });
  }

  // From a request's first byte, the head and its body have one time limit together.
  void read_head() {
    stream_.expires_after(limits_.request);
    more_head();
  }

  void more_head() {
    const std::size_t end = head_end(in());
    if (end == std::string_view::npos && buffer_.size() <= limits_.head_bytes) {
      stream_.async_read_some(buffer_.prepare(4096),
                              [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                self->buffer_.commit(n);
                                if (!ec) {
                                  self->more_head();
                                }  // else a request cut short: there is no one to answer
                              });
      return;
    }
    waiting_ = false;
    if (end == std::string_view::npos || end > limits_.head_bytes) {
      return refuse(431,
                    "la peticion y sus cabeceras pasan de " + std::to_string(limits_.head_bytes) + " bytes");
    }
    // A folded header line is read by some as part of the line before and by others as a line of its
    // own: what frames the request would then be in doubt.
    const std::string_view head = in().substr(0, end);
    if (head.find("\n ") < end - 2 || head.find("\n\t") < end - 2) {
      return refuse(400, "peticion mal formada");
    }
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(limits_.head_bytes));
    parser_->body_limit(limits_.body_bytes);
    parser_->eager(false);
    beast::error_code ec;
    parser_->put(net::buffer(head.data(), head.size()), ec);
    buffer_.consume(end);
    if (ec == http::error::body_limit) {
      return refuse(413,
                    "la peticion trae un cuerpo de mas de " + std::to_string(limits_.body_bytes) + " bytes");
    }
    // HTTP/2.0 and the like, well formed but not this server's.
    const std::string_view line = head.substr(0, head.find('\r'));
    if (ec == http::error::bad_version && line.size() > 9 && line.substr(line.size() - 9, 6) == " HTTP/" &&
        std::isdigit(static_cast<unsigned char>(line[line.size() - 3])) != 0 &&
        line[line.size() - 2] == '.' && std::isdigit(static_cast<unsigned char>(line.back())) != 0) {
      return refuse(505, "solo se admiten HTTP/1.1 y HTTP/1.0");
    }
    if (ec || !parser_->is_header_done()) {
      return refuse(400, "peticion mal formada");
    }
    const auto& req = parser_->get();
    if (req.target().size() > limits_.target_bytes) {
      return refuse(414, "la direccion de la peticion es demasiado larga");
    }
    // HTTP/1.1 names its host exactly once (an absolute target names it too).
    const std::size_t hosts = req.count(http::field::host);
    if (req.version() == 11 ? hosts != 1 : hosts > 1) {
      return refuse(400, "peticion mal formada");
    }
    if (parser_->is_done()) {
      return answer();
    }
    http::async_read(
        stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code e, std::size_t) {
          if (!e) {
            self->answer();
          } else if (e != beast::error::timeout && e != net::error::operation_aborted) {
            self->refuse(400, "peticion mal formada");  // a body that does not keep its own framing
          }
        });
  }

  void answer() {
    const auto& req = parser_->get();
    HttpRequest r;
    r.method = std::string(req.method_string());
    r.head = req.method() == http::verb::head;
    std::string_view target = req.target();
    if (target.substr(0, 7) == "http://" || target.substr(0, 8) == "https://") {
      const std::size_t slash = target.find('/', target.find("//") + 2);
      target = slash == std::string_view::npos ? "/" : target.substr(slash);
    }
    const std::size_t question = target.find('?');
    r.path = decoded(target.substr(0, question), false);
    for (std::string_view q = question == std::string_view::npos ? "" : target.substr(question + 1);
         !q.empty();) {
      const std::string_view pair = q.substr(0, q.find('&'));
      q.remove_prefix(std::min(q.size(), pair.size() + 1));
      const std::size_t equals = pair.find('=');
      r.query.emplace_back(decoded(pair.substr(0, equals), true),
                           equals == std::string_view::npos ? "" : decoded(pair.substr(equals + 1), true));
    }
    r.if_none_match = std::string(req[http::field::if_none_match]);
    head_only_ = r.head;
    keep_alive_ = req.keep_alive() && req.version() >= 11 && ++answered_ < limits_.requests_per_connection;
    server_.handler(r, [self = shared_from_this()](HttpResponse response) {
      // At once when answered on the connection's own thread, as most requests are; else handed to it.
      net::dispatch(self->stream_.get_executor(),
                    [self, response = std::move(response)]() mutable { self->write(std::move(response)); });
    });
  }

  // What the connection layer itself refuses: the answer, then a close, as where the next request would
  // begin is not known.
  void refuse(int status, const std::string& line) {
    waiting_ = false;
    head_only_ = false;
    keep_alive_ = false;
    write(refusal(status, line));
  }

  void write(HttpResponse r) {
    body_ = r.body != nullptr ? std::move(r.body) : std::make_shared<const std::string>();
    keep_alive_ = keep_alive_ && !server_.stopping;
    response_ = {};
    response_.version(11);
    response_.result(static_cast<unsigned>(r.status));
    response_.set(http::field::date, http_date());
    response_.set(http::field::content_type, r.type);
    for (const auto& [name, value] : r.headers) {
      response_.set(name, value);
    }
    // A 304 is framed by having no body; saying a length there would contradict the 200's.
    if (r.status != 304) {
      response_.content_length(body_->size());
    }
    if (!keep_alive_) {
      response_.set(http::field::connection, "close");
    }
    response_.body() = {body_->data(), head_only_ || r.status == 304 ? 0 : body_->size()};
    stream_.expires_after(limits_.write);
    http::async_write(stream_, response_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
      self->body_.reset();
      if (ec) {
        return;
      }
      if (self->keep_alive_) {
        return self->next_request();
      }
      self->linger();
    });
  }

  // Closing with bytes unread would make the kernel reset the connection, and the client could lose the
  // answer it has not read yet: the write side closes first, and what still comes is read and dropped,
  // for a bounded time.
  void linger() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(limits_.linger);
    drain();
  }
  void drain() {
    buffer_.clear();
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (!ec) {
                                self->drain();
                              }
                            });
  }

  HttpServer::State& server_;
  const HttpLimits& limits_;
  beast::tcp_stream stream_;
  std::uint64_t id_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<DroppedBody>> parser_;
  http::response<http::span_body<const char>> response_;
  std::shared_ptr<const std::string> body_;
  int answered_ = 0;
  bool waiting_ = false;  // for a request, none begun or its head not whole
  bool keep_alive_ = false;
  bool head_only_ = false;
};

}  // namespace

HttpResponse refusal(int status, const std::string& line) {
  HttpResponse r;
  r.status = status;
  r.headers.emplace_back("Cache-Control", "no-store");
  r.body = std::make_shared<const std::string>(line + "\n");
  return r;
}

void HttpServer::State::accept() {
  const net::any_io_executor owner = ios[next_io++ % ios.size()]->get_executor();
  acceptor.async_accept(owner, [self = this](beast::error_code ec, tcp::socket socket) {
    if (self->stopping || !self->acceptor.is_open()) {
      return;
    }
    if (ec) {
      // Out of descriptors or memory: the connection stays queued; accepting resumes a little later
      // instead of spinning.
      auto timer = std::make_shared<net::steady_timer>(*self->ios[0], std::chrono::milliseconds(100));
      timer->async_wait([self, timer](beast::error_code) {
        net::dispatch(self->acceptor.get_executor(), [self] { self->accept(); });
      });
      return;
    }
    std::uint64_t id = 0;
    {
      const std::lock_guard<std::mutex> lock(self->mutex);
      id = self->sessions.size() < self->limits.connections ? ++self->next_id : 0;
    }
    if (id == 0) {
      static const std::string busy =
          "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
          "31\r\n"
          "Retry-After: 1\r\nConnection: close\r\n\r\ndemasiadas conexiones abiertas\n";
      socket.non_blocking(true, ec);
      socket.write_some(net::buffer(busy), ec);
    } else {
      const auto session = std::make_shared<Session>(*self, std::move(socket), id);
      {
        const std::lock_guard<std::mutex> lock(self->mutex);
        self->sessions.emplace(id, session);
      }
      session->start();
    }
    self->accept();
  });
}

void HttpServer::State::forget(std::uint64_t id) {
  const std::lock_guard<std::mutex> lock(mutex);
  sessions.erase(id);
}

std::vector<std::shared_ptr<Session>> HttpServer::State::open_sessions() {
  std::vector<std::shared_ptr<Session>> open;
  const std::lock_guard<std::mutex> lock(mutex);
  for (const auto& [id, weak] : sessions) {
    if (auto session = weak.lock()) {
      open.push_back(std::move(session));
    }
  }
  return open;
}

// Once every connection is closed, or at the deadline, when whatever is left is closed, serve() returns.
void HttpServer::State::end_after(std::chrono::steady_clock::time_point deadline) {
  grace.expires_after(std::chrono::milliseconds(20));
  grace.async_wait([this, deadline](beast::error_code) {
    const std::vector<std::shared_ptr<Session>> open = open_sessions();
    if (!open.empty() && std::chrono::steady_clock::now() < deadline) {
      return end_after(deadline);
    }
    for (const auto& session : open) {
      session->close();
    }
    work.clear();
  });
}

HttpServer::HttpServer(int threads, HttpLimits limits, Handler handler) {
  // Each connection holds a descriptor; some are kept for the program's own use.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    limits.connections =
        std::min<std::size_t>(limits.connections, files.rlim_cur > 64 ? files.rlim_cur - 64 : 1);
  }
  state_ = std::make_unique<State>(std::max(threads, 1), limits, std::move(handler));
}

HttpServer::~HttpServer() {
  try {
    shutdown();
  } catch (...) {  // out of memory: the io_context's end below closes everything all the same
  }
  for (const auto& io : state_->ios) {
    io->stop();
  }
}

std::string HttpServer::bind(const std::string& host, int port) {
  // A message in Spanish, as every other: the resolver's own errors (no errno) named here, the system's
  // by cli::error_phrase.
  const auto spanish = [](const beast::error_code& ec) -> std::string {
    if (ec == net::error::host_not_found) {
      return "no se conoce ese nombre";
    }
    if (ec == net::error::host_not_found_try_again) {
      return "el nombre no se pudo buscar ahora";
    }
    if (ec == net::error::no_data || !ec) {
      return "el nombre no tiene direccion";
    }
    if (ec == net::error::no_recovery) {
      return "fallo irrecuperable al buscar el nombre";
    }
    if (ec.category() == boost::system::system_category() ||
        ec.category() == boost::system::generic_category()) {
      return muller::cli::error_phrase(ec.value());
    }
    return "error " + std::to_string(ec.value()) + " de " + ec.category().name();
  };
  beast::error_code ec;
  tcp::resolver resolver(*state_->ios[0]);
  const auto found = resolver.resolve(host, std::to_string(port), tcp::resolver::passive, ec);
  if (ec || found.empty()) {
    return "direccion desconocida: " + spanish(ec);
  }
  tcp::acceptor& a = state_->acceptor;
  const tcp::endpoint endpoint = found.begin()->endpoint();
  // SO_REUSEADDR lets a restarted server listen again at once; without SO_REUSEPORT a second server on
  // the same port fails instead of sharing it silently.
  a.open(endpoint.protocol(), ec);
  if (!ec) {
    a.set_option(net::socket_base::reuse_address(true), ec);
  }
  if (!ec) {
    a.bind(endpoint, ec);
  }
  if (!ec) {
    a.listen(state_->limits.backlog, ec);
  }
  if (ec) {
    a.close();
    return spanish(ec);
  }
  return "";
}

int HttpServer::port() const {
  beast::error_code ec;
  return state_->acceptor.local_endpoint(ec).port();
}

void HttpServer::serve() {
  State& s = *state_;
  if (s.acceptor.is_open()) {
    net::dispatch(s.acceptor.get_executor(), [self = state_.get()] { self->accept(); });
  }
  std::vector<std::thread> threads;
  for (std::size_t k = 1; k < s.ios.size(); ++k) {
    threads.emplace_back([&s, k] { s.ios[k]->run(); });
  }
  s.ios[0]->run();
  for (std::thread& t : threads) {
    t.join();
  }
}

void HttpServer::shutdown() {
  State& s = *state_;
  if (s.stopping.exchange(true)) {
    return;
  }
  net::dispatch(s.acceptor.get_executor(), [self = state_.get()] {
    beast::error_code ignored;
    self->acceptor.close(ignored);
  });
  for (const auto& session : s.open_sessions()) {
    session->stop();
  }
  // Requests in hand have until the grace's end.
  net::post(*s.ios[0], [self = state_.get()] {
    self->end_after(std::chrono::steady_clock::now() + self->limits.stop_grace);
  });
}

bool HttpServer::stopping() const { return state_->stopping.load(); }
