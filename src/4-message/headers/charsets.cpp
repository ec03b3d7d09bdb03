// The one table of MIME charset names, and the conversion through the
// system.
#include "headers/charsets.h"

#include <limits.h>
#include <string.h>

#include <vector>

#include "bytes/ascii.h"

namespace {

struct Charset {
  const char* key;  // the name folded by CharsetKey
  UINT codePage;
};

// Names as mailers write them, folded. Where a label is commonly put on
// text of a wider Windows code page, that page reads it: ISO-8859-1 and
// US-ASCII text with Windows-1252's quotes and dashes, ISO-8859-9 with
// Windows-1254's, TIS-620 with 874's, EUC-KR with 949's, GB 2312 with
// GBK's (936). The characters of the narrower one read the same.
const Charset kCharsets[] = {
    {"utf8", kUtf8CodePage},
    {"usascii", kUsAsciiCodePage},
    {"ascii", kUsAsciiCodePage},
    {"ansix341968", kUsAsciiCodePage},
    {"iso646us", kUsAsciiCodePage},
    {"us", kUsAsciiCodePage},
    {"iso88591", 1252},
    {"latin1", 1252},
    {"l1", 1252},
    {"cp819", 1252},
    {"ibm819", 1252},
    {"csisolatin1", 1252},
    {"windows1252", 1252},
    {"cp1252", 1252},
    {"xcp1252", 1252},
    {"iso88592", 28592},
    {"latin2", 28592},
    {"l2", 28592},
    {"iso88593", 28593},
    {"latin3", 28593},
    {"iso88594", 28594},
    {"latin4", 28594},
    {"iso88595", 28595},
    {"cyrillic", 28595},
    {"iso88596", 28596},
    {"iso88596i", 28596},
    {"arabic", 28596},
    {"iso88597", 28597},
    {"greek", 28597},
    {"greek8", 28597},
    {"iso88598", 28598},
    {"iso88598i", 28598},
    {"iso88598e", 28598},
    {"hebrew", 28598},
    {"iso88599", 1254},
    {"latin5", 1254},
    {"l5", 1254},
    {"iso885911", 874},
    {"tis620", 874},
    {"windows874", 874},
    {"cp874", 874},
    {"iso885913", 28603},
    {"iso885915", 28605},
    {"latin9", 28605},
    {"l9", 28605},
    {"windows1250", 1250},
    {"cp1250", 1250},
    {"xcp1250", 1250},
    {"windows1251", 1251},
    {"cp1251", 1251},
    {"xcp1251", 1251},
    {"windows1253", 1253},
    {"cp1253", 1253},
    {"windows1254", 1254},
    {"cp1254", 1254},
    {"windows1255", 1255},
    {"cp1255", 1255},
    {"windows1256", 1256},
    {"cp1256", 1256},
    {"windows1257", 1257},
    {"cp1257", 1257},
    {"windows1258", 1258},
    {"cp1258", 1258},
    {"koi8r", 20866},
    {"cskoi8r", 20866},
    {"koi8u", 21866},
    {"ibm866", 866},
    {"cp866", 866},
    {"ibm437", 437},
    {"cp437", 437},
    {"ibm850", 850},
    {"cp850", 850},
    {"ibm852", 852},
    {"cp852", 852},
    {"macintosh", 10000},
    {"mac", 10000},
    {"xmacroman", 10000},
    {"csmacintosh", 10000},
    {"xmaccyrillic", 10007},
    {"xmacce", 10029},
    {"xmaccentraleurope", 10029},
    {"shiftjis", 932},
    {"sjis", 932},
    {"xsjis", 932},
    {"mskanji", 932},
    {"csshiftjis", 932},
    {"windows31j", 932},
    {"cp932", 932},
    {"xmscp932", 932},
    {"eucjp", 20932},
    {"xeucjp", 20932},
    {"iso2022jp", 50220},
    {"csiso2022jp", 50220},
    {"gb2312", 936},
    {"csgb2312", 936},
    {"gb231280", 936},
    {"euccn", 936},
    {"xeuccn", 936},
    {"gbk", 936},
    {"xgbk", 936},
    {"cp936", 936},
    {"ms936", 936},
    {"windows936", 936},
    {"chinese", 936},
    {"gb18030", 54936},
    {"big5", 950},
    {"cnbig5", 950},
    {"xxbig5", 950},
    {"csbig5", 950},
    {"cp950", 950},
    {"euckr", 949},
    {"cseuckr", 949},
    {"ksc56011987", 949},
    {"ksc56011989", 949},
    {"ksc5601", 949},
    {"csksc56011987", 949},
    {"korean", 949},
    {"cp949", 949},
    {"windows949", 949},
    {"uhc", 949},
    {"iso2022kr", 50225},
    {"csiso2022kr", 50225},
    {"utf7", CP_UTF7},
    {"unicode11utf7", CP_UTF7},
    {"csunicode11utf7", CP_UTF7},
};

// Lower case without the separators that spellings of one name differ
// in: "ISO_8859-1", "iso-8859-1" and "ISO8859-1" give "iso88591".
std::string CharsetKey(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (c == '*') break;  // an RFC 2231 language follows
    if (c == '-' || c == '_' || c == ' ' || c == '.' || c == ':') continue;
    key.push_back(FoldAscii(c));
  }
  return key;
}

// Windows takes no flags for the stateful code pages and UTF-7.
bool TakesNoFlags(UINT codePage) {
  return (codePage >= 50220 && codePage <= 50229) ||
         (codePage >= 57002 && codePage <= 57011) || codePage == CP_UTF7 ||
         codePage == 42;
}

}  // namespace

UINT CodePageOfCharset(std::string_view name) {
  if (name.size() > 64) return 0;
  const std::string key = CharsetKey(name);
  for (const Charset& c : kCharsets) {
    if (key == c.key) return c.codePage;
  }
  return 0;
}

bool CodePageToUtf8(UINT codePage, std::string_view bytes, std::string* utf8) {
  utf8->clear();
  if (bytes.empty()) return true;
  if (bytes.size() > size_t(INT_MAX) / 4) return false;
  const DWORD flags = TakesNoFlags(codePage) ? 0 : MB_ERR_INVALID_CHARS;
  const int length = static_cast<int>(bytes.size());
  const int units =
      MultiByteToWideChar(codePage, flags, bytes.data(), length, nullptr, 0);
  if (units <= 0) return false;
  std::vector<WCHAR> wide(static_cast<size_t>(units));
  if (MultiByteToWideChar(codePage, flags, bytes.data(), length, wide.data(),
                          units) != units)
    return false;
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr,
                                       0, nullptr, nullptr);
  if (size <= 0) return false;
  utf8->resize(static_cast<size_t>(size));
  return WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, &(*utf8)[0], size,
                             nullptr, nullptr) == size;
}
