// MIME charset names and the code pages the system converts them with.
#ifndef KORVANE_HEADERS_CHARSETS_H_
#define KORVANE_HEADERS_CHARSETS_H_

#include <string>
#include <string_view>

#include "platform/win32.h"

const UINT kUsAsciiCodePage = 20127;
const UINT kUtf8CodePage = 65001;

// The code page of a MIME charset name (any case and spelling of its
// aliases: "ISO_8859-1", "latin1", "cp1252" ...), 0 for a name without
// one. An RFC 2231 language after "*" is passed over.
UINT CodePageOfCharset(std::string_view name);

// The UTF-8 form of bytes in a code page, through the system's conversion
// (MultiByteToWideChar, then WideCharToMultiByte to UTF-8); false where
// the system has no such code page or the bytes are no text in it.
bool CodePageToUtf8(UINT codePage, std::string_view bytes, std::string* utf8);

#endif  // KORVANE_HEADERS_CHARSETS_H_
