// The SHA-256 engine on the processor's SHA instructions. They keep the
// working variables in two registers as ABEF and CDGH and do two rounds a
// step; the message schedule is two more instructions per four words.
#include "bytes/sha256.h"
#include "bytes/simd.h"

#ifdef KORVANE_HAVE_WIDE_TARGETS

KORVANE_TARGET("sha,sse4.1,ssse3")
void Sha256BlocksShaInstructions(uint32_t state[8], const unsigned char* blocks,
                                 size_t count) {
  // Each 32-bit word of the block is big-endian.
  const __m128i byteOrder =
      _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  const __m128i dcba =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  const __m128i hgfe =
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

  for (; count > 0; --count, blocks += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    // words[j % 4] holds the four message words of rounds 4j to 4j + 3.
    __m128i words[4];
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC unroll 16
#endif
    for (int j = 0; j < 16; ++j) {
      __m128i w;
      if (j < 4) {
        w = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * j)),
            byteOrder);
      } else {
        // W[t] = s1(W[t-2]) + W[t-7] + s0(W[t-15]) + W[t-16].
        w = _mm_sha256msg1_epu32(words[j & 3], words[(j + 1) & 3]);
        w = _mm_add_epi32(
            w, _mm_alignr_epi8(words[(j + 3) & 3], words[(j + 2) & 3], 4));
        w = _mm_sha256msg2_epu32(w, words[(j + 3) & 3]);
      }
      words[j & 3] = w;
      const __m128i k = _mm_loadu_si128(
          reinterpret_cast<const __m128i*>(kSha256RoundConstants + 4 * j));
      const __m128i wk = _mm_add_epi32(w, k);
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }

  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]),
                   _mm_blend_epi16(feba, dchg, 0xF0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]),
                   _mm_alignr_epi8(dchg, feba, 8));
}

#endif  // KORVANE_HAVE_WIDE_TARGETS
