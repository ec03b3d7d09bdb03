#include "scan/alternative_scanner.h"

#include <ctype.h>
#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tbb/base_layout.h"
#include "scan/time_stamp.h"

namespace {

using Bytes = std::string;

uint64_t FileTimeValue(const FILETIME& t) {
  return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

uint64_t Now() {
  FILETIME t;
  GetSystemTimeAsFileTime(&t);
  return FileTimeValue(t);
}

// The FILETIME of a stamp in the convertible range (1980 to 2048).
uint64_t StampTime(uint32_t seconds) {
  return (uint64_t(seconds) + 11644473600ull) * 10000000ull;
}

Bytes Le32(uint32_t v) {
  Bytes b(4, '\0');
  for (int i = 0; i < 4; ++i) b[i] = char(v >> (8 * i));
  return b;
}

Bytes Zeros(size_t n) { return Bytes(n, '\0'); }

const uint32_t kTrusted = 48;
const uint32_t kStamp = 1000000000;  // 2001-09-09 01:46:40
const uint32_t kOtherStamp = 1025471447;

Bytes RecordHeader(uint32_t timeStamp, uint32_t length,
                   uint32_t headerSize = kTrusted) {
  return Le32(base_layout::kRecordMagic) + Le32(headerSize) + Zeros(4) +
         Le32(timeStamp) + Zeros(20) + Le32(length) + Zeros(8);
}

Bytes Record(uint32_t timeStamp, const Bytes& text) {
  return RecordHeader(timeStamp, uint32_t(text.size())) + text;
}

// A copy on the heap of exactly the data's size, so that the sanitizer
// catches any read past its end (a std::string has room behind it).
class ExactCopy {
 public:
  explicit ExactCopy(const Bytes& data)
      : bytes(new unsigned char[data.empty() ? 1 : data.size()]) {
    memcpy(bytes.get(), data.data(), data.size());
  }
  const unsigned char* Data() const { return bytes.get(); }

 private:
  std::unique_ptr<unsigned char[]> bytes;
};

struct Message {
  uint32_t offset;
  int32_t length;
  uint64_t time;
  uint32_t positionAfter;
};

struct Scan {
  bool attached = false;
  bool fieldsSet = false;
  uint32_t positionAfterAttach = 0;
  std::vector<Message> messages;
};

// Attaches and drains a scanner, checking on the way what every scanner
// owes its caller: position never moves back, a message lies within the
// data, and position does too after a non-empty one.
Scan RunScanner(MessageScanner* scanner, const Bytes& data) {
  ExactCopy copy(data);
  const unsigned char* bytes = copy.Data();
  const uint64_t size = data.size();
  Scan scan;
  scan.attached = scanner->Attach(bytes, uint32_t(size));
  scan.fieldsSet = scanner->base != nullptr;
  if (!scan.fieldsSet) return scan;
  EXPECT_EQ(scanner->base, bytes);
  EXPECT_EQ(scanner->size, size);
  uint64_t last = uint64_t(scanner->position - bytes);
  EXPECT_LE(last, size);
  scan.positionAfterAttach = uint32_t(last);
  for (uint64_t guard = 0; guard <= size + 1; ++guard) {
    const unsigned char* text = nullptr;
    int32_t length = -1;
    FILETIME time = {0, 0};
    if (!scanner->Next(&text, &length, &time)) {
      EXPECT_GE(uint64_t(scanner->position - bytes), size);
      return scan;
    }
    uint64_t position = uint64_t(scanner->position - bytes);
    EXPECT_EQ(uint64_t(text - bytes), last) << "text is not where it stood";
    EXPECT_GE(position, last) << "position moved back";
    last = position;
    EXPECT_GE(length, 0);
    EXPECT_TRUE(text >= bytes &&
                uint64_t(text - bytes) + uint64_t(length) <= size);
    if (length > 0) {
      EXPECT_LE(position, size);
    }
    scan.messages.push_back({uint32_t(text - bytes), length,
                             FileTimeValue(time), uint32_t(position)});
  }
  ADD_FAILURE() << "Next never returned false";
  return scan;
}

Scan ScanBase(const Bytes& data, int32_t x = 64, int32_t y = 2) {
  AlternativeScanner scanner(x, y);
  return RunScanner(&scanner, data);
}

std::vector<Bytes> Texts(const Scan& scan, const Bytes& data) {
  std::vector<Bytes> texts;
  for (const Message& m : scan.messages) {
    texts.push_back(data.substr(m.offset, size_t(m.length)));
  }
  return texts;
}

// The scanner exactly as its algorithm is written down, every search made
// afresh from position on each call: the reference for the remembered
// searches. It notes which message times came from the clock.
class NaiveScanner : public MessageScanner {
 public:
  NaiveScanner(int32_t x, int32_t y)
      : minHeaderSize(x > 0 ? x : 64),
        gapLength(1 << (y < 0 || y > 3 ? 2 : y)) {}

  bool Attach(const unsigned char* data, uint32_t n) override {
    if (data == nullptr || n > 0x7FFFFFFFu || int32_t(n) <= minHeaderSize) {
      return false;
    }
    base = data;
    position = data;
    size = n;
    return Find();
  }

  bool Next(const unsigned char** text, int32_t* length,
            FILETIME* time) override {
    int64_t start = position - base;
    if (start >= int64_t(size)) return false;
    int32_t keptLength = recordLength;
    FILETIME keptTime = messageTime;
    bool keptClock = timeFromClock;
    int64_t q = start + minHeaderSize;
    const int64_t n = size;
    while (q < n) {
      unsigned char b = base[q];
      if (b == 0) break;
      ++q;
      if (b != 0x0A) continue;
      if (q == n) {
        ++q;
        break;
      }
      unsigned char c = base[q];
      if (c == 0) break;
      ++q;
      if (c != 0x0D) {
        ++q;
        continue;
      }
      if (q == n) {
        ++q;
        break;
      }
      unsigned char d = base[q];
      ++q;
      if (d == 0 || d == 0x0A) break;
    }
    position = base + (q < n ? q : n);
    // The record right after a trusted record's own end is never passed.
    int64_t ownEnd = start + int64_t(uint32_t(keptLength));
    if (keptLength != -1 && ownEnd + 48 <= n && base + ownEnd < position &&
        base_layout::ReadLittleEndian32(base + ownEnd) ==
            base_layout::kRecordMagic) {
      position = base + ownEnd;
    }
    Find();
    int64_t len = (position - base) - start;
    if (keptLength != -1 && int64_t(uint32_t(keptLength)) < len) {
      len = keptLength;
    } else {
      while (len > 0 && static_cast<signed char>(base[start + len - 1]) < 13) {
        --len;
      }
    }
    *text = base + start;
    *length = int32_t(len);
    *time = keptTime;
    clockTimes.push_back(keptClock);
    return true;
  }

  std::vector<bool> clockTimes;

 private:
  bool Gap(int64_t at) const {
    if (at < gapLength) return true;
    for (int64_t i = 1; i <= gapLength; ++i) {
      if (base[at - i] != 0) return false;
    }
    return true;
  }

  bool Keyword(int64_t at, const char* keyword) const {
    int64_t n = int64_t(strlen(keyword));
    if (at + n > int64_t(size)) return false;
    for (int64_t i = 0; i < n; ++i) {
      if (tolower(base[at + i]) != tolower(keyword[i])) return false;
    }
    return true;
  }

  int64_t HeaderLine(int64_t from, char lead, const char* a,
                     const char* b) const {
    for (int64_t j = from; j < int64_t(size); ++j) {
      if (base[j] == lead && (Keyword(j, a) || Keyword(j, b)) && Gap(j)) {
        return j;
      }
    }
    return -1;
  }

  bool Find() {
    recordLength = -1;
    const int64_t n = size;
    int64_t p = position - base;
    if (p >= n) {
      position = base + n;
      return false;
    }
    int64_t record = -1;
    for (int64_t j = p; j < n && record < 0; ++j) {
      if (j >= 1 && base[j] == 0x09 && j - 1 + 48 <= n && base[j - 1] == 0x21 &&
          base[j + 1] == 0x70 && base[j + 2] == 0x19) {
        record = j - 1;
      }
    }
    int64_t r = HeaderLine(p, 'R', "Return-Path: ", "Received: ");
    int64_t d = -1;
    if (record < 0 || r < 0) d = HeaderLine(p, 'D', "Date: ", "Delivered-To: ");
    int64_t best = -1;
    for (int64_t c : {record, r, d}) {
      if (c >= 0 && (best < 0 || c < best)) best = c;
    }
    if (best < 0) {
      position = base + n;
      return false;
    }
    if (best != record) {
      position = base + best;
      return true;
    }
    const unsigned char* m = base + record;
    if (m[5] == 0 && m[6] == 0 && m[7] == 0) {
      recordLength = int32_t(base_layout::ReadLittleEndian32(m + 36));
      if (SecondsToFileTime(base_layout::ReadLittleEndian32(m + 12),
                            &messageTime)) {
        timeFromClock = false;
      }
      position = m + 48;
      return true;
    }
    for (int64_t i = record + 5; i + 2 < n; ++i) {
      if (isalpha(base[i]) && isalpha(base[i + 1]) && isalpha(base[i + 2])) {
        GetSystemTimeAsFileTime(&messageTime);
        timeFromClock = true;
        position = base + i;
        return true;
      }
    }
    position = base + n;
    return false;
  }

  int32_t minHeaderSize;
  int32_t gapLength;
  int32_t recordLength = -1;
  FILETIME messageTime = {0, 0};
  bool timeFromClock = false;
};

void ExpectSameAsNaive(const Bytes& data, int32_t x, int32_t y,
                       const std::string& label) {
  SCOPED_TRACE(label + " X=" + std::to_string(x) + " Y=" + std::to_string(y) +
               " size=" + std::to_string(data.size()));
  uint64_t before = Now();
  NaiveScanner naive(x, y);
  Scan expected = RunScanner(&naive, data);
  AlternativeScanner scanner(x, y);
  Scan actual = RunScanner(&scanner, data);
  uint64_t after = Now();

  ASSERT_EQ(actual.attached, expected.attached);
  ASSERT_EQ(actual.fieldsSet, expected.fieldsSet);
  ASSERT_EQ(actual.positionAfterAttach, expected.positionAfterAttach);
  ASSERT_EQ(actual.messages.size(), expected.messages.size());
  for (size_t i = 0; i < expected.messages.size(); ++i) {
    const Message& e = expected.messages[i];
    const Message& a = actual.messages[i];
    SCOPED_TRACE("message " + std::to_string(i));
    ASSERT_EQ(a.offset, e.offset);
    ASSERT_EQ(a.length, e.length);
    ASSERT_EQ(a.positionAfter, e.positionAfter);
    if (naive.clockTimes[i]) {
      ASSERT_GE(a.time, before);
      ASSERT_LE(a.time, after);
    } else {
      ASSERT_EQ(a.time, e.time);
    }
  }
}

// splitmix64: fixed seeds give the same bases on every platform.
class Prng {
 public:
  explicit Prng(uint64_t seed) : state(seed) {}
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint32_t Below(uint32_t n) { return uint32_t(Next() % n); }
  template <class T, size_t N>
  const T& Pick(const T (&items)[N]) {
    return items[Below(N)];
  }

 private:
  uint64_t state;
};

// Damaged-looking data: mostly the bytes and pieces that the searches key
// on, so that candidates, near misses and their overlaps are frequent.
Bytes RandomBase(Prng& rng) {
  static const unsigned char kBytes[] = {
      0x00, 0x00, 0x00, 0x00, 0x09, 0x21, 0x70, 0x19, 0x30, 'R', 'D',
      'R',  'D',  '\r', '\n', 'a',  'Z',  'q',  ' ',  ':',  0x80, 0xFF};
  static const char* const kFragments[] = {
      "Return-Path: ", "Received: ",     "Date: ",     "Delivered-To: ",
      "RETURN-PATH: ", "received: ",     "DATE: ",     "date: ",
      "DeLiVeReD-tO: ", "Return-Path:",  "Receive",    "Dat",
      "Delivered-To",  "RR",             "DD",         "\r\n\r\n",
      "\n\r\n",        "\n\r",           "Subject: x\r\n", "\nX"};
  static const uint32_t kHeaderSizes[] = {48, 48, 48, 0x00010030, 0x130,
                                          0x01000030, 49};
  const uint32_t target = 1 + rng.Below(rng.Below(5) == 0 ? 4000 : 600);
  Bytes b;
  while (b.size() < target) {
    switch (rng.Below(9)) {
      case 0:
        b += Zeros(1 + rng.Below(10));
        break;
      case 1:
      case 2:
        for (uint32_t n = 1 + rng.Below(12); n > 0; --n) {
          b += char(rng.Pick(kBytes));
        }
        break;
      case 3:
      case 4:
        b += Zeros(rng.Below(10));
        b += rng.Pick(kFragments);
        break;
      case 5: {
        uint32_t stamp = rng.Below(3) == 0 ? uint32_t(rng.Next())
                                           : kStamp + rng.Below(100000);
        uint32_t length;
        switch (rng.Below(4)) {
          case 0: length = rng.Below(8); break;
          case 1: length = rng.Below(200); break;
          case 2: length = 0xFFFFFFFFu - rng.Below(2); break;
          default: length = uint32_t(rng.Next()); break;
        }
        Bytes header = RecordHeader(stamp, length, rng.Pick(kHeaderSizes));
        if (rng.Below(6) == 0) header.resize(rng.Below(48));
        b += header;
        break;
      }
      case 6:
        b += Bytes("\x21\x09\x70\x19", 1 + rng.Below(4));
        break;
      case 7:
        for (uint32_t n = rng.Below(8); n > 0; --n) {
          b += char('a' + rng.Below(26));
        }
        break;
      default:
        for (uint32_t n = 1 + rng.Below(30); n > 0; --n) {
          b += char(32 + rng.Below(95));
        }
        break;
    }
  }
  return b;
}

// ---------------------------------------------------------------------------

TEST(AlternativeScannerTest, ConstructorPutsSwitchValuesInRange) {
  struct Case {
    int32_t x, y, minHeaderSize, gapLength;
  };
  const Case cases[] = {
      {64, 2, 64, 4},       {0, 2, 64, 4},        {-1, 0, 64, 1},
      {INT32_MIN, 1, 64, 2}, {1, 3, 1, 8},        {100000, 2, 100000, 4},
      {64, -1, 64, 4},      {64, 4, 64, 4},       {64, INT32_MAX, 64, 4},
      {64, INT32_MIN, 64, 4}, {INT32_MAX, 0, INT32_MAX, 1},
  };
  for (const Case& c : cases) {
    AlternativeScanner scanner(c.x, c.y);
    EXPECT_EQ(scanner.minHeaderSize, c.minHeaderSize) << c.x << ":" << c.y;
    EXPECT_EQ(scanner.gapLength, c.gapLength) << c.x << ":" << c.y;
  }
}

TEST(AlternativeScannerTest, NewScannerIsUnattached) {
  AlternativeScanner scanner(64, 2);
  EXPECT_EQ(scanner.base, nullptr);
  EXPECT_EQ(scanner.position, nullptr);
  EXPECT_EQ(scanner.size, 0u);
  EXPECT_EQ(scanner.recordLength, -1);
  EXPECT_EQ(FileTimeValue(scanner.messageTime), 0u);
  const unsigned char* text;
  int32_t length;
  FILETIME time;
  EXPECT_FALSE(scanner.Next(&text, &length, &time));
}

TEST(AlternativeScannerTest, AttachRefusesNullAndBasesNotLongerThanX) {
  AlternativeScanner scanner(64, 2);
  EXPECT_FALSE(scanner.Attach(nullptr, 100));
  EXPECT_EQ(scanner.base, nullptr);
  EXPECT_EQ(scanner.size, 0u);

  Bytes exact = "Date: Mon\r\n" + Bytes(64 - 11, 'x');
  Scan refused = ScanBase(exact);
  EXPECT_FALSE(refused.attached);
  EXPECT_FALSE(refused.fieldsSet);

  Bytes longer = exact + "y";
  Scan scan = ScanBase(longer);
  ASSERT_TRUE(scan.attached);
  EXPECT_EQ(scan.positionAfterAttach, 0u);
  EXPECT_EQ(Texts(scan, longer), std::vector<Bytes>{longer});
  EXPECT_EQ(scan.messages[0].time, 0u);  // no record header seen yet
}

TEST(AlternativeScannerTest, AttachFailsWithoutAnyStartAndLeavesPositionAtEnd) {
  Bytes data = Bytes(100, 'x') + "\r\nreceived: " + Zeros(20);
  Scan scan = ScanBase(data);
  EXPECT_FALSE(scan.attached);
  EXPECT_TRUE(scan.fieldsSet);
  EXPECT_EQ(scan.positionAfterAttach, data.size());
  EXPECT_TRUE(scan.messages.empty());
}

TEST(AlternativeScannerTest, KeywordsNeedCapitalLeadAndWholeKeyword) {
  struct Case {
    const char* keyword;
    bool start;
  };
  const Case cases[] = {
      {"Return-Path: ", true},  {"Received: ", true},
      {"Date: ", true},         {"Delivered-To: ", true},
      {"RETURN-PATH: ", true},  {"RECEIVED: ", true},
      {"DATE: ", true},         {"DELIVERED-TO: ", true},
      {"ReTuRn-pAtH: ", true},  {"return-path: ", false},
      {"received: ", false},    {"date: ", false},
      {"delivered-to: ", false}, {"Date:x", false},
      {"Dates: ", false},       {"Return-Path:", false},
      {"Delivered-To ", false}, {"Received ", false},
  };
  for (const Case& c : cases) {
    Bytes data = Bytes(70, 'x') + Zeros(4) + c.keyword + "value\r\n";
    Scan scan = ScanBase(data);
    EXPECT_EQ(scan.attached, c.start) << c.keyword;
    if (c.start) {
      EXPECT_EQ(scan.positionAfterAttach, 74u) << c.keyword;
    }
  }
}

TEST(AlternativeScannerTest, KeywordCutOffByEndOfDataIsNoStart) {
  for (const char* keyword : {"Return-Path: ", "Received: ", "Date: ",
                              "Delivered-To: "}) {
    Bytes full = Bytes(70, 'x') + Zeros(8) + keyword;
    EXPECT_TRUE(ScanBase(full).attached) << keyword;
    EXPECT_FALSE(ScanBase(full.substr(0, full.size() - 1)).attached)
        << keyword;
  }
}

TEST(AlternativeScannerTest, GapBeforeHeaderLineDependsOnCompatibilityLevel) {
  struct Case {
    int32_t y;
    Bytes before;
    bool start;
  };
  const Case cases[] = {
      {2, "x\r\n", false},
      {2, "x" + Zeros(4), true},
      {2, "x" + Zeros(3) + "\n", false},
      {2, "x" + Zeros(3), false},
      {0, "x" + Zeros(4), true},
      {1, "x" + Zeros(4), true},
      {3, "x" + Zeros(4), false},
      {3, "x" + Zeros(7), false},
      {3, "x" + Zeros(8), true},
      {0, "x" + Zeros(1), true},
      {0, "x\n", false},
      {1, Bytes("x\x01", 2) + Zeros(1), false},
      {1, "x" + Zeros(2), true},
      {9, "x" + Zeros(4), true},  // out of range: the default 2
      {9, "x" + Zeros(3), false},
  };
  for (const Case& c : cases) {
    Bytes data = Bytes(70, 'x') + c.before + "Received: from host\r\n";
    Scan scan = ScanBase(data, 64, c.y);
    EXPECT_EQ(scan.attached, c.start)
        << "Y=" << c.y << " gap bytes " << c.before.size() - 1;
    if (c.start) {
      EXPECT_EQ(scan.positionAfterAttach, 70 + c.before.size());
    }
  }
}

TEST(AlternativeScannerTest, CandidateInFirstGapBytesNeedsNoZeros) {
  struct Case {
    int32_t y;
    Bytes lead;
    bool start;
  };
  const Case cases[] = {
      {3, "", true},          {3, "abcdefg", true}, {3, "abcdefgh", false},
      {0, "", true},          {0, "a", false},      {2, "\r\n", true},
      {2, "\r\n\r", true},    {2, "\r\n\r\n", false},
  };
  for (const Case& c : cases) {
    Bytes data = c.lead + "Date: now\r\n" + Bytes(100, 'x');
    Scan scan = ScanBase(data, 64, c.y);
    EXPECT_EQ(scan.attached, c.start) << "Y=" << c.y << " at " << c.lead.size();
    if (c.start) {
      EXPECT_EQ(scan.positionAfterAttach, c.lead.size());
    }
  }
}

TEST(AlternativeScannerTest, StartWithinMinHeaderSizeIsPassedOver) {
  Bytes first = "Date: one\r\n" + Zeros(4) + "Date: two\r\n" + Bytes(80, 'x');
  Bytes data = first + Zeros(4) + "Date: three\r\n";
  Scan scan = ScanBase(data);
  EXPECT_EQ(Texts(scan, data),
            (std::vector<Bytes>{first, "Date: three\r"}));
}

TEST(AlternativeScannerTest, RecordLengthEndsMessageWhoseNextStartWasPassed) {
  Bytes text = "Subject: a\r\n" + Zeros(4) + "Date: two\r\n" + Bytes(60, 'y');
  Bytes data = RecordHeader(kStamp, 20) + text + Zeros(4) + "Date: three\r\n";
  Scan scan = ScanBase(data);
  ASSERT_EQ(Texts(scan, data),
            (std::vector<Bytes>{text.substr(0, 20), "Date: three\r"}));
  EXPECT_EQ(scan.messages[0].offset, 48u);
  // The header-line message carries the time of the record before it.
  EXPECT_EQ(scan.messages[1].time, StampTime(kStamp));
}

TEST(AlternativeScannerTest, UndamagedBaseYieldsRecordsWithTheirLengthAndTime) {
  const Bytes texts[] = {
      "Return-Path: <a@example.org>\r\nDate: Sun, 9 Sep 2001 01:46:40 "
      "+0000\r\nSubject: one\r\n\r\nFirst body.\r\n",
      "Received: from mx by relay\r\nFrom: b@example.org\r\nSubject: "
      "two\r\n\r\nDate: not a start\r\n\r\n",
      "Date: Sun, 30 Jun 2002 21:10:47 +0000\r\nFrom: c@example.org\r\n"
      "Subject: three\r\n\r\nLast body.\r\n",
  };
  const uint32_t stamps[] = {kStamp, kStamp + 86400, kOtherStamp};
  Bytes data = Le32(base_layout::kFileMagic) +
               Le32(base_layout::kFileHeaderSize) + Zeros(3072);
  std::vector<uint32_t> textOffsets;
  for (int i = 0; i < 3; ++i) {
    data += RecordHeader(stamps[i], uint32_t(texts[i].size()));
    textOffsets.push_back(uint32_t(data.size()));
    data += texts[i];
  }

  Scan scan = ScanBase(data);
  ASSERT_TRUE(scan.attached);
  EXPECT_EQ(scan.positionAfterAttach, 3080u + 48u);
  ASSERT_EQ(scan.messages.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(scan.messages[i].offset, textOffsets[i]) << i;
    EXPECT_EQ(scan.messages[i].time, StampTime(stamps[i])) << i;
  }
  EXPECT_EQ(scan.messages[0].length, int32_t(texts[0].size()));
  EXPECT_EQ(scan.messages[1].length, int32_t(texts[1].size()));
  EXPECT_EQ(scan.messages[0].positionAfter, textOffsets[1]);
  // The last runs to the end of the data and loses its final LF.
  EXPECT_EQ(scan.messages[2].length, int32_t(texts[2].size()) - 1);
  EXPECT_EQ(scan.messages[2].positionAfter, data.size());
}

TEST(AlternativeScannerTest, RecordLengthOnlyCutsWhenShorterThanTheSpan) {
  const Bytes text =
      "Date: Sun, 9 Sep 2001\r\nSubject: padding padding padding "
      "padding\r\n\r\nbody\r\n";
  const int32_t n = int32_t(text.size());
  struct Case {
    uint32_t lengthField;
    int32_t length;
  };
  // The span to the next start is the text and the four zero bytes.
  const Case cases[] = {
      {0, 0},
      {10, 10},
      {uint32_t(n), n},  // not trimmed: a cut by the length keeps the LF
      {uint32_t(n) + 3, n + 3},
      {uint32_t(n) + 4, n - 1},  // the span itself: trimmed
      {0x7FFFFFFFu, n - 1},
      {0xFFFFFFFFu, n - 1},
  };
  for (const Case& c : cases) {
    Bytes data = RecordHeader(kStamp, c.lengthField) + text + Zeros(4) +
                 "Date: next message\r\n";
    Scan scan = ScanBase(data);
    ASSERT_EQ(scan.messages.size(), 2u) << c.lengthField;
    EXPECT_EQ(scan.messages[0].offset, 48u);
    EXPECT_EQ(scan.messages[0].length, c.length) << c.lengthField;
    EXPECT_EQ(scan.messages[0].time, StampTime(kStamp));
    EXPECT_EQ(Texts(scan, data)[1], "Date: next message\r");
  }
}

TEST(AlternativeScannerTest, UpperHeaderSizeBytesDecideTrust) {
  const Bytes text =
      "Return-Path: <a@example.org>\r\nSubject: trust\r\n\r\nBody text.\r\n";
  const Bytes tail = Bytes("\r\n\x01\x02", 4) + Zeros(3);
  struct Case {
    uint32_t headerSize;
    bool trusted;
  };
  const Case cases[] = {
      {48, true},         {0x31, true},        {0xFF, true},
      {0x00010030, false}, {0x00000130, false}, {0x01000030, false},
  };
  for (const Case& c : cases) {
    Bytes data = Zeros(8) +
                 RecordHeader(kStamp, uint32_t(text.size()), c.headerSize) +
                 text + tail;
    uint64_t before = Now();
    Scan scan = ScanBase(data);
    uint64_t after = Now();
    ASSERT_EQ(scan.messages.size(), 1u) << std::hex << c.headerSize;
    const Message& m = scan.messages[0];
    // The header holds no letters, so an untrusted one starts at its text
    // too, but runs on to the end of the data.
    EXPECT_EQ(m.offset, 8u + 48u);
    if (c.trusted) {
      EXPECT_EQ(m.length, int32_t(text.size()));
      EXPECT_EQ(m.time, StampTime(kStamp));
    } else {
      EXPECT_EQ(m.length, int32_t(text.size()) + 1);  // up to tail's CR
      EXPECT_GE(m.time, before);
      EXPECT_LE(m.time, after);
    }
  }
}

TEST(AlternativeScannerTest, UntrustedHeaderStartsAtFirstThreeLetters) {
  struct Case {
    uint32_t timeStamp, length;
    size_t start;
  };
  const Case cases[] = {
      {0x63006261, 0x007A7978, 36},  // "ab" 00 "c", then "xyz" 00
      {0x63006261, 0x7AE9C17A, 48 + 2},  // "z" C1 E9 "z": no run
  };
  for (const Case& c : cases) {
    Bytes header = RecordHeader(c.timeStamp, c.length, 0x00010030);
    Bytes data = Bytes(70, '.') + header + "\xC4\xD6late\r\n";
    Scan scan = ScanBase(data);
    ASSERT_TRUE(scan.attached);
    EXPECT_EQ(scan.positionAfterAttach, 70 + c.start);
  }
}

// Next never stops right behind a 21 09 pair or a header-line candidate, so
// only direct calls show where the searches begin, remembered or not.
TEST(AlternativeScannerTest, SearchesBeginAtPositionRecordOneByteBefore) {
  Bytes data = Bytes(70, 'x') + Zeros(4) + "Date: d\r\n" +
               RecordHeader(kStamp, 11) + Bytes(20, 'y') +
               RecordHeader(kOtherStamp, 22) + Bytes(20, 'z');
  const uint32_t first = 83, second = 83 + 48 + 20;
  struct Case {
    uint32_t position;
    uint32_t start;
    int32_t recordLength;
  };
  const Case cases[] = {
      {75, first + 48, 11},         // just past the D line found by Attach
      {first + 1, first + 48, 11},  // the magic found by Attach
      {second + 1, second + 48, 22},
      {second + 2, uint32_t(data.size()), -1},
  };
  ExactCopy copy(data);
  for (const Case& c : cases) {
    AlternativeScanner scanner(64, 2);
    ASSERT_TRUE(scanner.Attach(copy.Data(), uint32_t(data.size())));
    EXPECT_EQ(scanner.position, copy.Data() + 74);
    scanner.position = copy.Data() + c.position;
    const unsigned char* start = scanner.FindMessageStart();
    EXPECT_EQ(scanner.position, copy.Data() + c.start) << c.position;
    EXPECT_EQ(start, c.recordLength == -1 ? nullptr : scanner.position);
    EXPECT_EQ(scanner.recordLength, c.recordLength);
  }
}

TEST(AlternativeScannerTest, MagicNeedsRoomForItsWholeHeader) {
  const Bytes lead = Bytes(80, 'x');
  // Trusted, length 0: a start exactly at the end of the data.
  Bytes fits = lead + RecordHeader(kStamp, 0);
  Scan scan = ScanBase(fits);
  EXPECT_TRUE(scan.attached);
  EXPECT_EQ(scan.positionAfterAttach, fits.size());
  EXPECT_TRUE(scan.messages.empty());
  for (size_t cut : {47u, 40u, 8u, 4u}) {
    Bytes data = lead + RecordHeader(kStamp, 0).substr(0, cut);
    Scan cutScan = ScanBase(data);
    EXPECT_FALSE(cutScan.attached) << cut;
    EXPECT_EQ(cutScan.positionAfterAttach, data.size()) << cut;
  }
}

TEST(AlternativeScannerTest, MessageRunsOverMagicInLastBytes) {
  Bytes message = "Date: Mon\r\n" + Bytes(70, 'x') + Zeros(4);
  for (size_t cut : {47u, 36u, 5u}) {
    Bytes data = message + RecordHeader(0, 0).substr(0, cut);
    Scan scan = ScanBase(data);
    // Trimmed back to the 0x30 of headerSize: all after it is zero.
    EXPECT_EQ(Texts(scan, data),
              std::vector<Bytes>{message + "\x21\x09\x70\x19\x30"})
        << cut;
  }
}

TEST(AlternativeScannerTest, UntrustedMagicWithoutLettersAfterIsNoStart) {
  Bytes noLetters = RecordHeader(7, 9, 0x00010030) + "12:34 5" + Zeros(5) +
                    "ab" + Zeros(1) + "c!";
  Scan alone = ScanBase(Bytes(70, '-') + noLetters);
  EXPECT_FALSE(alone.attached);
  EXPECT_EQ(alone.positionAfterAttach, 70u + noLetters.size());

  Bytes message = "Date: Mon\r\n" + Bytes(70, 'x') + "\r\n";
  Bytes data = message + Zeros(4) + noLetters;
  Scan scan = ScanBase(data);
  ASSERT_EQ(scan.messages.size(), 1u);
  EXPECT_EQ(scan.messages[0].offset, 0u);
  EXPECT_EQ(scan.messages[0].length, int32_t(data.size()));
  EXPECT_EQ(scan.messages[0].positionAfter, data.size());

  // Three letters as the very last bytes still make a start.
  Bytes lastWord = Bytes(70, '-') + noLetters + "xyz";
  Scan found = ScanBase(lastWord);
  ASSERT_TRUE(found.attached);
  EXPECT_EQ(found.positionAfterAttach, lastWord.size() - 3);
}

TEST(AlternativeScannerTest, TrimDropsControlAndHighBytesUpToCr) {
  struct Case {
    Bytes tail;
    size_t kept;
  };
  const Case cases[] = {
      {Bytes("Z\r\n", 3) + Zeros(4), 2}, {"Z\x80\xFF", 1},
      {"Z\x0C\x01", 1},                  {"Z\r", 2},
      {"Z\x7F", 2},                      {"Z ", 2},
      {"Z\r\x0C\n\t", 2},                {Bytes("Z\r\n\x80", 4), 2},
  };
  for (const Case& c : cases) {
    Bytes body = "Date: Mon\r\n" + Bytes(70, 'x');
    Bytes data = body + c.tail;
    Scan scan = ScanBase(data);
    ASSERT_EQ(scan.messages.size(), 1u);
    EXPECT_EQ(size_t(scan.messages[0].length), body.size() + c.kept)
        << testing::PrintToString(c.tail);
  }
  // Before a next start too: a letter, CR, LF and the four gap bytes.
  Bytes first = "Date: Mon\r\n" + Bytes(70, 'x') + "Z\r\n";
  Bytes data = first + Zeros(4) + "Date: Tue\r\n";
  EXPECT_EQ(Texts(ScanBase(data), data),
            (std::vector<Bytes>{first.substr(0, first.size() - 1),
                                "Date: Tue\r"}));
}

TEST(AlternativeScannerTest, HeaderBlockScanDecidesWhetherNextStartIsSeen) {
  struct Case {
    Bytes between;
    bool seen;
  };
  // Y = 0: a single zero byte opens a header line; X = 8 starts the scan
  // right after "Date: aa".
  const Case cases[] = {
      {Bytes("\n\r\n") + Zeros(1), true},
      {Bytes("\nX") + Zeros(1), false},  // the zero is stepped over unseen
      {Bytes("\nXX") + Zeros(1), true},
      {Bytes("\n") + Zeros(1), true},
      {Bytes("\n\r") + Zeros(1), true},
      {Bytes("\n\rX") + Zeros(1), true},
      {Bytes("\n\rX\nY") + Zeros(1), false},  // LF CR X goes on
      {Bytes("X") + Zeros(1), true},
      {Bytes("\n\n") + Zeros(1), false},
      {Bytes("\n\n\n") + Zeros(1), true},
  };
  // Alone, and after header lines as long as two of the scan's 64-byte
  // stretches and more, byte by byte, with body text after the next start.
  for (const Case& c : cases) {
    for (size_t pad = 0; pad <= 130; ++pad) {
      Bytes lines =
          pad == 0 ? Bytes()
                   : "\r\nX-Line: x\r\nX-Line: xx\r\nLast: " + Bytes(pad, 'x');
      Bytes data =
          "Date: aaaa" + lines + c.between + "Date: next\r\n" + Bytes(pad, 'y');
      Scan scan = ScanBase(data, 8, 0);
      EXPECT_EQ(scan.messages.size(), c.seen ? 2u : 1u)
          << testing::PrintToString(c.between) << " after " << pad;
    }
  }
}

TEST(AlternativeScannerTest, MinHeaderSizeBytesAreNotScanned) {
  // Zeros inside the first X bytes do not end the header block.
  Bytes data = "Date: a" + Zeros(4) + "Date: b\r\n" + Bytes(20, 'x') +
               Zeros(4) + "Date: c\r\n";
  EXPECT_EQ(ScanBase(data, 12, 2).messages.size(), 2u);
  EXPECT_EQ(ScanBase(data, 7, 2).messages.size(), 3u);
}

TEST(AlternativeScannerTest, MessageTimeComesFromLastRecordHeader) {
  const Bytes gap = Zeros(4);
  Bytes data = "Date: before any record\r\n" + gap +
               Record(kStamp, "Subject: first record\r\n") + gap +
               "Date: after it\r\n" + gap +
               RecordHeader(1, 2, 0x00010030) + "Subject: untrusted\r\n" +
               gap + "Date: after untrusted\r\n" + gap +
               Record(0, "Subject: stamp 0 does not convert\r\n") + gap +
               Record(kOtherStamp, "Subject: second record\r\n") + gap +
               "Date: last\r\n";
  uint64_t before = Now();
  Scan scan = ScanBase(data, 8, 2);
  uint64_t after = Now();
  ASSERT_EQ(scan.messages.size(), 8u);
  std::vector<Bytes> texts = Texts(scan, data);
  EXPECT_EQ(scan.messages[0].time, 0u);
  EXPECT_EQ(scan.messages[1].time, StampTime(kStamp));
  EXPECT_EQ(scan.messages[2].time, StampTime(kStamp));
  EXPECT_EQ(texts[3], "Subject: untrusted\r");
  for (int i : {3, 4, 5}) {
    EXPECT_GE(scan.messages[i].time, before) << i;
    EXPECT_LE(scan.messages[i].time, after) << i;
  }
  EXPECT_EQ(scan.messages[4].time, scan.messages[3].time);
  EXPECT_EQ(scan.messages[5].time, scan.messages[3].time);
  EXPECT_EQ(scan.messages[6].time, StampTime(kOtherStamp));
  EXPECT_EQ(scan.messages[7].time, StampTime(kOtherStamp));
  EXPECT_EQ(texts[7], "Date: last\r");
}

TEST(AlternativeScannerTest, DateCandidateBeforeRecordAndRLineIsIgnored) {
  Bytes head = Bytes(70, 'x') + Zeros(4) + "Date: skipped\r\n" +
               Bytes(80, 'x') + Zeros(4);
  Bytes rLine = "Return-Path: <a@example.org>\r\n" + Bytes(80, 'x');
  Bytes withRecord = head + rLine + Record(kStamp, "Subject: z\r\n");
  Scan scan = ScanBase(withRecord);
  EXPECT_EQ(scan.positionAfterAttach, head.size());
  // Without the record the D search is made and finds the earlier date.
  EXPECT_EQ(ScanBase(head + rLine).positionAfterAttach, 74u);
}

TEST(AlternativeScannerTest, DateSearchSkippedOnceIsMadeLater) {
  // At Attach the record and the R line are both found, so nothing is
  // learnt about D; the next call needs the D line between them.
  Bytes text = "Subject: record\r\n\r\n" + Bytes(70, 'b');
  Bytes data = Record(kStamp, text) + Zeros(4) + "Date: between\r\n" +
               Bytes(70, 'c') + Zeros(4) + "Return-Path: <a@b>\r\n";
  Scan scan = ScanBase(data);
  EXPECT_EQ(Texts(scan, data),
            (std::vector<Bytes>{text, "Date: between\r\n" + Bytes(70, 'c'),
                                "Return-Path: <a@b>\r"}));
  ExpectSameAsNaive(data, 64, 2, "skipped D");
}

TEST(AlternativeScannerTest, SameAsNaiveSearchOnRandomBases) {
  static const int32_t kXs[] = {1, 2, 3, 5, 8, 13, 30, 64, 0, -7, 100};
  static const int32_t kYs[] = {-1, 0, 1, 2, 2, 3, 4};
  for (uint64_t seed = 1; seed <= 3000; ++seed) {
    Prng rng(seed);
    Bytes data = RandomBase(rng);
    ExpectSameAsNaive(data, rng.Pick(kXs), rng.Pick(kYs),
                      "seed " + std::to_string(seed));
    if (HasFatalFailure()) return;
  }
}

// Bases on which every fresh search would run far beyond the start it
// ends up with: the remembered searches must still give the same starts.
TEST(AlternativeScannerTest, SameAsNaiveSearchWhereFreshSearchesRunFar) {
  // Many D lines, then the only R line and record at the very end.
  Bytes dLines;
  for (int i = 0; i < 600; ++i) {
    dLines += Zeros(4) + "Date: " + std::to_string(i) + "\r\n" +
              Bytes(60, 'x');
  }
  dLines += Zeros(4) + "Return-Path: <a@b>\r\n" + Bytes(70, 'x') +
            Record(kStamp, "Subject: end\r\n");
  ExpectSameAsNaive(dLines, 64, 2, "D lines");

  // R lines among R and D bytes that are no candidates; the only D line
  // at the end.
  Bytes nearMisses;
  for (int i = 0; i < 300; ++i) {
    nearMisses += Zeros(4) + "Received: x\r\n";
    for (int j = 0; j < 10; ++j) {
      nearMisses += "RDRD date: \r\nReceived: xDate: DDRR";
    }
  }
  nearMisses += Zeros(4) + "Delivered-To: y\r\n";
  ExpectSameAsNaive(nearMisses, 64, 2, "near misses");
  ExpectSameAsNaive(nearMisses, 8, 0, "near misses");

  // Untrusted and cut-off record headers, 09 bytes everywhere.
  Bytes records;
  for (int i = 0; i < 300; ++i) {
    records += RecordHeader(kStamp + i, 5, i % 3 ? 0x00010030 : 48) +
               "\t\t\tSubject: r" + std::to_string(i) + "\r\n" +
               Bytes(40, '\t') + "\x21\x09\x70";
  }
  ExpectSameAsNaive(records, 64, 2, "records");
  ExpectSameAsNaive(records, 1, 3, "records");
}

// Megabytes of R and D bytes that are no candidates: quick only when no
// byte is searched again on every call.
TEST(AlternativeScannerTest, LongBaseOfNearMissesYieldsEveryLine) {
  const Bytes filler = "RRRDDD date: Received: \r\nxDate: RDRDRDRDRDRDRDRD";
  Bytes block = Zeros(4) + "Date: x\r\n" + filler + filler;
  const int kBlocks = 30000;
  Bytes data;
  data.reserve(block.size() * kBlocks);
  for (int i = 0; i < kBlocks; ++i) data += block;
  Scan scan = ScanBase(data);
  ASSERT_EQ(scan.messages.size(), size_t(kBlocks));
  const int32_t length = int32_t(block.size() - 4);
  for (int i = 0; i < kBlocks; ++i) {
    ASSERT_EQ(scan.messages[i].offset, uint32_t(i * block.size() + 4)) << i;
    ASSERT_EQ(scan.messages[i].length, length) << i;
  }
}

}  // namespace

namespace {

// The header-block scan looks for the blank line of CR LF headers; with
// LF alone, or in a message shorter than X, it runs past the message's own
// end. The record that follows an intact record must still be found.
TEST(AlternativeScannerTest, RecordRightAfterAnIntactRecordIsNeverPassedOver) {
  const Bytes lfMessage =
      "From: a@example.org\nSubject: plain LF\n\nbody line one\nbody two\n";
  const Bytes shortMessage = "From: b@example.org\r\n\r\nhi\r\n";
  const Bytes crlfMessage =
      "From: c@example.org\r\nSubject: a CR LF message of some length\r\n"
      "\r\nbody\r\n";
  struct Case {
    const char* what;
    std::vector<Bytes> texts;
  } cases[] = {
      {"LF headers", {lfMessage, lfMessage, lfMessage}},
      {"shorter than X", {shortMessage, shortMessage, crlfMessage}},
      {"mixed", {crlfMessage, lfMessage, shortMessage, crlfMessage}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes data;
    std::vector<uint32_t> offsets;
    for (const Bytes& text : c.texts) {
      offsets.push_back(uint32_t(data.size() + 48));
      data += Record(kStamp, text);
    }
    Scan scan = ScanBase(data);
    ASSERT_EQ(c.texts.size(), scan.messages.size());
    for (size_t i = 0; i + 1 < c.texts.size(); ++i) {
      EXPECT_EQ(offsets[i], scan.messages[i].offset);
      EXPECT_EQ(int32_t(c.texts[i].size()), scan.messages[i].length);
    }
    EXPECT_EQ(offsets.back(), scan.messages.back().offset);
  }
}

}  // namespace
