#include "message/plain_blocks.h"

#include <stdint.h>
#include <string.h>

#include "bytes/simd.h"

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

// Whether some line start among candidates (bit i: the line starts at
// b + i + 1) is a "From " line or, with recordStart, a record header.
// Lines that merely begin with F ("From: ", "Friday") need nothing.
inline bool AnyLineNeedsRules(uint64_t candidates, const unsigned char* b,
                              bool recordStart) {
  while (candidates != 0) {
    if (LineNeedsRules(b + LowestSetBit(candidates) + 1, recordStart))
      return true;
    candidates &= candidates - 1;
  }
  return false;
}

// The conversions that read nothing past their block but the byte after
// it and the first 5 bytes of a line that starts right after it, to see
// whether that line needs the rules.
const size_t kTightReach = kPlainBlockSize + 5;

#ifdef KORVANE_HAVE_SSE2

// 64 bytes from s to d; both may overlap what the caller writes next.
inline void Copy64(unsigned char* d, const unsigned char* s) {
  for (int k = 0; k < 64; k += 16)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + k),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k)));
}

// The 64 bytes at b without those where crs has a bit, to d, as runs
// between CRs; each copy may run over into the next, and the last reads
// up to 127 bytes from b. Returns the end of the output.
inline unsigned char* CopyRuns(unsigned char* d, const unsigned char* b,
                               uint64_t crs) {
  const unsigned char* s = b;
  for (; crs != 0; crs &= crs - 1) {
    const unsigned char* c = b + LowestSetBit(crs);
    Copy64(d, s);
    d += c - s;
    s = c + 1;
  }
  Copy64(d, s);
  return d + (b + 64 - s);
}

// Of 16 bytes v of a block, with w the 16 bytes one further on: those that
// make the block need the rules (a CR not followed by LF; one followed by
// NUL), and the LFs after which a line starts with F or bang (0x21 for the
// record-start pattern, else F again), which may.
inline __m128i BadBytes16(__m128i v, __m128i w) {
  __m128i lone = _mm_andnot_si128(_mm_cmpeq_epi8(w, _mm_set1_epi8(10)),
                                  _mm_cmpeq_epi8(v, _mm_set1_epi8(13)));
  return _mm_or_si128(lone, _mm_cmpeq_epi8(w, _mm_setzero_si128()));
}

inline __m128i LineStarts16(__m128i v, __m128i w, __m128i bang) {
  return _mm_and_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(10)),
                       _mm_or_si128(_mm_cmpeq_epi8(w, _mm_set1_epi8('F')),
                                    _mm_cmpeq_epi8(w, bang)));
}

size_t ConvertSse2(const unsigned char** from, const unsigned char* end,
                   unsigned char* out, size_t room, bool recordStart) {
  const __m128i cr = _mm_set1_epi8(13);
  const __m128i bang = _mm_set1_epi8(recordStart ? 0x21 : 'F');
  const unsigned char* b = *from;
  size_t written = 0;
  while (size_t(end - b) >= kPlainBlockReach &&
         room - written >= kPlainBlockReach) {
    _mm_prefetch(PrefetchTarget(b), _MM_HINT_T0);
    // One test for all that is rare; the CRs of every block.
    __m128i events = _mm_setzero_si128();
    uint64_t crs = 0;
    for (int k = 0; k < 64; k += 16) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
      __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k + 1));
      events = _mm_or_si128(
          events, _mm_or_si128(BadBytes16(v, w), LineStarts16(v, w, bang)));
      crs |= uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, cr)))) << k;
    }
    if (_mm_movemask_epi8(events) != 0) {
      // Which are lone CRs and NULs, and which line starts that may need
      // no rules.
      uint64_t bad = 0, starts = 0;
      for (int k = 0; k < 64; k += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k));
        __m128i w =
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + k + 1));
        bad |= uint64_t(unsigned(_mm_movemask_epi8(BadBytes16(v, w)))) << k;
        starts |=
            uint64_t(unsigned(_mm_movemask_epi8(LineStarts16(v, w, bang))))
            << k;
      }
      if (bad != 0 || AnyLineNeedsRules(starts, b, recordStart)) break;
    }
    written = size_t(CopyRuns(out + written, b, crs) - out);
    b += 64;
  }
  *from = b;
  return written;
}

#endif  // KORVANE_HAVE_SSE2

#ifdef KORVANE_HAVE_WIDE_TARGETS

KORVANE_TARGET("avx2")
inline __m256i Load32(const unsigned char* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

KORVANE_TARGET("avx2")
inline void Store32(unsigned char* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// As BadBytes16 and LineStarts16, 32 bytes at a time.
KORVANE_TARGET("avx2")
inline __m256i BadBytes32(__m256i v, __m256i w) {
  __m256i lone =
      _mm256_andnot_si256(_mm256_cmpeq_epi8(w, _mm256_set1_epi8(10)),
                          _mm256_cmpeq_epi8(v, _mm256_set1_epi8(13)));
  return _mm256_or_si256(lone, _mm256_cmpeq_epi8(w, _mm256_setzero_si256()));
}

KORVANE_TARGET("avx2")
inline __m256i LineStarts32(__m256i v, __m256i w, __m256i bang) {
  return _mm256_and_si256(
      _mm256_cmpeq_epi8(v, _mm256_set1_epi8(10)),
      _mm256_or_si256(_mm256_cmpeq_epi8(w, _mm256_set1_epi8('F')),
                      _mm256_cmpeq_epi8(w, bang)));
}

// 32 bytes of a block (v, at half, with w the 32 bytes one further on)
// without their CRs, to d; returns the end of the output. With one CR (the
// most: lines are longer than 32 bytes) the output is a blend of v and w,
// the bytes before the CR from v and the rest from w: no copy per line,
// and nothing read past the byte after the half. nearEnd: fewer than
// kPlainBlockReach bytes are left from the block's start.
KORVANE_TARGET("avx2,bmi,popcnt")
inline unsigned char* DropCrs32(unsigned char* d, const unsigned char* half,
                                __m256i v, __m256i w, bool nearEnd) {
  const __m256i index = _mm256_setr_epi8(
      0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20,
      21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
  const unsigned crs = unsigned(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(13))));
  // The first CR's index, 32 for none: the bytes from it on come from w.
  const unsigned first = LowestSetBit(crs | (uint64_t(1) << 32));
  const __m256i fromW =
      _mm256_cmpgt_epi8(index, _mm256_set1_epi8(static_cast<char>(first - 1)));
  Store32(d, _mm256_blendv_epi8(v, w, fromW));
  unsigned rest = crs & (crs - 1);
  if (rest != 0) {
    // Lines shorter than the half: the bytes after each further CR, copied
    // over what follows it. The copies read up to 63 bytes past the half;
    // near the end, byte by byte.
    if (!nearEnd) {
      for (unsigned gone = 1; rest != 0; ++gone, rest &= rest - 1) {
        unsigned c = LowestSetBit(rest);
        Store32(d + c - gone, Load32(half + c + 1));
      }
    } else {
      unsigned char* e = d + first;
      for (unsigned i = first + 1; i < 32; ++i)
        if (half[i] != 13) *e++ = half[i];
    }
  }
  return d + 32 - SetBitCount(crs);
}

// With 32-byte registers, a half block at a time.
KORVANE_TARGET("avx2,bmi,popcnt")
size_t ConvertAvx2(const unsigned char** from, const unsigned char* end,
                   unsigned char* out, size_t room, bool recordStart) {
  const __m256i bang = _mm256_set1_epi8(recordStart ? 0x21 : 'F');
  const unsigned char* b = *from;
  size_t written = 0;
  while (size_t(end - b) >= kTightReach && room - written >= kPlainBlockReach) {
    _mm_prefetch(PrefetchTarget(b), _MM_HINT_T0);
    const __m256i v0 = Load32(b), v1 = Load32(b + 32);
    const __m256i w0 = Load32(b + 1), w1 = Load32(b + 33);
    const __m256i bad = _mm256_or_si256(BadBytes32(v0, w0), BadBytes32(v1, w1));
    const __m256i starts0 = LineStarts32(v0, w0, bang);
    const __m256i starts1 = LineStarts32(v1, w1, bang);
    const __m256i events =
        _mm256_or_si256(bad, _mm256_or_si256(starts0, starts1));
    if (!_mm256_testz_si256(events, events)) {
      // Rare: which are they?
      if (!_mm256_testz_si256(bad, bad)) break;
      uint64_t starts = uint64_t(unsigned(_mm256_movemask_epi8(starts0))) |
                        uint64_t(unsigned(_mm256_movemask_epi8(starts1))) << 32;
      if (AnyLineNeedsRules(starts, b, recordStart)) break;
    }
    const bool nearEnd = size_t(end - b) < kPlainBlockReach;
    unsigned char* d = DropCrs32(out + written, b, v0, w0, nearEnd);
    d = DropCrs32(d, b + 32, v1, w1, nearEnd);
    written = size_t(d - out);
    b += 64;
  }
  *from = b;
  return written;
}

// The same with 64-byte registers: a block is one load, and dropping its
// CRs is one compress instruction.
KORVANE_TARGET("avx512f,avx512bw,avx512vbmi2")
size_t ConvertAvx512(const unsigned char** from, const unsigned char* end,
                     unsigned char* out, size_t room, bool recordStart) {
  const __m512i cr = _mm512_set1_epi8(13);
  const __m512i lf = _mm512_set1_epi8(10);
  const __m512i letterF = _mm512_set1_epi8('F');
  const __m512i bang = _mm512_set1_epi8(recordStart ? 0x21 : 'F');
  const unsigned char* b = *from;
  size_t written = 0;
  while (size_t(end - b) >= kTightReach && room - written >= kPlainBlockReach) {
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
    written += 64 - SetBitCount(crs);
    b += 64;
  }
  *from = b;
  return written;
}

#endif  // KORVANE_HAVE_WIDE_TARGETS

BlockConversion WidestAtMost(BlockConversion kind) {
  if (kind == BlockConversion::kAvx512 && ProcessorHasAvx512Compress())
    return kind;
  if (kind >= BlockConversion::kAvx2 && ProcessorHasAvx2())
    return BlockConversion::kAvx2;
  if (kind >= BlockConversion::kSse2 &&
      PlainBlockConverterOf(BlockConversion::kSse2) != nullptr)
    return BlockConversion::kSse2;
  return BlockConversion::kNone;
}

}  // namespace

PlainBlockConverter PlainBlockConverterOf(BlockConversion kind) {
  switch (kind) {
#ifdef KORVANE_HAVE_SSE2
    case BlockConversion::kSse2:
      return ConvertSse2;
#endif
#ifdef KORVANE_HAVE_WIDE_TARGETS
    case BlockConversion::kAvx2:
      return ProcessorHasAvx2() ? ConvertAvx2 : nullptr;
    case BlockConversion::kAvx512:
      return ProcessorHasAvx512Compress() ? ConvertAvx512 : nullptr;
#endif
    default:
      return nullptr;
  }
}

BlockConversion BestBlockConversion() {
#ifdef KORVANE_PINNED_BLOCK_CONVERSION
  static const BlockConversion best =
      WidestAtMost(BlockConversion::KORVANE_PINNED_BLOCK_CONVERSION);
#else
  static const BlockConversion best = WidestAtMost(BlockConversion::kAvx512);
#endif
  return best;
}

PlainBlockConverter BestPlainBlockConverter() {
  static const PlainBlockConverter best =
      PlainBlockConverterOf(BestBlockConversion());
  return best;
}

const char* BlockConversionName(BlockConversion kind) {
  switch (kind) {
    case BlockConversion::kSse2:
      return "sse2";
    case BlockConversion::kAvx2:
      return "avx2";
    case BlockConversion::kAvx512:
      return "avx512";
    default:
      return "none";
  }
}

size_t PlainBlockReach(PlainBlockConverter converter) {
#ifdef KORVANE_HAVE_WIDE_TARGETS
  if (converter == ConvertAvx2 || converter == ConvertAvx512)
    return kTightReach;
#else
  (void)converter;
#endif
  return kPlainBlockReach;
}
