#include "bytes/simd.h"

#ifdef KORVANE_HAVE_WIDE_TARGETS
#include <cpuid.h>

// The compiler's own test of the processor's features; it also asks the
// operating system whether it saves the wide registers.
bool ProcessorHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

bool ProcessorHasAvx512Compress() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi2");
}

// Asked of the processor itself: not every compiler's test above knows
// the SHA feature.
bool ProcessorHasSha() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c & bit_SSSE3) != 0, sse41 = (c & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return ssse3 && sse41 && (b & bit_SHA) != 0;
}

#else

bool ProcessorHasAvx2() { return false; }
bool ProcessorHasAvx512Compress() { return false; }
bool ProcessorHasSha() { return false; }

#endif
