#include "bytes/byte_search.h"

const unsigned char* FindPair(const unsigned char* p, const unsigned char* stop,
                              unsigned char before, unsigned char byte) {
#ifdef KORVANE_HAVE_SSE2
  const __m128i wanted = _mm_set1_epi8(static_cast<char>(byte));
  const __m128i wantedBefore = _mm_set1_epi8(static_cast<char>(before));
  while (stop - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
    unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(
        _mm_cmpeq_epi8(v, wanted), _mm_cmpeq_epi8(u, wantedBefore))));
    if (mask != 0) return p + LowestSetBit(mask);
    p += 16;
  }
#endif
  while (p < stop && !(*p == byte && p[-1] == before)) ++p;
  return p;
}

const unsigned char* EndOfLastAbove(const unsigned char* begin,
                                    const unsigned char* end,
                                    signed char bound) {
#ifdef KORVANE_HAVE_SSE2
  const __m128i limit = _mm_set1_epi8(bound);
  while (end - begin >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
    if (_mm_movemask_epi8(_mm_cmpgt_epi8(v, limit)) != 0)
      break;  // the loop below stops within these 16
    end -= 16;
  }
#endif
  while (end > begin && static_cast<signed char>(end[-1]) <= bound) --end;
  return end;
}
