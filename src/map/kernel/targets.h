// The instruction sets Highway compiles the map's kernel for: included before <hwy/foreach_target.h> by
// the kernel and by the benchmark that measures it, so that both are built for the same ones.
#pragma once

// The lanes' state lives in arrays and structs of several vectors, which the sizeless vectors of SVE
// and of RISC-V's V extension cannot be put in; NEON serves arm64.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128 | HWY_RVV)
#endif
// AVX-512 with the Ice Lake extensions is a target of its own, which Highway compiles only when asked;
// a build for such a processor (-march=native here) makes it the baseline and must have it.
#ifndef HWY_WANT_AVX3_DL
#define HWY_WANT_AVX3_DL
#endif
// A WebAssembly module has one instruction set: one with SIMD instructions does not even load in a
// browser without them, so the page chooses between two modules (src/wasm), and the kernel is compiled
// for the module's own target alone, with nothing to choose at run time.
#if defined(__wasm__) && !defined(HWY_COMPILE_ONLY_STATIC)
#define HWY_COMPILE_ONLY_STATIC
#endif
