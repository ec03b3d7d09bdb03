#include "mbox/plain_blocks.h"

#include <stdint.h>
#include <string.h>

#if defined(__SSE2__) || defined(_M_X64) || \
    (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#include <xmmintrin.h>
#define KORVANE_HAVE_SSE2 1
#endif
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// The base streams in from memory, and the processor's own prefetching
// stops at page boundaries: asking for the bytes a page ahead took a
// quarter off the writer's time on a large base.
const size_t kPrefetchDistance = 4096;

// A page ahead of p. Messages are shorter than that, and the ones after
// this one follow in the base: the address may lie past the message and
// even past the base, which a prefetch never faults on, so it is formed
// as a number rather than by pointer arithmetic.
inline const char* PrefetchTarget(const unsigned char* p) {
  return reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(p) +
                                       kPrefetchDistance);
}

const unsigned char kRecordStartPattern[5] = {0x21, 0x09, 0x70, 0x19, 0x30};

// Whether some line start among candidates (bit i: the line starts at
// b + i + 1) is a "From " line or, with recordStart, a record header.
// Lines that merely begin with F ("From: ", "Friday") need nothing.
inline bool AnyLineNeedsRules(uint64_t candidates, const unsigned char* b,
                              bool recordStart) {
  while (candidates != 0) {
#if defined(__GNUC__) || defined(__clang__)
    const unsigned char* line = b + __builtin_ctzll(candidates) + 1;
#else
    unsigned i = 0;
    while (!((candidates >> i) & 1)) ++i;
    const unsigned char* line = b + i + 1;
#endif
    if (memcmp(line, "From ", 5) == 0) return true;
    if (recordStart && memcmp(line, kRecordStartPattern, 5) == 0) return true;
    candidates &= candidates - 1;
  }
  return false;
}

#ifdef KORVANE_HAVE_SSE2

inline unsigned CountTrailingZeros(uint64_t v) {
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

inline uint64_t Mask16(__m128i hits, int shift) {
  return uint64_t(unsigned(_mm_movemask_epi8(hits))) << shift;
}

// 64 bytes from s to d; both may overlap what the caller writes next.
inline void Copy64(unsigned char* d, const unsigned char* s) {
  for (int k = 0; k < 64; k += 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k)));
}

size_t ConvertSse2(const unsigned char** from, const unsigned char* end,
                   unsigned char* out, size_t room, bool recordStart) {
  const __m128i cr = _mm_set1_epi8(13);
  const __m128i lf = _mm_set1_epi8(10);
  const __m128i zero = _mm_setzero_si128();
  const __m128i letterF = _mm_set1_epi8('F');
  // Without the record-start rule, F once more.
  const __m128i bang = _mm_set1_epi8(recordStart ? 0x21 : 'F');
  const unsigned char* b = *from;
  size_t written = 0;
  while (size_t(end - b) >= kPlainBlockReach &&
         room - written >= kPlainBlockReach) {
    _mm_prefetch(PrefetchTarget(b), _MM_HINT_T0);
    uint64_t crs = 0, bad = 0, starts = 0;
    for (int k = 0; k < 64; k += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
      // The byte after each byte of v.
      __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k + 1));
      __m128i isCr = _mm_cmpeq_epi8(v, cr);
      __m128i isLf = _mm_cmpeq_epi8(v, lf);
      // A lone CR; a line start after an LF that holds F or 0x21; a NUL.
      __m128i lone = _mm_andnot_si128(_mm_cmpeq_epi8(w, lf), isCr);
      __m128i lineStart = _mm_and_si128(
          isLf, _mm_or_si128(_mm_cmpeq_epi8(w, letterF),
                             _mm_cmpeq_epi8(w, bang)));
      __m128i nul = _mm_cmpeq_epi8(w, zero);
      bad |= Mask16(_mm_or_si128(lone, nul), k);
      starts |= Mask16(lineStart, k);
      crs |= Mask16(isCr, k);
    }
    if (bad != 0 || AnyLineNeedsRules(starts, b, recordStart)) break;
    unsigned char* d = out + written;
    if (crs == 0) {
      Copy64(d, b);
      written += 64;
    } else {
      // Copy the runs between CRs; each copy may run over into the next.
      const unsigned char* s = b;
      do {
        const unsigned char* c = b + CountTrailingZeros(crs);
        Copy64(d, s);
        d += c - s;
        s = c + 1;
        crs &= crs - 1;
      } while (crs != 0);
      Copy64(d, s);
      d += b + 64 - s;
      written = size_t(d - out);
    }
    b += 64;
  }
  *from = b;
  return written;
}

#endif  // KORVANE_HAVE_SSE2

// Not on Windows: GCC there does not align the stack to 64 bytes, so a
// register spilled by a later change could fault.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__) && \
    !defined(_WIN32)
#define KORVANE_HAVE_AVX512 1

// The same with 64-byte registers: a block is one load, and dropping its
// CRs is one compress instruction instead of a copy per line. It reads the
// block, the byte after it, and the first 5 bytes of a line that starts
// right after it, to see whether that line needs the rules.
const size_t kWideReach = kPlainBlockSize + 5;

__attribute__((target("avx512f,avx512bw,avx512vbmi2"))) size_t ConvertAvx512(
    const unsigned char** from, const unsigned char* end, unsigned char* out,
    size_t room, bool recordStart) {
  const __m512i cr = _mm512_set1_epi8(13);
  const __m512i lf = _mm512_set1_epi8(10);
  const __m512i letterF = _mm512_set1_epi8('F');
  const __m512i bang = _mm512_set1_epi8(recordStart ? 0x21 : 'F');
  const unsigned char* b = *from;
  size_t written = 0;
  while (size_t(end - b) >= kWideReach &&
         room - written >= kPlainBlockReach) {
    _mm_prefetch(PrefetchTarget(b), _MM_HINT_T0);
    __m512i v = _mm512_loadu_si512(b);
    __m512i w = _mm512_loadu_si512(b + 1);
    __mmask64 crs = _mm512_cmpeq_epi8_mask(v, cr);
    __mmask64 lfs = _mm512_cmpeq_epi8_mask(v, lf);
    __mmask64 lone = crs & ~_mm512_cmpeq_epi8_mask(w, lf);
    __mmask64 lineStart = lfs & (_mm512_cmpeq_epi8_mask(w, letterF) |
                                 _mm512_cmpeq_epi8_mask(w, bang));
    __mmask64 nul = ~_mm512_test_epi8_mask(w, w);
    if ((lone | nul) != 0 || AnyLineNeedsRules(lineStart, b, recordStart))
      break;
    _mm512_storeu_si512(out + written, _mm512_maskz_compress_epi8(~crs, v));
    written += 64 - size_t(__builtin_popcountll(crs));
    b += 64;
  }
  *from = b;
  return written;
}

#endif  // KORVANE_HAVE_AVX512

PlainBlockConverter ChooseConverter() {
#ifdef KORVANE_HAVE_AVX512
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi2"))
    return ConvertAvx512;
#endif
  return PortablePlainBlockConverter();
}

}  // namespace

bool LineNeedsRules(const unsigned char* line, bool recordStart) {
  return memcmp(line, "From ", 5) == 0 ||
         (recordStart && memcmp(line, kRecordStartPattern, 5) == 0);
}

PlainBlockConverter PortablePlainBlockConverter() {
#ifdef KORVANE_HAVE_SSE2
  return ConvertSse2;
#else
  return nullptr;
#endif
}

PlainBlockConverter WidePlainBlockConverter() {
  PlainBlockConverter best = BestPlainBlockConverter();
  return best != PortablePlainBlockConverter() ? best : nullptr;
}

PlainBlockConverter BestPlainBlockConverter() {
  static const PlainBlockConverter best = ChooseConverter();
  return best;
}

size_t PlainBlockReach(PlainBlockConverter converter) {
#ifdef KORVANE_HAVE_AVX512
  if (converter == ConvertAvx512) return kWideReach;
#else
  (void)converter;
#endif
  return kPlainBlockReach;
}
