// The explorer's tiles: the cache, the queue of tiles to draw and the thread that draws them.
#include "explorer/tiles.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "explorer/hash.hpp"
#include "map/draw.hpp"
#include "map/png.hpp"
#include "map/window.hpp"

namespace muller::explorer {

namespace {

// What a tile takes of the budget: each of its allocations as the allocator rounds it (a 16-byte header
// and alignment, 32 bytes at least): its bytes, the shared Tile with its count, the list's node, the
// index's node and its bucket.
std::size_t footprint(const TileKey& key, const Tile& tile) {
  const auto allocated = [](std::size_t n) { return std::max<std::size_t>(32, (n + 8 + 15) / 16 * 16); };
  using Node = std::pair<TileKey, std::shared_ptr<const Tile>>;
  // The key is kept twice, in the list and in the index; a long polynomial's text is allocated.
  const std::size_t text =
      key.polynomial.capacity() > std::string().capacity() ? allocated(key.polynomial.capacity() + 1) : 0;
  return 2 * text + allocated(tile.png.capacity() + 1) + allocated(sizeof(Tile) + 16) +
         allocated(sizeof(Node) + 16) + allocated(sizeof(TileKey) + 3 * sizeof(void*)) + sizeof(void*);
}

}  // namespace

std::complex<double> TileKey::x0() const {
  double re = 0;
  double im = 0;
  std::memcpy(&re, &x0_re, sizeof re);
  std::memcpy(&im, &x0_im, sizeof im);
  return {re, im};
}

std::size_t TileKeyHash::operator()(const TileKey& k) const {
  std::uint64_t h = fnv_basis;
  for (const std::uint64_t v :
       {static_cast<std::uint64_t>(k.level), static_cast<std::uint64_t>(k.column),
        static_cast<std::uint64_t>(k.row), k.x0_re, k.x0_im, static_cast<std::uint64_t>(k.method)}) {
    h = fnv_step(h, v);
  }
  for (const char c : k.polynomial) {
    h = fnv_step(h, static_cast<unsigned char>(c));
  }
  return static_cast<std::size_t>(h ^ (h >> 32));
}

Tiles::Tiles(const ExplorerSettings& s)
    : threads_(s.threads),
      budget_(s.cache_bytes),
      waiting_limit_(s.waiting_tiles),
      client_limit_(s.waiting_per_client),
      before_drawing_(s.before_drawing),
      draw_instead_(s.draw_instead),
      drawer_([this] { run(); }) {}

Tiles::~Tiles() {
  stop();
  drawer_.join();
}

std::shared_ptr<const Tile> Tiles::cached(const TileKey& key) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = index_.find(key);
  if (found == index_.end()) {
    return nullptr;
  }
  lru_.splice(lru_.begin(), lru_, found->second);
  return found->second->second;
}

Tiles::Found Tiles::find(const TileKey& key, const std::shared_ptr<const map::MapPolynomial>& polynomial,
                         std::shared_ptr<const Tile>& tile, const Waiter& waiter, const std::string& client) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto cached = index_.find(key);
  if (cached != index_.end()) {
    tile = cached->second->second;
    return Found::ready;
  }
  const auto drawing = waiters_.find(key);
  if (drawing != waiters_.end()) {
    drawing->second.push_back(waiter);
    ++waiting_;
    return Found::parked;
  }
  const auto mine = queues_.find(client);
  const std::size_t queued = mine == queues_.end() ? 0 : mine->second.size();
  if (stopping_ || queued_ >= waiting_limit_ || queued >= client_limit_) {
    return Found::busy;
  }
  if (queued == 0) {
    turns_.push_back(client);
  }
  queues_[client].push_back({key, polynomial});
  ++queued_;
  waiters_[key].push_back(waiter);
  ++waiting_;
  wake_.notify_one();
  return Found::parked;
}

void Tiles::stop() {
  std::vector<Waiter> cancelled;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) {
      return;
    }
    stopping_ = true;
    for (const auto& [client, jobs] : queues_) {
      for (const Job& job : jobs) {
        const TileKey& key = job.key;
        for (const Waiter& w : waiters_[key]) {
          cancelled.push_back(w);
        }
        waiting_ -= static_cast<long long>(waiters_[key].size());
        waiters_.erase(key);
      }
    }
    queues_.clear();
    turns_.clear();
    queued_ = 0;
  }
  wake_.notify_one();
  for (const Waiter& w : cancelled) {
    w(nullptr);
  }
}

long long Tiles::waiting() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return waiting_;
}

void Tiles::run() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !turns_.empty(); });
      if (turns_.empty()) {
        return;
      }
      // The next client's first tile; the client goes to the back of the line if it has more.
      const std::string client = std::move(turns_.front());
      turns_.pop_front();
      const auto mine = queues_.find(client);
      job = std::move(mine->second.front());
      mine->second.pop_front();
      --queued_;
      if (mine->second.empty()) {
        queues_.erase(mine);
      } else {
        turns_.push_back(client);
      }
    }
    if (before_drawing_) {
      before_drawing_();
    }
    const TileKey& key = job.key;
    const std::shared_ptr<const Tile> tile = draw_tile(job);
    std::vector<Waiter> waiting;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      waiting.swap(waiters_[key]);
      waiters_.erase(key);
      waiting_ -= static_cast<long long>(waiting.size());
      if (!tile->png.empty()) {
        keep(key, tile);
      }
    }
    renders_.fetch_add(1);
    for (const Waiter& w : waiting) {
      w(tile);
    }
  }
}

std::shared_ptr<const Tile> Tiles::draw_tile(const Job& job) const {
  auto drawn = std::make_shared<Tile>();
  try {
    if (draw_instead_) {
      drawn->png = draw_instead_();
      return drawn;
    }
    const TileKey& key = job.key;
    map::Window window = map::tile(key.level, key.column, key.row, key.x0());
    window.polynomial = job.polynomial;
    window.method = key.method;
    std::vector<std::uint8_t> rgb;
    std::atomic<int> rows_done{0};
    map::draw(window, rgb, threads_, rows_done);
    if (!map::encode_png(drawn->png, rgb.data(), map::tile_size, map::tile_size)) {
      drawn->png.clear();
    }
    drawn->png.shrink_to_fit();  // kept for long: the encoder's spare capacity would count for nothing
  } catch (const std::bad_alloc&) {
    drawn->png.clear();
  }
  return drawn;
}

// Into memory, with the least recently used tiles leaving to stay within the budget.
void Tiles::keep(const TileKey& key, const std::shared_ptr<const Tile>& tile) {
  const std::size_t size = footprint(key, *tile);
  if (size > budget_) {
    return;
  }
  lru_.emplace_front(key, tile);
  index_[key] = lru_.begin();
  bytes_ += size;
  while (bytes_ > budget_) {
    bytes_ -= footprint(lru_.back().first, *lru_.back().second);
    index_.erase(lru_.back().first);
    lru_.pop_back();
  }
}

}  // namespace muller::explorer
