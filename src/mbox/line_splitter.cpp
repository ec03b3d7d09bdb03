#include "mbox/line_splitter.h"

#if defined(__SSE2__) || defined(_M_X64) || \
    (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define KORVANE_HAVE_SSE2 1
#endif

namespace {

// CR, LF and NUL are all below 14: one comparison rejects nearly every
// byte of ordinary text.
inline bool IsLineEndOrNul(unsigned char c) {
  return c <= 13 && (c == 13 || c == 10 || c == 0);
}

}  // namespace

const unsigned char* FindLineEnd(const unsigned char* p,
                                 const unsigned char* end) {
#ifdef KORVANE_HAVE_SSE2
  // Sixteen bytes at a time; lines are some tens of bytes long.
  const __m128i cr = _mm_set1_epi8(13);
  const __m128i lf = _mm_set1_epi8(10);
  const __m128i zero = _mm_setzero_si128();
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i hit = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)),
        _mm_cmpeq_epi8(v, zero));
    unsigned mask = unsigned(_mm_movemask_epi8(hit));
    if (mask != 0) {
#if defined(__GNUC__) || defined(__clang__)
      return p + __builtin_ctz(mask);
#else
      while (!IsLineEndOrNul(*p)) ++p;
      return p;
#endif
    }
    p += 16;
  }
#endif
  while (p < end && !IsLineEndOrNul(*p)) ++p;
  return p;
}

void SplitLine(const unsigned char* start, LineCursor* cursor,
               const unsigned char* end) {
  if (start == nullptr || start >= end) {
    cursor->lineStart = nullptr;
    cursor->lineLength = 0;
    cursor->nextLineStart = nullptr;
    return;
  }
  const unsigned char* p = FindLineEnd(start, end);

  cursor->lineStart = start;
  cursor->lineLength = static_cast<int32_t>(p - start);
  if (p == end || *p == 0) {
    cursor->nextLineStart = nullptr;
    return;
  }
  if (*p == 13 && p + 1 < end && p[1] == 10)
    p += 2;
  else
    p += 1;
  cursor->nextLineStart = (p == end || *p == 0) ? nullptr : p;
}
