// The explorer's tiles: drawn once however many ask for them, kept in memory within a budget, least
// recently used first out, and drawn one at a time with all the drawing threads.
#pragma once

#include <atomic>
#include <complex>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "explorer/service.hpp"
#include "map/outcome.hpp"

namespace muller::explorer {

// A tile by what it depends on: its place, x0 and the polynomial.
struct TileKey {
  int level = 0;
  long long column = 0;
  long long row = 0;
  std::uint64_t x0_re =
      0;  // the bits of x0's parts, so that -0 and 0 are told apart as the search tells them
  std::uint64_t x0_im = 0;
  std::string polynomial;  // Asked::key
  search::Method method = search::Method::muller;
  bool operator==(const TileKey& o) const {
    return level == o.level && column == o.column && row == o.row && x0_re == o.x0_re && x0_im == o.x0_im &&
           polynomial == o.polynomial && method == o.method;
  }
  std::complex<double> x0() const;
};

struct TileKeyHash {
  std::size_t operator()(const TileKey& k) const;
};

// A drawn tile. An empty png marks a tile that could not be drawn (no memory).
struct Tile {
  std::string png;
};

// What a request parked for a tile is given once the tile is drawn, or null if it will not be.
using Waiter = std::function<void(std::shared_ptr<const Tile>)>;

// Drawn tiles in memory, and the tiles being or waiting to be drawn with the requests that wait for
// them. One thread draws, one tile at a time with every drawing thread: a tile then comes as soon as
// it can, and the next one in line is not slowed by the others. The tiles waiting are kept by the
// address of the client that asked first, and the clients are served in turn, a tile each: however many
// one client asks for, another's tile waits for at most one of them to be drawn (beside the one in
// hand), and each client may have only so many waiting.
class Tiles {
 public:
  explicit Tiles(const ExplorerSettings& s);
  ~Tiles();
  Tiles(const Tiles&) = delete;
  Tiles& operator=(const Tiles&) = delete;

  enum class Found { ready, parked, busy };

  // The tile if it is in memory, or null.
  std::shared_ptr<const Tile> cached(const TileKey& key);

  // The tile if it is in memory; else the waiter is kept until the tile, of polynomial (null for
  // z^4 + 1), is drawn, in client's turn if no one asked for it before; busy when too many tiles wait
  // already, in all or from client, or the service is stopping.
  Found find(const TileKey& key, const std::shared_ptr<const map::MapPolynomial>& polynomial,
             std::shared_ptr<const Tile>& tile, const Waiter& waiter, const std::string& client);

  // Tiles not yet begun are given up (their requests refused); the one being drawn is finished.
  void stop();

  long long renders() const { return renders_.load(); }
  long long waiting();

 private:
  struct Job {
    TileKey key;
    std::shared_ptr<const map::MapPolynomial> polynomial;
  };

  void run();
  std::shared_ptr<const Tile> draw_tile(const Job& job) const;
  void keep(const TileKey& key, const std::shared_ptr<const Tile>& tile);

  const int threads_;
  const std::size_t budget_;
  const std::size_t waiting_limit_;
  const std::size_t client_limit_;
  const std::function<void()> before_drawing_;
  const std::function<std::string()> draw_instead_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::list<std::pair<TileKey, std::shared_ptr<const Tile>>> lru_;  // most recently used first
  std::unordered_map<TileKey, decltype(lru_)::iterator, TileKeyHash> index_;
  std::size_t bytes_ = 0;
  std::unordered_map<std::string, std::deque<Job>> queues_;  // by client, in the order asked
  std::deque<std::string> turns_;                            // clients with tiles waiting, next first
  std::size_t queued_ = 0;                                   // tiles in queues_
  std::unordered_map<TileKey, std::vector<Waiter>, TileKeyHash> waiters_;
  long long waiting_ = 0;  // requests in waiters_
  std::atomic<long long> renders_{0};
  std::thread drawer_;  // last: it starts once everything above is ready
};

}  // namespace muller::explorer
