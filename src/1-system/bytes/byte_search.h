// Byte searches that the scanners, the line splitter and the writer share,
// sixteen bytes at a time where the build has SSE2. None reads at or
// beyond the end it is given.
#ifndef KORVANE_BYTES_BYTE_SEARCH_H_
#define KORVANE_BYTES_BYTE_SEARCH_H_

#include <stdint.h>

#include "bytes/simd.h"

// The first byte in [p, end) that is a, b or c (which may repeat one
// another), or end.
template <unsigned char a, unsigned char b, unsigned char c>
inline const unsigned char* FindFirstOf(const unsigned char* p,
                                        const unsigned char* end) {
#ifdef KORVANE_HAVE_SSE2
  const __m128i va = _mm_set1_epi8(static_cast<char>(a));
  const __m128i vb = _mm_set1_epi8(static_cast<char>(b));
  const __m128i vc = _mm_set1_epi8(static_cast<char>(c));
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_cmpeq_epi8(v, va);
    if (b != a) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, vb));
    if (c != a && c != b) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(v, vc));
    unsigned mask = unsigned(_mm_movemask_epi8(hit));
    if (mask != 0) return p + LowestSetBit(mask);
    p += 16;
  }
#endif
  while (p < end && *p != a && *p != b && *p != c) ++p;
  return p;
}

// The first CR, LF or NUL in [p, end), or end: where a line ends.
inline const unsigned char* FindLineEnd(const unsigned char* p,
                                        const unsigned char* end) {
  return FindFirstOf<13, 10, 0>(p, end);
}

// The first NUL or LF in [p, end), or end.
inline const unsigned char* FindZeroOrLf(const unsigned char* p,
                                         const unsigned char* end) {
  return FindFirstOf<10, 0, 0>(p, end);
}

// Bit i set where p[i] is byte, for the 64 bytes from p.
inline uint64_t EqualBytes64(const unsigned char* p, unsigned char byte) {
  uint64_t bits = 0;
#ifdef KORVANE_HAVE_SSE2
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
  for (int k = 0; k < 64; k += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    bits |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, wanted))))
            << k;
  }
#else
  for (int i = 0; i < 64; ++i) bits |= uint64_t(p[i] == byte) << i;
#endif
  return bits;
}

// The first q in [p, stop) with q[0] == byte and q[-1] == before, or stop.
// Reads p[-1], which must be readable.
const unsigned char* FindPair(const unsigned char* p, const unsigned char* stop,
                              unsigned char before, unsigned char byte);

// One past the last byte in [begin, end) that is above bound as a signed
// byte (so never one from 0x80 up), or begin when there is none.
const unsigned char* EndOfLastAbove(const unsigned char* begin,
                                    const unsigned char* end,
                                    signed char bound);

#endif  // KORVANE_BYTES_BYTE_SEARCH_H_
