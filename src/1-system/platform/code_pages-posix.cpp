// The table of code pages and what Windows reads differently from iconv:
// compared byte by byte and pair by pair with Windows' own conversion
// (under Wine); the differences are here.
#include "platform/code_pages-posix.h"

namespace win32_posix {

namespace {

const CodePage kCodePages[] = {
    {874, "WINDOWS-874", CodePage::kSingleByte, CodePage::kSameCodePoint},
    {1250, "CP1250", CodePage::kSingleByte, CodePage::kSameCodePoint},
    {1251, "CP1251", CodePage::kSingleByte, CodePage::kSameCodePoint},
    {1252, "CP1252", CodePage::kSingleByte, CodePage::kSameCodePoint},
    {1253, "CP1253", CodePage::kSingleByte, CodePage::kSameCodePoint},
    {1254, "CP1254", CodePage::kSingleByte, CodePage::kSameCodePoint},
    {1255, "CP1255", CodePage::kSingleByte, CodePage::kSameCodePoint},
    {1256, "CP1256", CodePage::kSingleByte, CodePage::kSameCodePoint},
    {1257, "CP1257", CodePage::kSingleByte, CodePage::kSameCodePoint},
    {1258, "CP1258", CodePage::kSingleByte, CodePage::kSameCodePoint},
    {437, "CP437", CodePage::kSingleByte, CodePage::kNoCharacter},
    {850, "CP850", CodePage::kSingleByte, CodePage::kNoCharacter},
    {852, "CP852", CodePage::kSingleByte, CodePage::kNoCharacter},
    {866, "CP866", CodePage::kSingleByte, CodePage::kNoCharacter},
    {10000, "MACINTOSH", CodePage::kSingleByte, CodePage::kNoCharacter},
    {10007, "CP10007", CodePage::kSingleByte, CodePage::kNoCharacter},
    {10029, "MAC-CENTRALEUROPE", CodePage::kSingleByte, CodePage::kNoCharacter},
    {20127, "ASCII", CodePage::kSingleByte, CodePage::kHighBitDropped},
    {20866, "KOI8-R", CodePage::kSingleByte, CodePage::kNoCharacter},
    {21866, "KOI8-U", CodePage::kSingleByte, CodePage::kNoCharacter},
    {28592, "ISO-8859-2", CodePage::kSingleByte, CodePage::kNoCharacter},
    {28593, "ISO-8859-3", CodePage::kSingleByte, CodePage::kNoCharacter},
    {28594, "ISO-8859-4", CodePage::kSingleByte, CodePage::kNoCharacter},
    {28595, "ISO-8859-5", CodePage::kSingleByte, CodePage::kNoCharacter},
    {28596, "ISO-8859-6", CodePage::kSingleByte, CodePage::kNoCharacter},
    {28597, "ISO-8859-7", CodePage::kSingleByte, CodePage::kNoCharacter},
    {28598, "ISO-8859-8", CodePage::kSingleByte, CodePage::kNoCharacter},
    {28603, "ISO-8859-13", CodePage::kSingleByte, CodePage::kNoCharacter},
    {28605, "ISO-8859-15", CodePage::kSingleByte, CodePage::kNoCharacter},
    {932, "CP932", CodePage::kMultiByte, CodePage::kNoCharacter},
    {936, "CP936", CodePage::kMultiByte, CodePage::kNoCharacter},
    {949, "CP949", CodePage::kMultiByte, CodePage::kNoCharacter},
    {950, "CP950", CodePage::kMultiByte, CodePage::kNoCharacter},
    {20932, "EUC-JP", CodePage::kEucJp, CodePage::kNoCharacter},
    {54936, "GB18030", CodePage::kMultiByte, CodePage::kNoCharacter},
    {65001, "UTF-8", CodePage::kMultiByte, CodePage::kNoCharacter},
    {50220, "ISO-2022-JP", CodePage::kFlagsZero, CodePage::kNoCharacter},
    {50225, "ISO-2022-KR", CodePage::kFlagsZero, CodePage::kNoCharacter},
    {65000, "UTF-7", CodePage::kFlagsZero, CodePage::kNoCharacter},
};

struct ByteOverride {
  UINT codePage;
  unsigned char byte;
  WCHAR character;
};

const ByteOverride kByteOverrides[] = {
    // The question mark is what 20127 gives for what it cannot read, so
    // Windows does not count it as read.
    {20127, 0xBF, kNoCharacter}, {1255, 0xCA, 0x05BA},
    {10000, 0xBD, 0x2126},       {10000, 0xC6, 0x2206},
    {10000, 0xF0, kNoCharacter}, {10007, 0xB6, 0x2202},
    {21866, 0xAE, 0x045E},       {21866, 0xBE, 0x040E},
    {28597, 0xA1, 0x02BD},       {28597, 0xA2, 0x02BC},
    {28597, 0xA4, kNoCharacter}, {28597, 0xA5, kNoCharacter},
    {28597, 0xAA, kNoCharacter}, {28598, 0xAF, 0x203E},
    {28598, 0xFD, kNoCharacter}, {28598, 0xFE, kNoCharacter},
};

// A rectangle of a double-byte code page's user-defined area: lead bytes
// by trail bytes (one or two ranges of them), numbered row by row from
// first.
struct PrivateArea {
  UINT codePage;
  unsigned char leadLow, leadHigh;
  unsigned char trailLow1, trailHigh1, trailLow2, trailHigh2;
  WCHAR first;
};

const PrivateArea kPrivateAreas[] = {
    {936, 0xAA, 0xAF, 0xA1, 0xFE, 0, 0, 0xE000},
    {936, 0xF8, 0xFE, 0xA1, 0xFE, 0, 0, 0xE234},
    {936, 0xA1, 0xA7, 0x40, 0x7E, 0x80, 0xA0, 0xE4C6},
    {949, 0xC9, 0xC9, 0xA1, 0xFE, 0, 0, 0xE000},
    {949, 0xFE, 0xFE, 0xA1, 0xFE, 0, 0, 0xE05E},
    {950, 0xFA, 0xFE, 0x40, 0x7E, 0xA1, 0xFE, 0xE000},
    {950, 0x8E, 0xA0, 0x40, 0x7E, 0xA1, 0xFE, 0xE311},
    {950, 0x81, 0x8D, 0x40, 0x7E, 0xA1, 0xFE, 0xEEB8},
    // Code page 20932: rows of both character sets (the second as 20932
    // writes it, with the second byte below 0x80).
    {20932, 0xF5, 0xFE, 0xA1, 0xFE, 0, 0, 0xE000},
    {20932, 0xF5, 0xFE, 0x21, 0x7E, 0, 0, 0xE3AC},
};

// Code page 936's cells that have no character in the standard rows: one
// after the other from U+E766.
struct Cells {
  unsigned char lead, trailLow, trailHigh;
};
const Cells k936Unassigned[] = {
    {0xA2, 0xAB, 0xB0}, {0xA2, 0xE3, 0xE4}, {0xA2, 0xEF, 0xF0},
    {0xA2, 0xFD, 0xFE}, {0xA4, 0xF4, 0xFE}, {0xA5, 0xF7, 0xFE},
    {0xA6, 0xB9, 0xC0}, {0xA6, 0xD9, 0xDF}, {0xA6, 0xEC, 0xED},
    {0xA6, 0xF3, 0xF3}, {0xA6, 0xF6, 0xFE}, {0xA7, 0xC2, 0xD0},
    {0xA7, 0xF2, 0xFE}, {0xA8, 0x96, 0xA0}, {0xA8, 0xBC, 0xBC},
    {0xA8, 0xBF, 0xBF}, {0xA8, 0xC1, 0xC4}, {0xA8, 0xEA, 0xFE},
    {0xA9, 0x58, 0x58}, {0xA9, 0x5B, 0x5B}, {0xA9, 0x5D, 0x5F},
    {0xA9, 0x89, 0x95}, {0xA9, 0x97, 0xA3}, {0xA9, 0xF0, 0xFE},
    {0xD7, 0xFA, 0xFE}, {0xFE, 0x50, 0x7E}, {0xFE, 0x80, 0xA0},
};

WCHAR InPrivateArea(UINT codePage, unsigned lead, unsigned trail) {
  for (const PrivateArea& a : kPrivateAreas) {
    if (a.codePage != codePage || lead < a.leadLow || lead > a.leadHigh)
      continue;
    const unsigned span1 = a.trailHigh1 - a.trailLow1 + 1u;
    const unsigned span2 =
        a.trailLow2 == 0 ? 0 : a.trailHigh2 - a.trailLow2 + 1u;
    unsigned column;
    if (trail >= a.trailLow1 && trail <= a.trailHigh1)
      column = trail - a.trailLow1;
    else if (span2 != 0 && trail >= a.trailLow2 && trail <= a.trailHigh2)
      column = span1 + trail - a.trailLow2;
    else
      continue;
    return static_cast<WCHAR>(a.first + (lead - a.leadLow) * (span1 + span2) +
                              column);
  }
  if (codePage == 936) {
    unsigned n = 0;
    for (const Cells& c : k936Unassigned) {
      if (c.lead == lead && trail >= c.trailLow && trail <= c.trailHigh)
        return static_cast<WCHAR>(0xE766 + n + (trail - c.trailLow));
      n += c.trailHigh - c.trailLow + 1u;
    }
  }
  return kNoCharacter;
}

}  // namespace

const CodePage* FindCodePage(UINT number) {
  for (const CodePage& c : kCodePages) {
    if (c.number == number) return &c;
  }
  return nullptr;
}

size_t CodePageIndex(const CodePage* codePage) {
  return static_cast<size_t>(codePage - kCodePages);
}

size_t CodePageCount() { return sizeof kCodePages / sizeof kCodePages[0]; }

WCHAR SingleByteOverride(UINT codePage, unsigned char byte) {
  for (const ByteOverride& o : kByteOverrides) {
    if (o.codePage == codePage && o.byte == byte) return o.character;
  }
  return 0;
}

WCHAR MultiByteFallback(UINT codePage, const unsigned char* p, size_t n,
                        size_t* length) {
  // Windows reads 0x80 alone as U+0080 in these two.
  if ((codePage == 932 || codePage == 949) && p[0] == 0x80) {
    *length = 1;
    return 0x0080;
  }
  if ((codePage == 936 || codePage == 949 || codePage == 950 ||
       codePage == 20932) &&
      n >= 2) {
    *length = 2;
    return InPrivateArea(codePage, p[0], p[1]);
  }
  return kNoCharacter;
}

}  // namespace win32_posix
