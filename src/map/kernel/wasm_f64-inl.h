// Double lanes for Highway's WASM target, which Highway 1.0 leaves out (HWY_HAVE_FLOAT64 is 0 there,
// although WebAssembly's SIMD has f64x2): the operations the kernel's lanes use (lanes-inl.h) that
// Highway 1.0.3 (Debian 12's) does not give for doubles on that target; the others (loads, stores,
// selects, masks, CopySign) are written for any lane type and serve doubles as they are. Each is the
// one WebAssembly instruction, an IEEE operation rounded as the scalar search's is: the lanes give
// the scalar bits here as on every other target. Included by lanes-inl.h, once per target.
#if defined(MULLER_MAP_KERNEL_WASM_F64_INL_H_) == defined(HWY_TARGET_TOGGLE)  // NOLINT(llvm-header-guard)
#ifdef MULLER_MAP_KERNEL_WASM_F64_INL_H_
#undef MULLER_MAP_KERNEL_WASM_F64_INL_H_
#else
#define MULLER_MAP_KERNEL_WASM_F64_INL_H_
#endif

#include <hwy/highway.h>

#if HWY_TARGET == HWY_WASM && !HWY_HAVE_FLOAT64
// Later versions of Highway have these, and say so by HWY_HAVE_FLOAT64; one that does not, but is not
// 1.0, must be looked at before these are added to it.
#if HWY_MAJOR != 1 || HWY_MINOR != 0
#error "Highway's WASM target has no double lanes in this version: check src/map/kernel/wasm_f64-inl.h"
#endif

HWY_BEFORE_NAMESPACE();
namespace hwy {
namespace HWY_NAMESPACE {

template <std::size_t N, HWY_IF_LE128(double, N)>
HWY_API Vec128<double, N> Set(Simd<double, N, 0> /* tag */, const double t) {
  return Vec128<double, N>{wasm_f64x2_splat(t)};
}

#define MULLER_WASM_F64_BINARY(op, instruction)                                        \
  template <std::size_t N>                                                             \
  HWY_API Vec128<double, N> op(const Vec128<double, N> a, const Vec128<double, N> b) { \
    return Vec128<double, N>{instruction(a.raw, b.raw)};                               \
  }
MULLER_WASM_F64_BINARY(operator+, wasm_f64x2_add)
MULLER_WASM_F64_BINARY(operator-, wasm_f64x2_sub)
MULLER_WASM_F64_BINARY(operator*, wasm_f64x2_mul)
MULLER_WASM_F64_BINARY(operator/, wasm_f64x2_div)
#undef MULLER_WASM_F64_BINARY

// a > b ? a : b, as x86's maxpd (Highway's Max there, and for floats here: pmax with its operands
// swapped): a NaN gives b. The kernel's lanes leave wherever such a maximum meets a NaN.
template <std::size_t N>
HWY_API Vec128<double, N> Max(const Vec128<double, N> a, const Vec128<double, N> b) {
  return Vec128<double, N>{wasm_f64x2_pmax(b.raw, a.raw)};
}

template <std::size_t N>
HWY_API Vec128<double, N> Abs(const Vec128<double, N> v) {
  return Vec128<double, N>{wasm_f64x2_abs(v.raw)};
}
template <std::size_t N>
HWY_API Vec128<double, N> Sqrt(const Vec128<double, N> v) {
  return Vec128<double, N>{wasm_f64x2_sqrt(v.raw)};
}

// Comparisons: false where either lane is NaN, as everywhere (< is Highway's, from >).
#define MULLER_WASM_F64_COMPARE(op, instruction)                                        \
  template <std::size_t N>                                                              \
  HWY_API Mask128<double, N> op(const Vec128<double, N> a, const Vec128<double, N> b) { \
    return Mask128<double, N>{instruction(a.raw, b.raw)};                               \
  }
MULLER_WASM_F64_COMPARE(operator>, wasm_f64x2_gt)
MULLER_WASM_F64_COMPARE(operator>=, wasm_f64x2_ge)
MULLER_WASM_F64_COMPARE(operator<=, wasm_f64x2_le)
MULLER_WASM_F64_COMPARE(operator==, wasm_f64x2_eq)
#undef MULLER_WASM_F64_COMPARE

}  // namespace HWY_NAMESPACE
}  // namespace hwy
HWY_AFTER_NAMESPACE();

#endif  // HWY_TARGET == HWY_WASM && !HWY_HAVE_FLOAT64
#endif  // MULLER_MAP_KERNEL_WASM_F64_INL_H_
