// The map of where the search leads, computed in parallel over pixel rows.
#include "basins.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <future>
#include <system_error>
#include <thread>
#include <utility>

#include "search.hpp"
#ifdef MULLER_VECTOR
#include "basins_kernel.hpp"
#endif

namespace {

// The search over p from x0 and x1, its finite converged end named by zero_of.
template <class P, class ZeroOf>
Outcome outcome_over(P p, std::complex<double> x0, std::complex<double> x1, ZeroOf zero_of) {
  int rows = 0;
  std::complex<double> end;
  std::complex<double> residual;
  const bool converged = search_over(p, x0, x1, [&](int k, std::complex<double> x, std::complex<double> fx) {
    rows = k;
    end = x;
    residual = fx;
  });
  if (!converged) {
    return {End::gave_up, rows};
  }
  if (!finite_end(end, residual)) {
    return {End::non_finite, rows};
  }
  return {zero_of(end), rows};
}

}  // namespace

Outcome outcome(std::complex<double> x0, std::complex<double> x1) {
  return outcome_over([](std::complex<double> z) { return f(z); }, x0, x1,
                      [](std::complex<double> end) {
                        const bool right = end.real() > 0;
                        if (end.imag() > 0) {
                          return right ? End::upper_right : End::upper_left;
                        }
                        return right ? End::lower_right : End::lower_left;
                      });
}

MapPolynomial map_polynomial(Polynomial p) {
  RootClasses classes = classify(p);
  return {std::move(p), std::move(classes)};
}

Outcome outcome(const MapPolynomial& p, std::complex<double> x0, std::complex<double> x1) {
  return outcome_over([&p](std::complex<double> z) { return evaluate(p.p, z); }, x0, x1,
                      [&p](std::complex<double> end) { return zero_class(nearest_class(p.classes, end)); });
}

// radius * (2j - (size - 1)) / (size - 1) is -radius + 2 radius j / (size - 1) rearranged so that mirrored
// pixels get exactly opposite parts (the integer factor changes sign exactly, and rounding is
// symmetric), an odd size puts exactly 0 at the centre, and size 257 puts exactly +-1 +- i on pixels.
// When radius times the factor would overflow (a radius within a factor of SIZE of the largest double),
// the factor is divided first: it is then at most 1 in magnitude, and still exactly mirrored. The
// default square never takes that branch, so its points keep their bits. Adding a zero centre changes
// no offset (none is -0), and so no bit either.
namespace {

double grid_offset(int k, int size, double radius) {
  const double last = size - 1;
  const double factor = 2 * k - (size - 1);
  if (std::isfinite(radius * last)) {
    return radius * factor / last;
  }
  return radius * (factor / last);
}

}  // namespace

std::complex<double> grid_point(int i, int j, int size, double radius, std::complex<double> centre) {
  return {centre.real() + grid_offset(j, size, radius), centre.imag() - grid_offset(i, size, radius)};
}

bool square_fits(double radius, std::complex<double> centre) {
  const double re = std::abs(centre.real());
  const double im = std::abs(centre.imag());
  return std::isfinite(radius) && std::isfinite(re + radius) && std::isfinite(im + radius);
}

Window square(int size, double radius, std::complex<double> centre, std::complex<double> x0) {
  Window w{x0, std::vector<double>(static_cast<std::size_t>(size)),
           std::vector<double>(static_cast<std::size_t>(size))};
  for (int k = 0; k < size; ++k) {
    w.re[static_cast<std::size_t>(k)] = grid_point(0, k, size, radius, centre).real();
    w.im[static_cast<std::size_t>(k)] = grid_point(k, 0, size, radius, centre).imag();
  }
  return w;
}

// -2 + n 2^-(6 + level) is exact (a multiple of 2^-51 at most within [-2, 2)), and so is adding the half
// pixel 2^-(7 + level) down to deepest_level, where the odd multiples of 2^-52 below 2 are still doubles.
Window tile(int level, long long column, long long row, std::complex<double> x0) {
  const double pixel = std::ldexp(1.0, -6 - level);
  const double half = std::ldexp(1.0, -7 - level);
  Window w{x0, std::vector<double>(tile_size), std::vector<double>(tile_size)};
  for (int k = 0; k < tile_size; ++k) {
    w.re[static_cast<std::size_t>(k)] = -2.0 + static_cast<double>(column * tile_size + k) * pixel + half;
    w.im[static_cast<std::size_t>(k)] = 2.0 - static_cast<double>(row * tile_size + k) * pixel - half;
  }
  return w;
}

std::array<std::uint8_t, 3> colour(Outcome o, int classes) {
  // Orange, sky blue, bluish green and reddish purple, then the rest of Okabe and Ito's set but black:
  // yellow, blue and vermillion.
  static constexpr std::uint8_t hues[7][3] = {{230, 159, 0},  {86, 180, 233}, {0, 158, 115}, {204, 121, 167},
                                              {240, 228, 66}, {0, 114, 178},  {213, 94, 0}};
  // scripts/palette: golden-angle hues in OKLCH, lightness cycling over three levels.
  static constexpr std::uint8_t many[20][3] = {
      {254, 134, 116}, {1, 151, 113},  {226, 204, 255}, {220, 163, 23},  {2, 143, 173},
      {255, 197, 216}, {131, 195, 93}, {99, 119, 217},  {255, 203, 174}, {7, 200, 188},
      {172, 93, 177},  {234, 219, 88}, {71, 184, 255},  {202, 84, 94},   {124, 245, 172},
      {177, 156, 255}, {176, 112, 3},  {108, 237, 255}, {240, 132, 195}, {113, 141, 2},
  };
  const int k = static_cast<int>(o.end);
  if (k >= std::max(classes, 4) || k >= max_degree) {
    return {0, 0, 0};  // gave up, not finite (or no class of this map)
  }
  // Full brightness up to 5 rows, then darker by a twentieth of it a row, down to a quarter from 21 rows
  // on: most searches take 6 to 15 rows, and that is where the shades tell them apart. Integer
  // arithmetic, so that every machine draws the same bytes.
  const int shade = o.rows <= 5 ? 256 : o.rows >= 21 ? 64 : 256 - (o.rows - 5) * 12;
  const std::uint8_t* hue = classes <= 7 ? hues[k] : many[k];
  return {static_cast<std::uint8_t>(hue[0] * shade / 256), static_cast<std::uint8_t>(hue[1] * shade / 256),
          static_cast<std::uint8_t>(hue[2] * shade / 256)};
}

std::string class_label(std::complex<double> centre) {
  char label[64];
  // + 0.0 writes a -0 part as 0: a class's point is not a search's end, and has no sign of zero to show.
  std::snprintf(label, sizeof label, "(%.10g,%.10g)", centre.real() + 0.0, centre.imag() + 0.0);
  return label;
}

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
  total.redone += t.redone;
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
  std::vector<Tally> tallies(static_cast<std::size_t>(std::max(1, std::min(threads, height))));
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
        const Outcome o =
            polynomial != nullptr ? outcome(*polynomial, window.x0, x1) : outcome(window.x0, x1);
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
  std::vector<std::thread> workers;
  workers.reserve(tallies.size() - 1);
  for (std::size_t t = 1; t < tallies.size(); ++t) {
    try {
      workers.emplace_back(work, std::ref(tallies[t]));
    } catch (const std::system_error&) {
      break;  // no memory for another stack, or a limit on processes: the others take its rows
    }
  }
  work(tallies[0]);
  for (std::thread& w : workers) {
    w.join();
  }
  Tally total;
  total.threads = static_cast<int>(workers.size()) + 1;
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
  std::future<bool> taken;             // the band handed over last
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
  Window band{window.x0, window.re, {}, window.polynomial};
  Tally total;
  for (int first = 0, b = 0; first < height; first += band_rows, b ^= 1) {
    const auto begin = window.im.begin() + first;
    band.im.assign(begin, begin + std::min(band_rows, height - first));
    const Tally t = draw(band, bands[b], threads, rows_done, path);
    add(total, t);
    total.threads = std::max(total.threads, t.threads);
    if (taken.valid() && !taken.get()) {
      return std::nullopt;
    }
    const std::uint8_t* rgb = bands[b].data();
    const int rows = static_cast<int>(band.im.size());
    taken = start_thread([&take, rgb, rows] { return take(rgb, rows); });
    if (!taken.valid() && !take(rgb, rows)) {  // no thread for it: taken here, before the next band
      return std::nullopt;
    }
  }
  if (taken.valid() && !taken.get()) {
    return std::nullopt;
  }
  return total;
}
