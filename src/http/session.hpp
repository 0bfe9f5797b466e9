// What the explorer's server (server.cpp) and its connections' sessions (session.cpp) share, for those
// two files alone: of Boost, it names only Asio's socket; Beast's HTTP stays in session.cpp.
#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "http/server.hpp"

namespace muller::http {

// A connection's session as the server sees it: the server only ever stops or closes one.
class Session {
 public:
  Session() = default;
  virtual ~Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  // On the stop: a connection waiting for a request closes now; one being answered is closed after it.
  virtual void stop() = 0;
  // At the stop's deadline, whatever it is doing.
  virtual void close() = 0;
};

// What a server's sessions share: its limits, its service, whether it is stopping, and the table of the
// sessions open, through which the stop reaches them.
class Sessions {
 public:
  Sessions(Limits l, Handler h) : limits(l), handler(std::move(h)) {}

  // A session of its own for a connection just accepted, run by the io_context that owns the socket;
  // false, the socket left as it is, past the limit of open connections.
  bool start_session(boost::asio::ip::tcp::socket& socket);
  void forget(std::uint64_t id);  // by a session as it ends
  std::vector<std::shared_ptr<Session>> all_open();

  Limits limits;
  Handler handler;
  std::atomic<bool> stopping{false};

 private:
  std::mutex mutex_;  // for open_ and next_id_
  std::unordered_map<std::uint64_t, std::weak_ptr<Session>> open_;
  std::uint64_t next_id_ = 0;
};

}  // namespace muller::http
