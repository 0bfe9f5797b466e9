// One connection's session: it reads a request, has the service answer it, writes the answer and reads
// the next, each wait under its own time limit, all on the thread that owns the connection; an answer
// given from elsewhere (a tile drawn) is handed to that thread.
#include "http/session.hpp"

#include <algorithm>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace beast_http = beast::http;
using tcp = net::ip::tcp;

namespace muller::http {

namespace {

// No route takes a body: one is read, so that the next request starts where it should, and dropped.
struct DroppedBody {
  struct value_type {};
  struct reader {
    template <bool isRequest, class Fields>
    reader(beast_http::header<isRequest, Fields>& /*h*/, value_type& /*v*/) {}
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

// A folded header line is read by some as part of the line before and by others as a line of its own:
// what frames the request would then be in doubt.
bool has_folded_line(std::string_view head) {
  return head.find("\n ") < head.size() - 2 || head.find("\n\t") < head.size() - 2;
}

// Whether the request line ends in " HTTP/d.d": HTTP/2.0 and the like, well formed but not this server's.
bool names_an_http_version(std::string_view head) {
  const std::string_view line = head.substr(0, head.find('\r'));
  return line.size() > 9 && line.substr(line.size() - 9, 6) == " HTTP/" &&
         std::isdigit(static_cast<unsigned char>(line[line.size() - 3])) != 0 &&
         line[line.size() - 2] == '.' && std::isdigit(static_cast<unsigned char>(line.back())) != 0;
}

int hex(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}

}  // namespace

std::string percent_decoded(std::string_view text, bool plus_is_space) {
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

namespace {

// A request for target (in origin or absolute form): its path and its query's values percent-decoded.
Request request_for(std::string_view target) {
  if (target.substr(0, 7) == "http://" || target.substr(0, 8) == "https://") {
    const std::size_t slash = target.find('/', target.find("//") + 2);
    target = slash == std::string_view::npos ? "/" : target.substr(slash);
  }
  Request r;
  const std::size_t question = target.find('?');
  r.path = percent_decoded(target.substr(0, question), false);
  r.raw_query = question == std::string_view::npos ? "" : target.substr(question + 1);
  for (std::string_view q = r.raw_query; !q.empty();) {
    const std::string_view pair = q.substr(0, q.find('&'));
    q.remove_prefix(std::min(q.size(), pair.size() + 1));
    const std::size_t equals = pair.find('=');
    r.query.emplace_back(
        percent_decoded(pair.substr(0, equals), true),
        equals == std::string_view::npos ? "" : percent_decoded(pair.substr(equals + 1), true));
  }
  return r;
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

const char* const malformed = "peticion mal formada";

class HttpSession final : public Session, public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(Sessions& server, tcp::socket socket, std::uint64_t id)
      : server_(server), limits_(server.limits), stream_(std::move(socket)), id_(id) {}
  ~HttpSession() override { server_.forget(id_); }
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  void run() {
    beast::error_code ignored;
    // A response leaves in one write, but without this the kernel would hold its last segment back until
    // the client acknowledged the one before.
    stream_.socket().set_option(tcp::no_delay(true), ignored);
    const tcp::endpoint peer = stream_.socket().remote_endpoint(ignored);
    peer_ = ignored ? std::string() : peer.address().to_string();
    net::dispatch(stream_.get_executor(),
                  beast::bind_front_handler(&HttpSession::next_request, shared_from_this()));
  }

  void stop() override {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] {
      if (self->waiting_) {
        self->stream_.close();
      }
    });
  }
  void close() override {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->stream_.close(); });
  }

 private:
  std::string_view in() const { return {static_cast<const char*>(buffer_.data().data()), buffer_.size()}; }

  // A request sent together with the one before has begun already; else the next is awaited, for the
  // idle limit.
  void next_request() {
    waiting_ = true;
    if (server_.stopping) {
      return stream_.close();
    }
    if (buffer_.size() > 0) {
      return begin_request();
    }
    stream_.expires_after(limits_.idle);
    do_read();
  }

  void do_read() {
    stream_.async_read_some(buffer_.prepare(4096),
                            beast::bind_front_handler(&HttpSession::on_read, shared_from_this()));
  }

  void on_read(beast::error_code ec, std::size_t n) {
    const bool begun = buffer_.size() > 0;
    buffer_.commit(n);
    if (ec) {
      return;  // the client has gone or its time is up: a request cut short has no one to answer
    }
    if (!begun) {
      return begin_request();
    }
    read_head();
  }

  // From a request's first byte, the head and its body have one time limit together.
  void begin_request() {
    stream_.expires_after(limits_.request);
    read_head();
  }

  // The head is gathered here rather than by Beast's parser, so that its limit holds however the bytes
  // arrive; the parser gets it whole.
  void read_head() {
    const std::size_t end = head_end(in());
    if (end == std::string_view::npos && buffer_.size() <= limits_.head_bytes) {
      return do_read();
    }
    waiting_ = false;
    if (end == std::string_view::npos || end > limits_.head_bytes) {
      return refuse(431,
                    "la peticion y sus cabeceras pasan de " + std::to_string(limits_.head_bytes) + " bytes");
    }
    parse_head(in().substr(0, end));
  }

  // Beast's parser frames the request, strictly; a folded line, which it would unfold, is refused first.
  void parse_head(std::string_view head) {
    if (has_folded_line(head)) {
      return refuse(400, malformed);
    }
    const bool names_a_version = names_an_http_version(head);
    parser_.emplace();
    parser_->header_limit(static_cast<std::uint32_t>(limits_.head_bytes));
    parser_->body_limit(limits_.body_bytes);
    parser_->eager(false);
    beast::error_code ec;
    parser_->put(net::buffer(head.data(), head.size()), ec);
    buffer_.consume(head.size());
    if (ec == beast_http::error::body_limit) {
      return refuse(413,
                    "la peticion trae un cuerpo de mas de " + std::to_string(limits_.body_bytes) + " bytes");
    }
    if (ec == beast_http::error::bad_version && names_a_version) {
      return refuse(505, "solo se admiten HTTP/1.1 y HTTP/1.0");
    }
    if (ec || !parser_->is_header_done()) {
      return refuse(400, malformed);
    }
    check_head();
  }

  // What the parser lets through and this server does not; then the body, if any, is read and dropped.
  void check_head() {
    const auto& req = parser_->get();
    if (req.target().size() > limits_.target_bytes) {
      return refuse(414, "la direccion de la peticion es demasiado larga");
    }
    // HTTP/1.1 names its host exactly once (an absolute target names it too).
    const std::size_t hosts = req.count(beast_http::field::host);
    if (req.version() == 11 ? hosts != 1 : hosts > 1) {
      return refuse(400, malformed);
    }
    if (parser_->is_done()) {
      return handle_request();
    }
    do_read_body();
  }

  void do_read_body() {
    beast_http::async_read(stream_, buffer_, *parser_,
                           beast::bind_front_handler(&HttpSession::on_read_body, shared_from_this()));
  }

  void on_read_body(beast::error_code ec, std::size_t /*n*/) {
    if (!ec) {
      return handle_request();
    }
    if (ec != beast::error::timeout && ec != net::error::operation_aborted) {
      refuse(400, malformed);  // a body that does not keep its own framing
    }
  }

  void handle_request() {
    const auto& req = parser_->get();
    Request r = request_for(req.target());
    r.peer = peer_;
    r.method = std::string(req.method_string());
    r.head = req.method() == beast_http::verb::head;
    r.if_none_match = std::string(req[beast_http::field::if_none_match]);
    head_only_ = r.head;
    keep_alive_ = req.keep_alive() && req.version() >= 11 && ++answered_ < limits_.requests_per_connection;
    server_.handler(r, [self = shared_from_this()](Response response) {
      // At once when answered on the connection's own thread, as most requests are; else handed to it.
      net::dispatch(self->stream_.get_executor(), [self, response = std::move(response)]() mutable {
        self->do_write(std::move(response));
      });
    });
  }

  // What the connection itself refuses: the answer, then a close, as where the next request would begin
  // is not known.
  void refuse(int status, const std::string& line) {
    waiting_ = false;
    head_only_ = false;
    keep_alive_ = false;
    do_write(refusal(status, line));
  }

  void do_write(Response r) {
    body_ = r.body != nullptr ? std::move(r.body) : std::make_shared<const std::string>();
    keep_alive_ = keep_alive_ && !server_.stopping;
    response_ = {};
    response_.version(11);
    response_.result(static_cast<unsigned>(r.status));
    response_.set(beast_http::field::date, http_date());
    response_.set(beast_http::field::content_type, r.type);
    for (const auto& [name, value] : r.headers) {
      response_.set(name, value);
    }
    // A 304 is framed by having no body; saying a length there would contradict the 200's.
    if (r.status != 304) {
      response_.content_length(body_->size());
    }
    if (!keep_alive_) {
      response_.set(beast_http::field::connection, "close");
    }
    response_.body() = {body_->data(), head_only_ || r.status == 304 ? 0 : body_->size()};
    stream_.expires_after(limits_.write);
    beast_http::async_write(stream_, response_,
                            beast::bind_front_handler(&HttpSession::on_write, shared_from_this()));
  }

  void on_write(beast::error_code ec, std::size_t /*n*/) {
    body_.reset();
    if (ec) {
      return;
    }
    if (keep_alive_) {
      return next_request();
    }
    do_close();
  }

  // Closing with bytes unread would make the kernel reset the connection, and the client could lose the
  // answer it has not read yet: the write side closes first, and what still comes is read and dropped,
  // for a bounded time.
  void do_close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    stream_.expires_after(limits_.linger);
    do_drain();
  }

  void do_drain() {
    buffer_.clear();
    stream_.async_read_some(buffer_.prepare(4096),
                            beast::bind_front_handler(&HttpSession::on_drain, shared_from_this()));
  }

  void on_drain(beast::error_code ec, std::size_t /*n*/) {
    if (!ec) {
      do_drain();
    }
  }

  Sessions& server_;
  const Limits& limits_;
  beast::tcp_stream stream_;
  std::uint64_t id_;
  std::string peer_;  // the client's address
  beast::flat_buffer buffer_;
  std::optional<beast_http::request_parser<DroppedBody>> parser_;
  beast_http::response<beast_http::span_body<const char>> response_;
  std::shared_ptr<const std::string> body_;
  int answered_ = 0;
  bool waiting_ = false;  // for a request, none begun or its head not whole
  bool keep_alive_ = false;
  bool head_only_ = false;
};

}  // namespace

bool Sessions::start_session(tcp::socket& socket) {
  std::shared_ptr<HttpSession> session;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (open_.size() >= limits.connections) {
      return false;
    }
    session = std::make_shared<HttpSession>(*this, std::move(socket), ++next_id_);
    open_.emplace(next_id_, session);
  }
  session->run();
  return true;
}

void Sessions::forget(std::uint64_t id) {
  const std::lock_guard<std::mutex> lock(mutex_);
  open_.erase(id);
}

std::vector<std::shared_ptr<Session>> Sessions::all_open() {
  std::vector<std::shared_ptr<Session>> sessions;
  const std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [id, weak] : open_) {
    if (auto session = weak.lock()) {
      sessions.push_back(std::move(session));
    }
  }
  return sessions;
}

}  // namespace muller::http
