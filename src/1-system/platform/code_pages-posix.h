// The code pages of the POSIX layer: which iconv converter reads each, and
// where Windows' characters differ from that converter's.
#ifndef KORVANE_PLATFORM_CODE_PAGES_POSIX_H_
#define KORVANE_PLATFORM_CODE_PAGES_POSIX_H_

#include <stddef.h>

#include "platform/win32.h"

namespace win32_posix {

struct CodePage {
  enum Kind {
    kSingleByte,  // one byte, one character: a table built once from iconv
    kMultiByte,   // iconv on the whole text, Windows' characters where it
                  // refuses a sequence
    kEucJp,       // as kMultiByte, with Windows' own reading of 0x8F
    kFlagsZero,   // stateful: Windows takes no flags for these
  };
  enum Unmapped {
    kNoCharacter,     // what iconv refuses is no character
    kSameCodePoint,   // bytes from 0x80 to 0x9F that iconv refuses are
                      // U+0080 to U+009F (the Windows code pages 125x, 874)
    kHighBitDropped,  // bytes from 0x80 are read without their high bit
  };
  UINT number;
  const char* iconvName;
  Kind kind;
  Unmapped unmapped;
};

// The code page of that number, or null.
const CodePage* FindCodePage(UINT number);
// Its place in the table, for tables kept beside it.
size_t CodePageIndex(const CodePage* codePage);
size_t CodePageCount();

const WCHAR kNoCharacter = 0xFFFF;

// A single-byte code page's character for byte where Windows' differs from
// iconv's (kNoCharacter: none), or 0 where it does not.
WCHAR SingleByteOverride(UINT codePage, unsigned char byte);

// Windows' character for the sequence at p (n bytes are readable, n > 0)
// that iconv refused, with its length in *length; kNoCharacter where
// Windows refuses it too. Double-byte code pages: the user-defined areas,
// which Windows reads as private-use characters.
WCHAR MultiByteFallback(UINT codePage, const unsigned char* p, size_t n,
                        size_t* length);

}  // namespace win32_posix

#endif  // KORVANE_PLATFORM_CODE_PAGES_POSIX_H_
