#include "bytes/simd.h"

#ifdef KORVANE_HAVE_WIDE_TARGETS

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

#else

bool ProcessorHasAvx2() { return false; }
bool ProcessorHasAvx512Compress() { return false; }

#endif
