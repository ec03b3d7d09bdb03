// What the compiler and the processor offer for work on many bytes at
// once; the one place that decides it.
//
// KORVANE_HAVE_SSE2: the build targets SSE2 (every x86-64 processor has
// it), and the 16-byte intrinsics are included.
// KORVANE_HAVE_WIDE_TARGETS: the compiler builds single functions for AVX2
// and AVX-512 on request (KORVANE_TARGET), whatever the build targets, and
// the intrinsics for them are included. The processor is asked at run time
// (ProcessorHasAvx2, ProcessorHasAvx512Compress, ProcessorHasSha) before
// any is called.
#ifndef KORVANE_BYTES_SIMD_H_
#define KORVANE_BYTES_SIMD_H_

#include <stdint.h>

#if defined(__SSE2__) || defined(_M_X64) || \
    (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define KORVANE_HAVE_SSE2 1
#endif

// KORVANE_NO_WIDE_TARGETS: set by the build where spilled 32- and 64-byte
// values could fault (see CMakeLists.txt: Windows).
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && \
    !defined(KORVANE_NO_WIDE_TARGETS)
#include <immintrin.h>
#define KORVANE_HAVE_WIDE_TARGETS 1
#define KORVANE_TARGET(features) __attribute__((target(features)))
#endif

// The index of the lowest set bit of v, which is not 0.
inline unsigned LowestSetBit(uint64_t v) {
#if defined(__GNUC__) || defined(__clang__)
  return unsigned(__builtin_ctzll(v));
#else
  unsigned n = 0;
  while (!(v & 1)) {
    v >>= 1;
    ++n;
  }
  return n;
#endif
}

// The number of set bits of v.
inline unsigned SetBitCount(uint64_t v) {
#if defined(__GNUC__) || defined(__clang__)
  return unsigned(__builtin_popcountll(v));
#else
  unsigned n = 0;
  for (; v != 0; v &= v - 1) ++n;
  return n;
#endif
}

// Whether the processor and the operating system run AVX2; and AVX-512
// with byte and word operations and the byte compress instruction (BW and
// VBMI2). False where the build has no wide targets.
bool ProcessorHasAvx2();
bool ProcessorHasAvx512Compress();

// Whether the processor has the SHA-256 instructions and the SSSE3 and
// SSE4.1 ones their callers shuffle with (on the 16-byte registers, which
// every 64-bit system saves). False where the build has no wide targets.
bool ProcessorHasSha();

#endif  // KORVANE_BYTES_SIMD_H_
