// The map drawn in parallel over pixel rows, a band at a time.
#include "map/draw.hpp"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <new>
#include <utility>

#include "map/palette.hpp"
#include "map/thread.hpp"
#ifdef MULLER_VECTOR
#include "map/kernel/kernel.hpp"
#endif
#if MULLER_THREADS
#include <future>
#include <system_error>
#include <thread>
#endif

namespace muller::map {

const char* vector_instructions() {
#ifdef MULLER_VECTOR
  return vector_target();
#else
  return nullptr;
#endif
}

namespace {

void add(Tally& total, const Tally& t) {
  for (std::size_t e = 0; e < total.ends.size(); ++e) {
    total.ends[e] += t.ends[e];
  }
  total.rows += t.rows;
  total.lane_steps += t.lane_steps;
  total.ruled_steps += t.ruled_steps;
}

}  // namespace

Tally draw(const Window& window, std::vector<std::uint8_t>& rgb, int threads, std::atomic<int>& rows_done,
           Path path) {
  [[maybe_unused]] const bool vector = path == Path::vector && vector_instructions() != nullptr;
  const MapPolynomial* const polynomial = window.polynomial.get();
  const int classes = polynomial != nullptr ? static_cast<int>(polynomial->classes.centres.size()) : 4;
  const std::size_t width = window.re.size();
  const int height = static_cast<int>(window.im.size());
  rgb.resize(width * window.im.size() * 3);  // every pixel is written below: no fill first
  std::atomic<int> next_row{0};
  const int usable = MULLER_THREADS ? threads : 1;  // without threads, the calling one draws every row
  std::vector<Tally> tallies(static_cast<std::size_t>(std::max(1, std::min(usable, height))));
  auto work = [&](Tally& total) {
    Tally tally;  // kept apart until the end, so that threads do not write one cache line by turns
#ifdef MULLER_VECTOR
    if (vector) {
      draw_rows_vector(window, next_row, rgb.data(), tally, rows_done);
      total = tally;
      return;
    }
#endif
    for (int i; (i = next_row.fetch_add(1)) < height;) {
      const double im = window.im[static_cast<std::size_t>(i)];
      std::uint8_t* pixel = rgb.data() + static_cast<std::size_t>(i) * width * 3;
      for (std::size_t j = 0; j < width; ++j, pixel += 3) {
        const std::complex<double> x1(window.re[j], im);
        const Outcome o = polynomial != nullptr ? outcome(window.method, *polynomial, window.x0, x1)
                                                : outcome(window.method, window.x0, x1);
        ++tally.ends[static_cast<std::size_t>(o.end)];
        tally.rows += o.rows;
        const std::array<std::uint8_t, 3> c = colour(o, classes);
        pixel[0] = c[0];
        pixel[1] = c[1];
        pixel[2] = c[2];
      }
      rows_done.fetch_add(1, std::memory_order_relaxed);
    }
    total = tally;
  };
  int started = 1;  // the calling thread
#if MULLER_THREADS
  // A thread that finds no memory for its buffers ends the rows for every thread, and once all have
  // stopped, the calling thread throws it on: an exception must not leave a thread (that ends the
  // program), nor the calling thread while the others still draw into rgb.
  std::atomic<bool> no_memory{false};
  auto guarded = [&](Tally& total) {
    try {
      work(total);
    } catch (const std::bad_alloc&) {
      no_memory = true;
      next_row = height;
    }
  };
  std::vector<std::thread> workers;
  workers.reserve(tallies.size() - 1);
  for (std::size_t t = 1; t < tallies.size(); ++t) {
    try {
      workers.emplace_back(guarded, std::ref(tallies[t]));
    } catch (const std::system_error&) {
      break;  // no memory for another stack, or a limit on processes: the others take its rows
    }
  }
  guarded(tallies[0]);
  for (std::thread& w : workers) {
    w.join();
  }
  started += static_cast<int>(workers.size());
  if (no_memory) {
    throw std::bad_alloc();
  }
#else
  work(tallies[0]);
#endif
  Tally total;
  total.threads = started;
  for (const Tally& t : tallies) {
    add(total, t);
  }
  return total;
}

std::optional<Tally> draw_in_bands(const Window& window, int band_rows, int threads,
                                   std::atomic<int>& rows_done, Path path,
                                   const std::function<bool(const std::uint8_t* rgb, int rows)>& take) {
  const int height = static_cast<int>(window.im.size());
  std::vector<std::uint8_t> bands[2];  // one drawn while the other is taken
#if MULLER_THREADS
  std::future<bool> taken;  // the band handed over last
  // However this function ends (a band that found no memory included), the band being taken is not
  // freed under the thread taking it.
  struct Wait {
    std::future<bool>& f;
    ~Wait() {
      if (f.valid()) {
        f.wait();
      }
    }
  } wait{taken};
#endif
  Window band{window.x0, window.re, {}, window.polynomial, window.method};
  Tally total;
  for (int first = 0, b = 0; first < height; first += band_rows, b ^= 1) {
    const auto begin = window.im.begin() + first;
    band.im.assign(begin, begin + std::min(band_rows, height - first));
    const Tally t = draw(band, bands[b], threads, rows_done, path);
    add(total, t);
    total.threads = std::max(total.threads, t.threads);
    const std::uint8_t* rgb = bands[b].data();
    const int rows = static_cast<int>(band.im.size());
#if MULLER_THREADS
    if (taken.valid() && !taken.get()) {
      return std::nullopt;
    }
    taken = start_thread([&take, rgb, rows] { return take(rgb, rows); });
    if (!taken.valid() && !take(rgb, rows)) {  // no thread for it: taken here, before the next band
      return std::nullopt;
    }
#else
    if (!take(rgb, rows)) {  // no threads: taken here, before the next band is drawn
      return std::nullopt;
    }
#endif
  }
#if MULLER_THREADS
  if (taken.valid() && !taken.get()) {
    return std::nullopt;
  }
#endif
  return total;
}

}  // namespace muller::map
