// The explorer's server: a listener accepts the connections and gives each, in turn, to a thread, where a
// session of its own (http_session.cpp) reads and answers its requests. Each thread runs an io_context
// of its own, and owns the connections given to it: no locks or wake-ups between threads on a
// connection's way. The stop closes the listener, then the connections as they finish.
#include "http/server.hpp"

#include <sys/resource.h>

#include <boost/asio/buffer.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/error.hpp>
#include <thread>

#include "cli/messages.hpp"
#include "http/session.hpp"

namespace net = boost::asio;
namespace beast = boost::beast;
using tcp = net::ip::tcp;

namespace muller::http {

namespace {

// Accepts the connections, each on the next thread's io_context in turn, and starts a session for each;
// past the limit of open connections, a connection gets a 503 at once and is closed.
class Listener {
 public:
  explicit Listener(Server::State& server);
  void run();   // once bound: accepts until stop()
  void stop();  // from any thread
  tcp::acceptor acceptor;

 private:
  void do_accept();
  void on_accept(beast::error_code ec, tcp::socket socket);

  Server::State& server_;
  std::size_t next_io_ = 0;
};

}  // namespace

// The sessions' table comes first, so that it outlives the io_contexts: the sessions that their pending
// handlers hold leave the table as the io_contexts go.
struct Server::State : Sessions {
  State(int n, Limits l, Handler h)
      : Sessions(l, std::move(h)), ios(contexts(n)), listener(*this), grace(*ios[0]) {
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
  void end_after(std::chrono::steady_clock::time_point deadline);

  std::vector<std::unique_ptr<net::io_context>> ios;  // one a thread; the first also accepts
  Listener listener;
  net::steady_timer grace;
  std::vector<net::executor_work_guard<net::io_context::executor_type>> work;
};

namespace {

// The answer past the limit of open connections, written at once, in one go, whatever the client is
// doing: the socket is closed right after.
void refuse_busy(tcp::socket& socket) {
  static const std::string busy =
      "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
      "31\r\n"
      "Retry-After: 1\r\nConnection: close\r\n\r\ndemasiadas conexiones abiertas\n";
  beast::error_code ignored;
  socket.non_blocking(true, ignored);
  socket.write_some(net::buffer(busy), ignored);
}

Listener::Listener(Server::State& server) : acceptor(*server.ios[0]), server_(server) {}

void Listener::run() {
  if (acceptor.is_open()) {
    net::dispatch(acceptor.get_executor(), [this] { do_accept(); });
  }
}

void Listener::stop() {
  net::dispatch(acceptor.get_executor(), [this] {
    beast::error_code ignored;
    acceptor.close(ignored);
  });
}

void Listener::do_accept() {
  const net::any_io_executor owner = server_.ios[next_io_++ % server_.ios.size()]->get_executor();
  acceptor.async_accept(owner, beast::bind_front_handler(&Listener::on_accept, this));
}

void Listener::on_accept(beast::error_code ec, tcp::socket socket) {
  if (server_.stopping || !acceptor.is_open()) {
    return;
  }
  if (ec) {
    // Out of descriptors or memory: the connection stays queued; accepting resumes a little later
    // instead of spinning.
    auto timer = std::make_shared<net::steady_timer>(*server_.ios[0], std::chrono::milliseconds(100));
    timer->async_wait([this, timer](beast::error_code) {
      net::dispatch(acceptor.get_executor(), [this] { do_accept(); });
    });
    return;
  }
  if (!server_.start_session(socket)) {
    refuse_busy(socket);
  }
  do_accept();
}

}  // namespace

Response refusal(int status, const std::string& line) {
  Response r;
  r.status = status;
  r.headers.emplace_back("Cache-Control", "no-store");
  r.body = std::make_shared<const std::string>(line + "\n");
  return r;
}

// Once every connection is closed, or at the deadline, when whatever is left is closed, serve() returns.
void Server::State::end_after(std::chrono::steady_clock::time_point deadline) {
  grace.expires_after(std::chrono::milliseconds(20));
  grace.async_wait([this, deadline](beast::error_code) {
    const std::vector<std::shared_ptr<Session>> left = all_open();
    if (!left.empty() && std::chrono::steady_clock::now() < deadline) {
      return end_after(deadline);
    }
    for (const auto& session : left) {
      session->close();
    }
    work.clear();
  });
}

Server::Server(int threads, Limits limits, Handler handler) {
  // Each connection holds a descriptor; some are kept for the program's own use.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY) {
    limits.connections =
        std::min<std::size_t>(limits.connections, files.rlim_cur > 64 ? files.rlim_cur - 64 : 1);
  }
  state_ = std::make_unique<State>(std::max(threads, 1), limits, std::move(handler));
}

Server::~Server() {
  try {
    shutdown();
  } catch (...) {  // out of memory: the io_context's end below closes everything all the same
  }
  for (const auto& io : state_->ios) {
    io->stop();
  }
}

std::string Server::bind(const std::string& host, int port) {
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
  tcp::acceptor& a = state_->listener.acceptor;
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

int Server::port() const {
  beast::error_code ec;
  return state_->listener.acceptor.local_endpoint(ec).port();
}

void Server::serve() {
  State& s = *state_;
  s.listener.run();
  std::vector<std::thread> threads;
  for (std::size_t k = 1; k < s.ios.size(); ++k) {
    threads.emplace_back([&s, k] { s.ios[k]->run(); });
  }
  s.ios[0]->run();
  for (std::thread& t : threads) {
    t.join();
  }
}

void Server::shutdown() {
  State& s = *state_;
  if (s.stopping.exchange(true)) {
    return;
  }
  s.listener.stop();
  for (const auto& session : s.all_open()) {
    session->stop();
  }
  // Requests in hand have until the grace's end.
  net::post(*s.ios[0], [self = state_.get()] {
    self->end_after(std::chrono::steady_clock::now() + self->limits.stop_grace);
  });
}

bool Server::stopping() const { return state_->stopping.load(); }

}  // namespace muller::http
