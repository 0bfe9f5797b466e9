// The map on the vector units (see kernel.hpp): one source, compiled by Highway for each instruction set
// the build targets, the best one the processor runs chosen at run time.
//
// A search is a serial chain of divisions and square roots, so one search leaves a core's vector units
// idle. Here each lane follows its own search, kLanes of them side by side (several hardware vectors
// together, to hide the latency of division and square root), and a lane whose search ends takes the
// next pixel. The lanes' arithmetic (lanes-inl.h) and their search (search-inl.h) compute what the scalar
// search computes on its plain path, bit for bit; for a hardware vector with a lane whose values leave
// that path (an overflow, an infinity, a NaN), the step is taken again on every value by the ruled
// arithmetic of total-inl.h, which follows the scalar search there too, so every pixel is the scalar map's.
#include "map/kernel/kernel.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "map/draw.hpp"
#include "map/kernel/targets.h"
#include "map/palette.hpp"
#include "search/methods.hpp"
#include "search/problem.hpp"
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "map/kernel/kernel.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "map/kernel/lanes-inl.h"
#include "map/kernel/search-inl.h"

HWY_BEFORE_NAMESPACE();
namespace muller::map::kernel {
namespace HWY_NAMESPACE {

// ---- The lanes and the rows they draw.

// What happens to a pixel after its first row: its search goes on in a lane, or it ended there.
enum class Start : std::uint8_t { goes_on, converged_at_once };

// The secant rows of a stretch of one pixel row, computed ahead of the lanes that take its pixels.
struct Row {
  int i = -1;
  std::size_t first = 0;  // the stretch's first column
  std::vector<double> f1re, f1im, x2re, x2im, f2re, f2im;
  std::vector<Start> start;
};

// The lanes drawing rows by the window's method: Muller's keeps three points a lane, the secant two,
// Newton's and Halley's one (with the derivatives they evaluate there). One drawer for the four, the
// method chosen at each step: a drawer a method took four times as long to compile, for nothing a
// well-predicted branch a step does not give.
class Drawer {
 public:
  Drawer(const Window& window, std::atomic<int>& next_row, std::uint8_t* rgb, Tally& tally,
         std::atomic<int>& rows_done)
      : window_(window),
        next_row_(next_row),
        rgb_(rgb),
        tally_(tally),
        rows_done_(rows_done),
        width_(window.re.size()),
        height_(static_cast<int>(window.im.size())),
        polynomial_(window.polynomial.get()),
        method_(window.method),
        problem_(polynomial_ != nullptr ? &polynomial_->p : nullptr),
        f0_(polynomial_ != nullptr ? search::evaluate_scaled(polynomial_->p, window.x0)
                                   : search::f(window.x0)),
        remaining_(window.im.size(), 0) {
    const int classes = polynomial_ != nullptr ? static_cast<int>(polynomial_->classes.centres.size()) : 4;
    for (int end = 0; end < end_kinds; ++end) {
      for (int rows = 0; rows <= search::numiter; ++rows) {
        colours_[colour_index(static_cast<End>(end), rows)] = colour({static_cast<End>(end), rows}, classes);
      }
    }
  }

  void run() {
    std::size_t active = 0;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      active += fill(lane) ? 1 : 0;
    }
    while (active > 0) {
      std::uint64_t stopping = 0;
      step(stopping);
      ++steps_;
      // Only the lanes whose search left or stopped, and every lane once the oldest search may have
      // reached its last row, are looked at: a scan of every lane each step mispredicts its branches.
      const bool deadline = steps_ >= deadline_;
      std::uint64_t due = stopping | (deadline ? all_lanes : 0);
      for (; due != 0; due &= due - 1) {
        const auto lane = static_cast<std::size_t>(hwy::Num0BitsBelowLS1Bit_Nonzero64(due));
        if (settled(lane, stopping) && !fill(lane)) {
          --active;
        }
      }
      if (deadline) {
        next_deadline();
      }
    }
    tally_.lane_steps += steps_ * static_cast<long long>(kLanes);
    tally_.ruled_steps += ruled_vectors_ * static_cast<long long>(hn::Lanes(Tag()));
  }

 private:
  // Finishes the lane's pixel if its search left the lanes, stopped, or wrote its last row; whether it
  // did. A lane without a pixel has nothing to finish.
  bool settled(std::size_t lane, std::uint64_t stopping) {
    if (pixel_[lane] < 0) {
      return false;
    }
    const int rows = 1 + static_cast<int>(steps_ - born_[lane]);
    const std::uint64_t bit = std::uint64_t{1} << lane;
    if ((stopping & bit) != 0) {
      finish(row_of_[lane], pixel_[lane],
             ended({x_[2].re[lane], x_[2].im[lane]}, {f_[2].re[lane], f_[2].im[lane]}, rows));
    } else if (rows + 1 >= search::numiter) {
      finish(row_of_[lane], pixel_[lane], {End::gave_up, rows});
    } else {
      return false;
    }
    return true;
  }

  void next_deadline() {
    deadline_ = no_deadline;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
      if (pixel_[lane] >= 0) {
        deadline_ = std::min(deadline_, born_[lane] + (search::numiter - 2));
      }
    }
  }

  // Parts of complex values, a lane each.
  struct Parts {
    alignas(64) std::array<double, kLanes> re;
    alignas(64) std::array<double, kLanes> im;
  };

  static Z load(const Parts& p) { return {LoadW(p.re.data()), LoadW(p.im.data())}; }
  static void store(const Z& z, Parts& p) {
    StoreW(z.re, p.re.data());
    StoreW(z.im, p.im.data());
  }

  // One step of the method in every lane, the points and values shifted as the scalar search shifts
  // them; the lanes where the search stops are set in stopping. The plain step first (lanes-inl.h); a
  // lane it cannot vouch for is computed on every value (total-inl.h). Not inlined, so that
  // bench/roofline finds its instructions by name; a call a step costs nothing beside it.
  HWY_NOINLINE void step(std::uint64_t& stopping) {
    WM off = None();
    const Z x1 = load(x_[1]);
    const Z x2 = load(x_[2]);
    const Z f1 = load(f_[1]);
    const Z f2 = load(f_[2]);
    Z x3;
    switch (method_) {
      case search::Method::muller:
        x3 = MullerStep(load(x_[0]), x1, x2, load(f_[0]), f1, f2, off);
        break;
      case search::Method::secant:
        x3 = SecantStep(x1, x2, f1, f2, off);
        break;
      default:
        x3 = next_from(x2, f2, off);
        break;
    }
    Z f3 = problem_.P(x3);
    off = off | Not(IsFinite(f3));
    WM stops = Stops(x2, x3, f3, off);
    if (!AllFalse(off)) {
      // What the plain lanes could not vouch for, on every value: the same bits as the scalar search,
      // for the hardware vectors that have such a lane.
      const Z x0 = load(x_[0]);
      const Z f0 = load(f_[0]);
      for (std::size_t u = 0; u < kVectors; ++u) {
        if (hn::AllFalse(Tag(), off.m[u])) {
          continue;
        }
        ++ruled_vectors_;
        const total::Z1 x3_all = step_ruled(total::Part(x0, u), total::Part(x1, u), total::Part(x2, u),
                                            total::Part(f0, u), total::Part(f1, u), total::Part(f2, u));
        const total::Z1 f3_all = problem_.PRuled(x3_all);
        total::Put(x3, u, off.m[u], x3_all);
        total::Put(f3, u, off.m[u], f3_all);
        const M stops_all = StopsRuled(total::Part(x2, u), x3_all, f3_all);
        stops.m[u] = hn::Or(hn::And(off.m[u], stops_all), hn::AndNot(off.m[u], stops.m[u]));
      }
    }
    store(x1, x_[0]);
    store(x2, x_[1]);
    store(x3, x_[2]);
    store(f1, f_[0]);
    store(f2, f_[1]);
    store(f3, f_[2]);
    stopping = MaskBits(stops);
  }

  // The method's step on one vector, on every value (total-inl.h), for the lanes the plain step could
  // not vouch for.
  total::Z1 step_ruled(const total::Z1& x0, const total::Z1& x1, const total::Z1& x2, const total::Z1& f0,
                       const total::Z1& f1, const total::Z1& f2) const {
    switch (method_) {
      case search::Method::muller:
        return MullerStepRuled(x0, x1, x2, f0, f1, f2);
      case search::Method::secant:
        return SecantStepRuled(x1, x2, f1, f2);
      default:
        return next_from_ruled(x2, f2);
    }
  }

  // Newton's or Halley's next point from x, where p is fx, on one vector, on every value.
  total::Z1 next_from_ruled(const total::Z1& x, const total::Z1& fx) const {
    if (method_ == search::Method::newton) {
      return NewtonStepRuled(x, fx, problem_.DRuled(x));
    }
    return HalleyStepRuled(x, fx, problem_.DRuled(x), problem_.DDRuled(x));
  }

  // A search's first row from its start points, for a stretch of pixels at a time: not inlined, as it
  // is not taken a step but once a pixel, and inlining each method's into start_stretch doubled the time
  // the kernel took to compile.
  HWY_NOINLINE Z first_step(const Z& x0, const Z& x1, const Z& f0, const Z& f1, WM& off) const {
    if (method_ == search::Method::secant || method_ == search::Method::muller) {
      return SecantStep(x0, x1, f0, f1, off);
    }
    return next_from(x1, f1, off);
  }

  // Newton's or Halley's next point from x, where p is fx.
  HWY_INLINE Z next_from(const Z& x, const Z& fx, WM& off) const {
    if (method_ == search::Method::newton) {
      return NewtonStep(x, fx, problem_.D(x), off);
    }
    return HalleyStep(x, fx, problem_.D(x), problem_.DD(x), off);
  }

  // Gives the lane the next pixel whose search goes on past its secant row, finishing on the way those
  // that do not; false when no row is left, and the lane then computes a harmless search for nothing.
  bool fill(std::size_t lane) {
    for (;;) {
      if (row_.i >= 0 && next_column_ < width_) {
        const std::size_t j = next_column_++;
        if (j == row_.first + stretch) {
          start_stretch(j);
        }
        const std::size_t k = j - row_.first;
        if (row_.start[k] == Start::converged_at_once) {
          finish(row_.i, static_cast<int>(j),
                 ended({row_.x2re[k], row_.x2im[k]}, {row_.f2re[k], row_.f2im[k]}, 1));
          continue;
        }
        set(lane, window_.x0, {window_.re[j], window_.im[static_cast<std::size_t>(row_.i)]}, f0_,
            {row_.f1re[k], row_.f1im[k]}, {row_.x2re[k], row_.x2im[k]}, {row_.f2re[k], row_.f2im[k]});
        pixel_[lane] = static_cast<int>(j);
        row_of_[lane] = row_.i;
        born_[lane] = steps_;
        deadline_ = std::min(deadline_, steps_ + (search::numiter - 2));
        return true;
      }
      const int i = next_row_.fetch_add(1);
      if (i >= height_) {
        row_.i = -1;
        pixel_[lane] = -1;
        // The first search of the report, at its second row: finite and tame, whatever it becomes.
        set(lane, {0, 0}, {1, 1}, {1, 0}, {-3, 0}, {0.25, 0.25}, {0.984375, 0});
        return false;
      }
      start_row(i);
    }
  }

  void set(std::size_t lane, std::complex<double> x0, std::complex<double> x1, std::complex<double> f0,
           std::complex<double> f1, std::complex<double> x2, std::complex<double> f2) {
    const std::complex<double> values[2][3] = {{x0, x1, x2}, {f0, f1, f2}};
    for (int k = 0; k < 3; ++k) {
      x_[k].re[lane] = values[0][k].real();
      x_[k].im[lane] = values[0][k].imag();
      f_[k].re[lane] = values[1][k].real();
      f_[k].im[lane] = values[1][k].imag();
    }
  }

  void start_row(int i) {
    row_.i = i;
    next_column_ = 0;
    remaining_[static_cast<std::size_t>(i)] = static_cast<int>(width_);
    start_stretch(0);
  }

  // The secant rows of the current row from column first on, for at most `stretch` columns, a vector of
  // pixels at a time: the secant step and the convergence test after it. A stretch
  // and not the whole row, so that a row of any width needs no more memory.
  void start_stretch(std::size_t first) {
    row_.first = first;
    const std::size_t count = std::min(stretch, width_ - first);
    const std::size_t padded = (count + kLanes - 1) / kLanes * kLanes;
    for (std::vector<double>* v : {&row_.f1re, &row_.f1im, &row_.x2re, &row_.x2im, &row_.f2re, &row_.f2im}) {
      v->resize(padded);
    }
    row_.start.resize(padded);
    std::vector<double>& re = column_re_;
    const auto begin = window_.re.begin() + static_cast<std::ptrdiff_t>(first);
    re.assign(begin, begin + static_cast<std::ptrdiff_t>(count));
    re.resize(padded, re.back());
    const Z x0{Splat(window_.x0.real()), Splat(window_.x0.imag())};
    const Z f0{Splat(f0_.real()), Splat(f0_.imag())};
    const W im = Splat(window_.im[static_cast<std::size_t>(row_.i)]);
    alignas(64) std::array<double, kLanes> status{};
    for (std::size_t j = 0; j < padded; j += kLanes) {
      WM off = None();
      const Z x1{LoadW(re.data() + j), im};
      Z f1 = problem_.P(x1);
      Z x2 = first_step(x0, x1, f0, f1, off);
      Z f2 = problem_.P(x2);
      off = off | Not(IsFinite(f2));
      WM stops = Stops(x1, x2, f2, off);
      if (!AllFalse(off)) {
        // What the plain lanes could not vouch for, on every value (see step()).
        for (std::size_t u = 0; u < kVectors; ++u) {
          if (hn::AllFalse(Tag(), off.m[u])) {
            continue;
          }
          const total::Z1 f1_all = problem_.PRuled(total::Part(x1, u));
          const total::Z1 x2_all =
              method_ == search::Method::secant || method_ == search::Method::muller
                  ? SecantStepRuled(total::Part(x0, u), total::Part(x1, u), total::Part(f0, u), f1_all)
                  : next_from_ruled(total::Part(x1, u), f1_all);
          const total::Z1 f2_all = problem_.PRuled(x2_all);
          total::Put(f1, u, off.m[u], f1_all);
          total::Put(x2, u, off.m[u], x2_all);
          total::Put(f2, u, off.m[u], f2_all);
          const M stops_all = StopsRuled(total::Part(x1, u), x2_all, f2_all);
          stops.m[u] = hn::Or(hn::And(off.m[u], stops_all), hn::AndNot(off.m[u], stops.m[u]));
        }
      }
      StoreW(f1.re, row_.f1re.data() + j);
      StoreW(f1.im, row_.f1im.data() + j);
      StoreW(x2.re, row_.x2re.data() + j);
      StoreW(x2.im, row_.x2im.data() + j);
      StoreW(f2.re, row_.f2re.data() + j);
      StoreW(f2.im, row_.f2im.data() + j);
      StoreW(Select(stops, Splat(1.0), Splat(0.0)), status.data());
      for (std::size_t l = 0; l < kLanes; ++l) {
        row_.start[j + l] = status[l] == 1.0 ? Start::converged_at_once : Start::goes_on;
      }
    }
  }

  // How a search that stopped on its row (x, fx) ended, as outcome() classifies it: at the class of zeros
  // nearest x, or non-finite.
  Outcome ended(std::complex<double> x, std::complex<double> fx, int rows) const {
    if (!search::finite_end(x, fx)) {
      return {End::non_finite, rows};
    }
    if (polynomial_ != nullptr) {
      return {zero_class(search::nearest_class(polynomial_->classes, x)), rows};
    }
    return {quadrant(x), rows};
  }

  void finish(int i, int j, Outcome o) {
    const std::array<std::uint8_t, 3>& c = colours_[colour_index(o.end, o.rows)];
    std::uint8_t* pixel = rgb_ + (static_cast<std::size_t>(i) * width_ + static_cast<std::size_t>(j)) * 3;
    pixel[0] = c[0];
    pixel[1] = c[1];
    pixel[2] = c[2];
    ++tally_.ends[static_cast<std::size_t>(o.end)];
    tally_.rows += o.rows;
    if (--remaining_[static_cast<std::size_t>(i)] == 0) {
      rows_done_.fetch_add(1, std::memory_order_relaxed);
    }
  }

  const Window& window_;
  std::atomic<int>& next_row_;
  std::uint8_t* rgb_;
  Tally& tally_;
  std::atomic<int>& rows_done_;
  std::size_t width_;
  int height_;
  const MapPolynomial* polynomial_;  // nothing for z^4 + 1
  const search::Method method_;
  const LaneProblem problem_;
  long long ruled_vectors_ = 0;  // hardware vectors whose step was taken again on every value
  std::complex<double> f0_;
  std::vector<int> remaining_;  // pixels of each row not yet finished
  // colour() of every end and row count, looked up for each pixel instead of computed.
  static constexpr std::size_t colours_per_end = search::numiter + 1;
  static std::size_t colour_index(End end, int rows) {
    return static_cast<std::size_t>(end) * colours_per_end + static_cast<std::size_t>(rows);
  }
  std::array<std::array<std::uint8_t, 3>, std::size_t{end_kinds} * colours_per_end> colours_{};
  static constexpr std::size_t stretch = 4096;  // columns of secant rows computed at a time
  Row row_;                                     // the row lanes take their pixels from
  std::size_t next_column_ = 0;
  std::vector<double> column_re_;
  Parts x_[3];
  Parts f_[3];
  std::array<int, kLanes> pixel_{};   // the lane's column, or -1 for no pixel
  std::array<int, kLanes> row_of_{};  // the lane's row
  // Steps taken, and for each lane the count when its search took it, at its secant row: the search
  // has written 1 + steps_ - born_ rows. deadline_ is the first count at which some lane's search may
  // have reached its last row.
  static constexpr long long no_deadline = std::numeric_limits<long long>::max();
  static constexpr std::uint64_t all_lanes =
      kLanes == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << kLanes) - 1;
  long long steps_ = 0;
  long long deadline_ = no_deadline;
  std::array<long long, kLanes> born_{};
};

int Lanes() { return static_cast<int>(kLanes); }

void DrawRows(const Window& window, std::atomic<int>& next_row, std::uint8_t* rgb, Tally& tally,
              std::atomic<int>& rows_done) {
  Drawer(window, next_row, rgb, tally, rows_done).run();
}

}  // namespace HWY_NAMESPACE
}  // namespace muller::map::kernel
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace muller::map {

namespace kernel {
HWY_EXPORT(DrawRows);
HWY_EXPORT(Lanes);
}  // namespace kernel

void draw_rows_vector(const Window& window, std::atomic<int>& next_row, std::uint8_t* rgb, Tally& tally,
                      std::atomic<int>& rows_done) {
  using namespace kernel;  // the dispatch names the function unqualified
  HWY_DYNAMIC_DISPATCH(DrawRows)(window, next_row, rgb, tally, rows_done);
}

int vector_lanes() {
  using namespace kernel;
  return HWY_DYNAMIC_DISPATCH(Lanes)();
}

}  // namespace muller::map
#endif  // HWY_ONCE
