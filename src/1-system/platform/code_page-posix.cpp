// MultiByteToWideChar and WideCharToMultiByte of win32.h over iconv.
#include <errno.h>
#include <iconv.h>
#include <limits.h>
#include <string.h>

#include <mutex>
#include <new>
#include <vector>

#include "platform/code_pages-posix.h"
#include "platform/iconv_pool-posix.h"
#include "platform/win32.h"

using win32_posix::BorrowedConverter;
using win32_posix::CodePage;
using win32_posix::kNoCharacter;
using win32_posix::kNoConverter;

namespace {

// Appends the UTF-16LE units of [begin, end) that iconv wrote.
void AppendUnits(const char* begin, const char* end, std::vector<WCHAR>* out) {
  for (const char* p = begin; p + 1 < end; p += 2) {
    out->push_back(static_cast<WCHAR>(static_cast<unsigned char>(p[0]) |
                                      static_cast<unsigned char>(p[1]) << 8));
  }
}

// The characters of one byte each, from iconv once per process, with
// Windows' characters where they differ.
struct SingleByteTable {
  std::once_flag built;
  bool usable = false;
  WCHAR characters[256];
};

const SingleByteTable* TableOf(const CodePage& codePage) {
  static SingleByteTable* const tables =
      new SingleByteTable[win32_posix::CodePageCount()];
  SingleByteTable& table = tables[win32_posix::CodePageIndex(&codePage)];
  std::call_once(table.built, [&] {
    const BorrowedConverter borrowed(codePage);
    const iconv_t converter = borrowed.get();
    if (converter == kNoConverter) return;
    for (unsigned byte = 0; byte < 256; ++byte) {
      char in = static_cast<char>(byte);
      char* src = &in;
      size_t inLeft = 1;
      char out[8];
      char* dst = out;
      size_t outLeft = sizeof out;
      iconv(converter, nullptr, nullptr, nullptr, nullptr);
      const bool converted =
          iconv(converter, &src, &inLeft, &dst, &outLeft) != size_t(-1) &&
          iconv(converter, nullptr, nullptr, &dst, &outLeft) != size_t(-1) &&
          dst - out == 2;
      WCHAR c =
          converted
              ? static_cast<WCHAR>(static_cast<unsigned char>(out[0]) |
                                   static_cast<unsigned char>(out[1]) << 8)
              : kNoCharacter;
      if (byte >= 0x80 && codePage.unmapped == CodePage::kHighBitDropped)
        c = static_cast<WCHAR>(byte & 0x7F);
      else if (!converted && byte < 0xA0 &&
               codePage.unmapped == CodePage::kSameCodePoint)
        c = static_cast<WCHAR>(byte);
      const WCHAR other = win32_posix::SingleByteOverride(
          codePage.number, static_cast<unsigned char>(byte));
      table.characters[byte] = other != 0 ? other : c;
    }
    table.usable = true;
  });
  return table.usable ? &table : nullptr;
}

// Windows reads two bytes of code page 20932 whose second lies below 0x80
// as a character of the supplementary set, which EUC-JP writes with 0x8F
// in front and the high bit set in both.
WCHAR EucJpSupplementary(iconv_t converter, const unsigned char* p, size_t n,
                         size_t* length) {
  if (n < 2 || p[0] < 0xA1 || p[0] > 0xFE || p[1] < 0x21 || p[1] > 0x7E)
    return kNoCharacter;
  if (p[0] == 0xA2 && p[1] == 0x37) {  // a tilde, where iconv's is wide
    *length = 2;
    return 0x007E;
  }
  char in[3] = {'\x8F', static_cast<char>(p[0]),
                static_cast<char>(p[1] | 0x80)};
  char* src = in;
  size_t inLeft = 3;
  char out[8];
  char* dst = out;
  size_t outLeft = sizeof out;
  if (iconv(converter, &src, &inLeft, &dst, &outLeft) == size_t(-1) ||
      dst - out != 2)
    return kNoCharacter;
  *length = 2;
  return static_cast<WCHAR>(static_cast<unsigned char>(out[0]) |
                            static_cast<unsigned char>(out[1]) << 8);
}

// Converts n bytes at in; false with the error where a byte starts no
// character and strict is set, or iconv cannot read the code page.
bool ConvertWithIconv(const CodePage& codePage, const unsigned char* in,
                      size_t n, bool strict, std::vector<WCHAR>* out,
                      DWORD* error) {
  const BorrowedConverter borrowed(codePage);
  const iconv_t converter = borrowed.get();
  if (converter == kNoConverter) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  const unsigned char* p = in;
  const unsigned char* const end = in + n;
  for (;;) {
    // Windows reads 0x8F of code page 20932 alone, as U+008F.
    const unsigned char* stop = end;
    if (codePage.kind == CodePage::kEucJp) {
      const void* mark = memchr(p, 0x8F, size_t(end - p));
      if (mark != nullptr) stop = static_cast<const unsigned char*>(mark);
    }
    char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(p));
    size_t inLeft = size_t(stop - p);
    char buffer[1024];
    char* dst = buffer;
    size_t outLeft = sizeof buffer;
    const size_t result = iconv(converter, &src, &inLeft, &dst, &outLeft);
    const int cause = errno;
    AppendUnits(buffer, dst, out);
    p = reinterpret_cast<const unsigned char*>(src);
    if (result == size_t(-1) && cause == E2BIG) continue;
    if (result == size_t(-1) && p < stop) {
      // Refused, or cut short at stop: Windows' character, if it has one.
      size_t length = 1;
      WCHAR c = kNoCharacter;
      if (codePage.kind == CodePage::kEucJp)
        c = EucJpSupplementary(converter, p, size_t(stop - p), &length);
      if (c == kNoCharacter)
        c = win32_posix::MultiByteFallback(codePage.number, p, size_t(stop - p),
                                           &length);
      if (c == kNoCharacter) {
        if (strict) {
          *error = ERROR_NO_UNICODE_TRANSLATION;
          return false;
        }
        c = 0xFFFD, length = 1;
      }
      out->push_back(c);
      p += length;
      continue;
    }
    if (result == size_t(-1)) {
      // iconv took a last sequence and refused it all the same.
      if (strict) {
        *error = ERROR_NO_UNICODE_TRANSLATION;
        return false;
      }
      out->push_back(0xFFFD);
    }
    if (stop == end) {
      dst = buffer, outLeft = sizeof buffer;
      iconv(converter, nullptr, nullptr, &dst, &outLeft);
      AppendUnits(buffer, dst, out);
      return true;
    }
    out->push_back(0x008F);
    ++p;
  }
}

bool Convert(const CodePage& codePage, const unsigned char* in, size_t n,
             bool strict, std::vector<WCHAR>* out, DWORD* error) {
  if (codePage.kind != CodePage::kSingleByte)
    return ConvertWithIconv(codePage, in, n, strict, out, error);
  const SingleByteTable* table = TableOf(codePage);
  if (table == nullptr) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    WCHAR c = table->characters[in[i]];
    if (c == kNoCharacter) {
      if (strict) {
        *error = ERROR_NO_UNICODE_TRANSLATION;
        return false;
      }
      c = 0xFFFD;
    }
    out->push_back(c);
  }
  return true;
}

// The size protocol both calls share: the count alone when there is no
// room, else the whole result or nothing.
template <typename Unit>
int Deliver(const std::vector<Unit>& result, Unit* out, int outLength) {
  if (result.size() > size_t(INT_MAX)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const int size = static_cast<int>(result.size());
  if (outLength == 0) return size;
  if (size > outLength) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (size > 0) memcpy(out, result.data(), result.size() * sizeof(Unit));
  return size;
}

}  // namespace

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH multiByteStr,
                               int multiByteLength, LPWSTR wideCharStr,
                               int wideCharLength) {
  const CodePage* page = win32_posix::FindCodePage(codePage);
  if (multiByteStr == nullptr || multiByteLength == 0 || multiByteLength < -1 ||
      wideCharLength < 0 || (wideCharLength > 0 && wideCharStr == nullptr) ||
      page == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((flags & ~DWORD{MB_ERR_INVALID_CHARS}) != 0 ||
      (page->kind == CodePage::kFlagsZero && flags != 0)) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  const size_t n = multiByteLength == -1 ? strlen(multiByteStr) + 1
                                         : size_t(multiByteLength);
  try {
    std::vector<WCHAR> result;
    result.reserve(n);
    DWORD error = ERROR_SUCCESS;
    if (!Convert(*page, reinterpret_cast<const unsigned char*>(multiByteStr), n,
                 (flags & MB_ERR_INVALID_CHARS) != 0, &result, &error)) {
      SetLastError(error);
      return 0;
    }
    return Deliver(result, wideCharStr, wideCharLength);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wideCharStr,
                               int wideCharLength, LPSTR multiByteStr,
                               int multiByteLength, LPCCH defaultChar,
                               LPBOOL usedDefaultChar) {
  if (codePage != CP_UTF8 || wideCharStr == nullptr || wideCharLength == 0 ||
      wideCharLength < -1 || multiByteLength < 0 ||
      (multiByteLength > 0 && multiByteStr == nullptr) ||
      defaultChar != nullptr || usedDefaultChar != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if ((flags & ~DWORD{WC_ERR_INVALID_CHARS}) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  size_t n = size_t(wideCharLength);
  if (wideCharLength == -1) {
    n = 0;
    while (wideCharStr[n] != 0) ++n;
    ++n;
  }
  try {
    std::vector<char> result;
    result.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      uint32_t c = wideCharStr[i];
      if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n &&
          wideCharStr[i + 1] >= 0xDC00 && wideCharStr[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (wideCharStr[++i] - 0xDC00);
      } else if (c >= 0xD800 && c <= 0xDFFF) {
        if (flags & WC_ERR_INVALID_CHARS) {
          SetLastError(ERROR_NO_UNICODE_TRANSLATION);
          return 0;
        }
        c = 0xFFFD;
      }
      if (c < 0x80) {
        result.push_back(static_cast<char>(c));
      } else if (c < 0x800) {
        result.push_back(static_cast<char>(0xC0 | c >> 6));
        result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      } else if (c < 0x10000) {
        result.push_back(static_cast<char>(0xE0 | c >> 12));
        result.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      } else {
        result.push_back(static_cast<char>(0xF0 | c >> 18));
        result.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        result.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        result.push_back(static_cast<char>(0x80 | (c & 0x3F)));
      }
    }
    return Deliver(result, multiByteStr, multiByteLength);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}
