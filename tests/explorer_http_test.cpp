// The explorer's tiles in line to be drawn, and its connections: one drawing per tile however many ask
// for it, the clients served in turn, the limits, and what malformed requests and idle connections leave
// of it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "explorer/service.hpp"
#include "explorer_running.hpp"
#include "http_client.hpp"
#include "support.hpp"

using muller::explorer::Explorer;          // NOLINT(misc-unused-using-decls)
using muller::explorer::ExplorerSettings;  // NOLINT(misc-unused-using-decls)

namespace {

// Holds the drawing thread before each tile until opened (or for ten seconds at most), so that a test
// knows which requests are waiting.
struct Gate {
  std::mutex mutex;
  std::condition_variable changed;
  bool open = false;
  int entered = 0;
  std::function<void()> hold() {
    return [this] {
      std::unique_lock<std::mutex> lock(mutex);
      ++entered;
      changed.notify_all();
      changed.wait_for(lock, std::chrono::seconds(10), [this] { return open; });
    };
  }
  bool wait_entered() {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [this] { return entered > 0; });
  }
  void release() {
    const std::lock_guard<std::mutex> lock(mutex);
    open = true;
    changed.notify_all();
  }
};

// Whether n requests wait for tiles, within ten seconds.
bool waiting(const Running& service, long long n) {
  for (int k = 0; k < 10000 && service.explorer.waiting() != n; ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return service.explorer.waiting() == n;
}

TEST(Explorer, DrawsATileOnceHoweverManyAskForIt) {
  // No cache: the 32 requests that come while the tile is drawn all get that drawing; a later one draws
  // it again.
  Gate gate;
  const Running service(settings(2, 0, 64, gate.hold()));
  std::vector<std::string> bodies(32);
  std::vector<std::thread> clients;
  clients.reserve(bodies.size());
  for (std::size_t k = 0; k < bodies.size(); ++k) {
    clients.emplace_back([&, k] {
      const std::optional<Reply> r = service.get("/tile/0/0/0.png");
      bodies[k] = r && r->status == 200 ? r->body : "failed";
    });
  }
  EXPECT_TRUE(waiting(service, 32));
  gate.release();
  for (std::thread& t : clients) {
    t.join();
  }
  for (const std::string& body : bodies) {
    EXPECT_EQ(body, bodies[0]);
  }
  EXPECT_EQ(service.explorer.renders(), 1);
  EXPECT_EQ(service.reply("/tile/0/0/0.png").body, bodies[0]);
  EXPECT_EQ(service.explorer.renders(), 2);
}

// A cache with room for three tiles of 20 kB: the tile asked for again and again stays, the one least
// recently asked for leaves.
TEST(Explorer, KeepsTheTileInUseAndDropsTheLeastRecentlyUsed) {
  ExplorerSettings s = settings(1, 70000, 64);
  s.draw_instead = [] { return std::string(20000, 'p'); };
  const Running service(s);
  const auto ask = [&](int column) {
    return service.reply("/tile/2/" + std::to_string(column) + "/0.png").status;
  };
  for (const int column : {0, 1, 2, 0, 3, 0}) {  // 3 is the fourth: 1, least recently used, leaves
    EXPECT_EQ(ask(column), 200) << column;
  }
  EXPECT_EQ(service.explorer.renders(), 4);
  EXPECT_EQ(ask(1), 200);
  EXPECT_EQ(service.explorer.renders(), 5);
}

TEST(Explorer, RefusesTilesPastTheWaitingLimitWithRetryAfter) {
  Gate gate;
  const Running service(settings(1, 1 << 20, 1, gate.hold()));  // one tile drawn, one waiting
  std::thread drawn([&] { EXPECT_EQ(service.reply("/tile/1/0/0.png").status, 200); });
  EXPECT_TRUE(gate.wait_entered());
  std::thread queued([&] { EXPECT_EQ(service.reply("/tile/1/1/0.png").status, 200); });
  EXPECT_TRUE(waiting(service, 2));
  const std::optional<Reply> refused = service.get("/tile/1/0/1.png");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
  EXPECT_EQ(refused->header("retry-after"), "1");
  EXPECT_EQ(service.reply("/report?x1=1,1").status, 200);  // what needs no drawing is answered meanwhile
  gate.release();
  drawn.join();
  queued.join();
  EXPECT_EQ(service.reply("/tile/1/0/1.png").status, 200);
}

// Lets the drawing thread through one tile at a time, as the test allows (each waits ten seconds at most).
struct Steps {
  std::mutex mutex;
  std::condition_variable changed;
  int entered = 0;
  int allowed = 0;
  std::function<void()> hold() {
    return [this] {
      std::unique_lock<std::mutex> lock(mutex);
      const int mine = ++entered;
      changed.notify_all();
      changed.wait_for(lock, std::chrono::seconds(10), [this, mine] { return allowed >= mine; });
    };
  }
  bool wait_entered(int n) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [this, n] { return entered >= n; });
  }
  void allow(int n) {
    const std::lock_guard<std::mutex> lock(mutex);
    allowed += n;
    changed.notify_all();
  }
};

// One address's many tiles do not hold back another's: the clients are served in turn, a tile each, and
// each may have only so many tiles waiting (503 with Retry-After past them).
TEST(Explorer, ServesTheClientsInTurnAndBoundsEachOnesTilesWaiting) {
  Steps steps;
  ExplorerSettings s = settings(1, 1 << 20, 64, steps.hold());
  s.waiting_per_client = 3;
  s.draw_instead = [] { return std::string("png"); };
  const Running service(s);
  const std::uint32_t flood = 0x7f000002;  // 127.0.0.2; the other client is 127.0.0.1
  std::vector<int> statuses(4, 0);
  std::vector<std::thread> clients;
  const auto ask = [&](std::size_t k) {
    clients.emplace_back([&, k] {
      statuses[k] = service.reply("/tile/2/" + std::to_string(k) + "/0.png", "GET", "", flood).status;
    });
  };
  ask(0);
  EXPECT_TRUE(steps.wait_entered(1));  // being drawn
  for (std::size_t k = 1; k < 4; ++k) {
    ask(k);
  }
  EXPECT_TRUE(waiting(service, 4));
  const Reply refused = service.reply("/tile/2/0/1.png", "GET", "", flood);
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(refused.header("retry-after"), "1");
  int other = 0;
  std::thread late([&] { other = service.reply("/tile/2/3/3.png").status; });
  EXPECT_TRUE(waiting(service, 5));
  steps.allow(3);  // the flood's first two tiles, then the other client's, before the flood's last two
  late.join();
  EXPECT_EQ(other, 200);
  EXPECT_EQ(service.explorer.waiting(), 2);
  steps.allow(100);
  for (std::thread& t : clients) {
    t.join();
  }
  EXPECT_EQ(statuses, std::vector<int>(4, 200));
}

// A stop refuses the tiles waiting as the stop's, closing their connections. (The one being drawn is
// finished if the stop's grace allows: not something a test on a busy machine can count on.)
TEST(Explorer, RefusesTheWaitingTilesOnAStopAsTheStops) {
  Gate gate;
  Running service(settings(1, 1 << 20, 4, gate.hold()));
  std::thread drawn([&] { service.get("/tile/1/0/0.png"); });
  EXPECT_TRUE(gate.wait_entered());
  std::optional<Reply> refused;
  std::thread queued([&] { refused = service.get("/tile/1/1/0.png"); });
  EXPECT_TRUE(waiting(service, 2));
  service.explorer.stop();
  queued.join();
  gate.release();
  drawn.join();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 503);
  EXPECT_EQ(refused->body, "el servidor se esta deteniendo\n");
  EXPECT_EQ(refused->header("connection"), "close");
}

TEST(Explorer, KeepsAnsweringAfterTenThousandMalformedRequests) {
  const Running service;
  const int port = service.explorer.port();
  const std::string head(20000, 'a');
  const char binary[] = "\0\xff\x01 / HTTP/1.1\r\n\r\n";
  const struct {
    std::string bytes;
    const char* status;  // the start of the answer; empty when the client leaves first
  } malformed[] = {
      {"GARBAGE\r\n\r\n", "HTTP/1.1 400 "},
      {"GET / HTTP/9.9\r\nHost: a\r\n\r\n", "HTTP/1.1 505 "},
      {"GET /\n\n", "HTTP/1.1 400 "},
      {"\r\n\r\n", "HTTP/1.1 400 "},
      {std::string(binary, sizeof binary - 1), "HTTP/1.1 400 "},
      {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: a\r\n\r\n", "HTTP/1.1 414 "},
      {"GET / HTTP/1.1\r\nHost: a\r\nRange: bytes=z\r\nConnection: close\r\n\r\n", "HTTP/1.1 200 "},
      {"GET / HTTP/1.1\r\n" + head, "HTTP/1.1 431 "},
      {"GET /tile/0/0/0.png?x0=%zz,1 HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n", "HTTP/1.1 400 "},
      {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello", "HTTP/1.1 200 "},
      {"GET / HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\nhello!", "HTTP/1.1 400 "},
      {"GET /tile/1/0/0.png HTTP/1.1\r\nHost: a\r\n", ""},
  };
  const int rounds = 10000;
  std::atomic<int> next{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> clients;
  clients.reserve(4);
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([&] {
      for (int k; (k = next.fetch_add(1)) < rounds;) {
        const auto& m = malformed[static_cast<std::size_t>(k) % std::size(malformed)];
        const std::string answer = send_and_read(port, m.bytes, *m.status == '\0' ? Then::leave : Then::read);
        wrong.fetch_add(starts_with(answer, m.status) ? 0 : 1);
      }
    });
  }
  for (std::thread& t : clients) {
    t.join();
  }
  EXPECT_EQ(wrong.load(), 0);
  const std::optional<Reply> r = service.get("/");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
}

// Requests sent as bytes in one write, and the statuses of the answers that come back, in order and each
// whole and well framed, before the server closes the connection, the last saying so.
TEST(Explorer, AnswersRawRequestsAsHttpAsks) {
  const std::string get = "GET / HTTP/1.1\r\nHost: a\r\n";
  const std::string last = "GET /report?x1=1,1 HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n";
  const std::string smuggled = "GET /smuggled HTTP/1.1\r\nHost: a\r\n\r\n";
  const std::string length = std::to_string(smuggled.size());
  std::string tiles;
  for (int k = 0; k < 30; ++k) {
    tiles += "GET /tile/0/0/0.png HTTP/1.1\r\nHost: a\r\n\r\n";
  }
  const std::string body(std::size_t{1} << 20, 'x');
  const struct {
    const char* name;
    std::string bytes;
    std::vector<int> statuses;
    Then then = Then::read;  // or the client's FIN comes with its requests
  } cases[] = {
      {"pipelined past any buffer",
       "GET /leaflet/leaflet.js HTTP/1.1\r\nHost: a\r\n\r\nGET /explorer.js HTTP/1.1\r\nHost: a\r\n\r\n" +
           last,
       {200, 200, 200}},
      {"30 pipelined tiles", tiles + last, std::vector<int>(31, 200)},
      {"two lengths", get + "Content-Length: " + length + "\r\nContent-Length: 1\r\n\r\n" + smuggled, {400}},
      {"two lengths after a kept-alive request",
       get + "\r\n" + get + "Content-Length: " + length + "\r\nContent-Length: 1\r\n\r\n" + smuggled,
       {200, 400}},
      {"space before a colon", get + "Content-Length : " + length + "\r\n\r\n" + smuggled, {400}},
      {"transfer coding with a space",
       get + "Transfer-Encoding : chunked\r\n\r\n0\r\n\r\n" + smuggled,
       {400}},
      {"folded transfer coding", get + "Transfer-Encoding:\r\n chunked\r\n\r\n0\r\n\r\n" + smuggled, {400}},
      {"folded with a tab", get + "Transfer-Encoding:\r\n\tchunked\r\n\r\n0\r\n\r\n" + smuggled, {400}},
      {"percent in a length", get + "Content-Length: %30\r\n\r\n" + smuggled, {400}},
      {"length and chunked",
       get + "Content-Length: " + length + "\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n" + smuggled,
       {400}},
      {"a body of 1 MiB read and dropped",
       "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1048576\r\n\r\n" + body + last,
       {405, 200}},
      {"a chunk that breaks its framing",
       "POST / HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nhello\r\n0\r\n\r\n" + last,
       {400}},
      {"a body past 1 MiB",
       "POST / HTTP/1.1\r\nHost: a\r\nContent-Length: 1048577\r\n\r\n" + body + "x",
       {413}},
      {"a 64 KiB target", "GET /" + std::string(65536, 'a') + " HTTP/1.1\r\nHost: a\r\n\r\n", {431}},
      {"close in capitals", get + "Connection: Close\r\n\r\n" + last, {200}},
      {"close in a list", get + "Connection: keep-alive, close\r\n\r\n", {200}},
      {"HTTP/1.0", "GET / HTTP/1.0\r\n\r\n" + last, {200}},
      {"no host", "GET / HTTP/1.1\r\n\r\n", {400}},
      {"two hosts", get + "Host: b\r\n\r\n", {400}},
      {"an absolute target",
       "GET http://a/report?x1=1,1 HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n",
       {200}},
      {"an unknown method", "FOO / HTTP/1.1\r\nHost: a\r\n\r\n" + last, {405, 200}},
      {"ranges ignored",
       get + "Range: items=0-1\r\n\r\n" + get + "Range: bytes=5-1\r\n\r\n" + get +
           "Range: bytes=abc\r\n\r\n" + last,
       {200, 200, 200, 200}},
      {"a FIN with the requests", get + "\r\n" + get + "\r\n", {200, 200}, Then::finish_then_read},
  };
  const Running service;
  for (const auto& c : cases) {
    std::string answer = send_and_read(service.explorer.port(), c.bytes, c.then);
    for (std::size_t k = 0; k < c.statuses.size(); ++k) {
      const std::optional<Reply> r = take_reply(answer);
      ASSERT_TRUE(r) << c.name << ": answer " << k << " of " << c.statuses.size();
      EXPECT_EQ(r->status, c.statuses[k]) << c.name << ": " << r->body;
      EXPECT_TRUE(r->has("date")) << c.name;
      EXPECT_FALSE(r->has("accept-ranges")) << c.name;
      const bool closes = k + 1 == c.statuses.size() && c.then == Then::read;
      EXPECT_EQ(r->header("connection"), closes ? "close" : "") << c.name << ": answer " << k;
    }
    EXPECT_EQ(answer, "") << c.name;
  }
}

// HEAD gets GET's headers, and 304 the 200's caching and no length of its own.
TEST(Explorer, AnswersHeadAndRevalidationsWithTheHeadersOfTheAnswer) {
  const Running service;
  for (const std::string target : {"/", "/tile/1/0/0.png?x0=1,0"}) {
    Reply got = service.reply(target);
    Reply head = service.reply(target, "HEAD");
    const Reply same = service.reply(target, "GET", "If-None-Match: " + got.header("etag") + "\r\n");
    EXPECT_EQ(same.status, 304) << target;
    EXPECT_EQ(same.header("cache-control"), got.header("cache-control")) << target;
    EXPECT_EQ(same.header("etag"), got.header("etag")) << target;
    const auto without_date = [](std::vector<std::pair<std::string, std::string>>& headers) {
      headers.erase(
          std::remove_if(headers.begin(), headers.end(), [](const auto& h) { return h.first == "date"; }),
          headers.end());
    };
    without_date(got.headers);
    without_date(head.headers);
    EXPECT_EQ(head.headers, got.headers) << target;
  }
  EXPECT_NE(
      service.reply("/tile/99999999999999999999/0/0.png").body.find("no hay nivel 99999999999999999999"),
      std::string::npos);
}

TEST(Explorer, AnswersWhileAHundredConnectionsStayIdle) {
  const Running service;
  std::vector<int> idle;
  idle.reserve(200);
  for (int k = 0; k < 100; ++k) {
    idle.push_back(connect_to(service.explorer.port()));  // never to send a byte
  }
  for (int k = 0; k < 100; ++k) {
    // kept alive after an answer
    idle.push_back(connect_to(service.explorer.port()));
    const std::string bytes = "GET /explorer.js HTTP/1.1\r\nHost: a\r\n\r\n";
    send(idle.back(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  const std::optional<Reply> r = service.get("/report?x1=1,1");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 200);
  for (const int fd : idle) {
    close(fd);
  }
}

TEST(Explorer, RefusesAnAddressAlreadyListenedOn) {
  const Running first;
  Explorer second({});
  EXPECT_NE(second.bind("127.0.0.1", first.explorer.port()), "");
  EXPECT_NE(Explorer({}).bind("no-such-host.invalid", 0), "");
}

}  // namespace
