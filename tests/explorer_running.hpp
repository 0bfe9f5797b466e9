// The explorer's service run in a test's own process, on a free port of 127.0.0.1, for as long as the test.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "explorer/service.hpp"
#include "http_client.hpp"

// A service serving on its own thread until the end of the test.
// A service serving on its own thread until the end of the test; its requests come from 127.0.0.1, or
// from the loopback address given.
struct Running {
  muller::explorer::Explorer explorer;
  std::thread thread;
  explicit Running(const muller::explorer::ExplorerSettings& settings = {}) : explorer(settings) {
    EXPECT_EQ(explorer.bind("127.0.0.1", 0), "");
    thread = std::thread([this] { explorer.serve(); });
  }
  ~Running() {
    explorer.stop();
    thread.join();
  }
  Running(const Running&) = delete;
  Running& operator=(const Running&) = delete;
  std::optional<Reply> get(const std::string& target, const std::string& method = "GET",
                           const std::string& headers = "", std::uint32_t from = INADDR_ANY) const {
    return request(explorer.port(), target, method, headers, from);
  }
  // The same, for a test that goes on with a failed request as with an answer of status 0.
  Reply reply(const std::string& target, const std::string& method = "GET", const std::string& headers = "",
              std::uint32_t from = INADDR_ANY) const {
    const std::optional<Reply> r = get(target, method, headers, from);
    EXPECT_TRUE(r) << method << " " << target;
    return r.value_or(Reply{});
  }
};

inline muller::explorer::ExplorerSettings settings(int threads, std::size_t cache_bytes,
                                                   std::size_t waiting_tiles,
                                                   std::function<void()> before_drawing = {}) {
  muller::explorer::ExplorerSettings s;
  s.threads = threads;
  s.cache_bytes = cache_bytes;
  s.waiting_tiles = waiting_tiles;
  s.before_drawing = std::move(before_drawing);
  return s;
}
