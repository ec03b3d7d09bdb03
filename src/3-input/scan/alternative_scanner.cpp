#include "scan/alternative_scanner.h"

#include <stdint.h>
#include <string.h>

#include "bytes/byte_search.h"
#include "tbb/base_layout.h"
#include "scan/time_stamp.h"

namespace {

const int32_t kDefaultMinHeaderSize = 64;
const int32_t kDefaultCompatibilityLevel = 2;

struct Keyword {
  const char* text;
  uint32_t length;
};

// Lead byte and the two keywords of each header-line search. The lead byte
// must be the capital: "date: " is a body line far more often than a start.
struct HeaderLineKeywords {
  unsigned char lead;
  Keyword first;
  Keyword second;
};

const HeaderLineKeywords kRKeywords = {
    'R', {"Return-Path: ", 13}, {"Received: ", 10}};
const HeaderLineKeywords kDKeywords = {
    'D', {"Date: ", 6}, {"Delivered-To: ", 14}};

// ASCII only, so that neither the locale nor bytes from 0x80 up count.
bool IsAsciiLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

unsigned char AsciiLower(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c;
}

// room is the number of bytes left in the data from at: a keyword cut off
// by the end of the data does not match.
bool MatchesKeyword(const unsigned char* at, uint32_t room,
                    const Keyword& keyword) {
  if (room < keyword.length) return false;
  for (uint32_t i = 0; i < keyword.length; ++i) {
    if (AsciiLower(at[i]) !=
        AsciiLower(static_cast<unsigned char>(keyword.text[i]))) {
      return false;
    }
  }
  return true;
}

// The first q in [p, stop) with q[0] == byte and q[-1] == before, or stop;
// p must not be the first byte of the data. The library's byte search is
// fastest where the byte is rare, as in most text; where it is frequent (a
// base full of R bytes), one call per byte would cost far more than
// looking at the byte before as well (FindPair), so a miss is followed by
// a stretch of that.
const unsigned char* FindAfter(const unsigned char* p,
                               const unsigned char* stop, unsigned char before,
                               unsigned char byte) {
  const size_t kStretch = 256;
  while (p < stop) {
    const void* hit = memchr(p, byte, size_t(stop - p));
    if (hit == nullptr) return stop;
    p = static_cast<const unsigned char*>(hit);
    if (p[-1] == before) return p;
    ++p;
    const unsigned char* stretchEnd =
        size_t(stop - p) > kStretch ? p + kStretch : stop;
    p = FindPair(p, stretchEnd, before, byte);
    if (p < stretchEnd) return p;
  }
  return stop;
}

// length less the bytes trimmed from the end of text: a run of zeros after
// a message can be long. Trimmed are the bytes below CR as signed bytes,
// which takes in 0x80..0xFF as well.
uint32_t TrimmedLength(const unsigned char* text, uint32_t length) {
  return uint32_t(EndOfLastAbove(text, text + length, 12) - text);
}

}  // namespace

AlternativeScanner::AlternativeScanner(int32_t minHeaderSizeSetting,
                                       int32_t compatibilityLevel) {
  minHeaderSize =
      minHeaderSizeSetting > 0 ? minHeaderSizeSetting : kDefaultMinHeaderSize;
  if (compatibilityLevel < 0 || compatibilityLevel > 3) {
    compatibilityLevel = kDefaultCompatibilityLevel;
  }
  gapLength = int32_t(1) << compatibilityLevel;
}

bool AlternativeScanner::Attach(const unsigned char* data, uint32_t dataSize) {
  if (data == nullptr || int64_t(dataSize) <= int64_t(minHeaderSize)) {
    return false;
  }
  size = dataSize;
  base = data;
  position = data;
  for (SearchMemo& memo : searchMemo) memo = SearchMemo();
  return FindMessageStart() != nullptr;
}

bool AlternativeScanner::IsGapClear(const unsigned char* candidate) const {
  uint32_t offset = uint32_t(candidate - base);
  if (offset < uint32_t(gapLength)) return true;
  for (int32_t i = 1; i <= gapLength; ++i) {
    if (candidate[-i] != 0) return false;
  }
  return true;
}

const unsigned char* AlternativeScanner::NoStart() {
  position = base + size;
  return nullptr;
}

// from is the lowest offset a magic may begin at.
uint32_t AlternativeScanner::SearchRecord(uint32_t from) const {
  using base_layout::kRecordHeaderSize;
  // A magic whose header would run past the end of the data is not there:
  // its length and timeStamp cannot be read.
  if (size < kRecordHeaderSize) return kNoCandidate;
  uint32_t lastMagic = size - kRecordHeaderSize;
  if (from > lastMagic) return kNoCandidate;
  // The search is for the first two magic bytes, 21 09, by the second.
  const unsigned char* p = base + from + 1;
  const unsigned char* stop = base + lastMagic + 2;
  while (p < stop) {
    p = FindAfter(p, stop, base_layout::kRecordStartPattern[0],
                  base_layout::kRecordStartPattern[1]);
    if (p == stop) break;
    if (base_layout::ReadLittleEndian32(p - 1) == base_layout::kRecordMagic) {
      return uint32_t(p - 1 - base);
    }
    ++p;
  }
  return kNoCandidate;
}

uint32_t AlternativeScanner::SearchHeaderLine(SearchKind kind,
                                              uint32_t from) const {
  const HeaderLineKeywords& keywords =
      kind == kRSearch ? kRKeywords : kDKeywords;
  const unsigned char* end = base + size;
  const unsigned char* p = base + from;
  // Past the first gapLength bytes a candidate has a zero before it.
  const unsigned char* zeroBefore =
      base + (size < uint32_t(gapLength) ? size : uint32_t(gapLength));
  while (p < end) {
    if (p < zeroBefore) {
      if (*p != keywords.lead) {
        ++p;
        continue;
      }
    } else {
      p = FindAfter(p, end, 0, keywords.lead);
      if (p == end) break;
    }
    uint32_t room = uint32_t(end - p);
    if ((MatchesKeyword(p, room, keywords.first) ||
         MatchesKeyword(p, room, keywords.second)) &&
        IsGapClear(p)) {
      return uint32_t(p - base);
    }
    ++p;
  }
  return kNoCandidate;
}

// The header block ends at a blank line (LF CR LF or LF CR 0) or at a zero
// byte. The scan goes from one zero or LF to the next; the byte after an LF
// and a byte that is no CR is stepped over unseen, which decides which
// starts are passed over, so it stays. One step: from *q (below size) to
// the next zero or LF and past what follows it; true when the block ends
// there (or the data does), with *q where the search for the next start
// begins.
bool AlternativeScanner::HeaderBlockStep(uint64_t* q) const {
  uint64_t p = uint64_t(FindZeroOrLf(base + *q, base + size) - base);
  *q = p;
  if (p >= size || base[p] == 0) return true;
  *q = p + 1;
  if (*q >= size) return true;
  unsigned char c = base[*q];
  if (c == 0) return true;
  ++*q;
  if (c != '\r') {
    ++*q;
    return *q >= size;
  }
  if (*q >= size) return true;
  unsigned char d = base[*q];
  ++*q;
  return d == 0 || d == '\n' || *q >= size;
}

// Where the header block that the scan enters at from ends. Header lines
// are longer than 2 bytes: where no zero or LF lies 2 bytes after another,
// the scan meets every zero, and the only LFs it may pass over unseen are
// right after another, where they end nothing; it ends at the first zero.
// Such stretches are passed over 64 bytes at a time; elsewhere it goes
// step by step.
uint64_t AlternativeScanner::HeaderBlockEnd(uint64_t from) const {
  uint64_t q = from;
  while (q + 66 <= size) {
    const unsigned char* p = base + q;
    const uint64_t zeros = EqualBytes64(p, 0);
    const uint64_t stops = zeros | EqualBytes64(p, '\n');
    // Those of the two bytes after the 64: the last LF's steps reach them.
    const unsigned after = unsigned(p[64] == 0 || p[64] == '\n') |
                           unsigned(p[65] == 0 || p[65] == '\n') << 1;
    const bool close = (stops & (stops >> 2)) != 0 ||
                       ((stops >> 63) != 0 && after != 0) ||
                       (((stops >> 62) & 1) != 0 && (after & 1) != 0);
    if (!close) {
      if (zeros != 0) return q + LowestSetBit(zeros);
      // Even past an LF among the last two bytes: what it steps over is
      // no zero or LF.
      q += 64;
      continue;
    }
    const uint64_t stretchEnd = q + 64;
    while (q < stretchEnd)
      if (HeaderBlockStep(&q)) return q;
  }
  while (q < size)
    if (HeaderBlockStep(&q)) return q;
  return q;
}

// Runs a search only when its remembered answer does not cover from, so
// that over a whole scan each search reads every byte about once.
uint32_t AlternativeScanner::FirstCandidate(SearchKind kind, uint32_t from) {
  SearchMemo& memo = searchMemo[kind];
  if (memo.valid && memo.from <= from &&
      (memo.found == kNoCandidate || memo.found >= from)) {
    return memo.found;
  }
  memo.found =
      kind == kRecordSearch ? SearchRecord(from) : SearchHeaderLine(kind, from);
  memo.from = from;
  memo.valid = true;
  return memo.found;
}

const unsigned char* AlternativeScanner::FindMessageStart() {
  using base_layout::ReadLittleEndian32;
  recordLength = -1;
  if (base == nullptr || uint32_t(position - base) >= size) return NoStart();
  uint32_t from = uint32_t(position - base);

  // The record search compares from one byte before position on.
  uint32_t record = FirstCandidate(kRecordSearch, from > 0 ? from - 1 : 0);
  uint32_t rLine = FirstCandidate(kRSearch, from);
  uint32_t start = record < rLine ? record : rLine;
  // With both found, a D candidate is not looked for even if it lies before
  // them: that decides where messages begin, so it stays. A skipped search
  // leaves its memo as it was, which still holds.
  if (record == kNoCandidate || rLine == kNoCandidate) {
    uint32_t dLine = FirstCandidate(kDSearch, from);
    if (dLine < start) start = dLine;
  }
  if (start == kNoCandidate) return NoStart();
  if (start != record) {
    position = base + start;
    return position;
  }

  const unsigned char* magic = base + record;
  const unsigned char* sizeBytes = magic + base_layout::kRecordHeaderSizeOffset;
  if (sizeBytes[1] == 0 && sizeBytes[2] == 0 && sizeBytes[3] == 0) {
    recordLength =
        int32_t(ReadLittleEndian32(magic + base_layout::kRecordLengthOffset));
    // A stamp that does not convert leaves the time of the record before.
    SecondsToFileTime(
        ReadLittleEndian32(magic + base_layout::kRecordTimeStampOffset),
        &messageTime);
    position = magic + base_layout::kRecordHeaderSize;
    return position;
  }

  // Not trusted: the text is taken to begin at the first word after the
  // header's size field. Without one before the end there is no start.
  uint32_t run = 0;
  for (uint32_t i = record + base_layout::kRecordHeaderSizeOffset + 1; i < size;
       ++i) {
    if (!IsAsciiLetter(base[i])) {
      run = 0;
      continue;
    }
    if (++run == 3) {
      GetSystemTimeAsFileTime(&messageTime);
      position = base + (i - 2);
      return position;
    }
  }
  return NoStart();
}

bool AlternativeScanner::Next(const unsigned char** text, int32_t* length,
                              FILETIME* time) {
  if (base == nullptr || uint32_t(position - base) >= size) return false;
  const unsigned char* start = position;
  const int32_t keptRecordLength = recordLength;
  const FILETIME keptTime = messageTime;

  // Skip the header block, so that header lines of this message are not
  // taken for the start of the next.
  uint64_t q = HeaderBlockEnd(uint64_t(start - base) + uint64_t(minHeaderSize));
  // A scan that ran off the end leaves no start to find.
  position = q < size ? base + q : base + size;
  // A message of a trusted record ends where its length says. When the scan
  // ran past that end (a message shorter than minHeaderSize, or header
  // lines ended by LF alone, whose blank line the scan does not see), a
  // record header right there would be passed over and its intact message
  // lost; start the search at it instead.
  if (keptRecordLength != -1) {
    uint64_t ownEnd = uint64_t(start - base) + uint32_t(keptRecordLength);
    if (ownEnd + base_layout::kRecordHeaderSize <= size &&
        base + ownEnd < position &&
        base_layout::ReadLittleEndian32(base + ownEnd) ==
            base_layout::kRecordMagic) {
      position = base + ownEnd;
    }
  }

  const unsigned char* next = FindMessageStart();
  const unsigned char* end = next != nullptr ? next : base + size;
  uint32_t span = uint32_t(end - start);
  uint32_t messageLength = span;
  if (keptRecordLength != -1 && uint32_t(keptRecordLength) < span) {
    messageLength = uint32_t(keptRecordLength);
  } else {
    messageLength = TrimmedLength(start, messageLength);
  }
  // A message carries a signed 32-bit length. One of 2 GiB or more can
  // occur only in a base larger than that, and is passed over as unusable.
  if (messageLength > uint32_t(INT32_MAX)) messageLength = 0;

  *text = start;
  *length = int32_t(messageLength);
  *time = keptTime;
  return true;
}
