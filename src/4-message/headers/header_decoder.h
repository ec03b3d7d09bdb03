// Header values as text: RFC 2047 encoded words and raw 8-bit bytes to
// UTF-8.
#ifndef KORVANE_HEADERS_HEADER_DECODER_H_
#define KORVANE_HEADERS_HEADER_DECODER_H_

#include <string>
#include <string_view>

// The UTF-8 text of an unfolded header value (unstructured, or an address
// field such as From, To and Cc, which decode alike):
// - Encoded words ("=?charset?B?...?=", "=?charset?Q?...?=") are decoded
//   wherever they stand, also inside quotes, of any length. Blanks between
//   two of them are dropped, and the bytes of neighbouring words of one
//   charset are decoded together, so a character split between them reads
//   whole. A word of a charset without a code page, or that the system
//   cannot convert, or with bad base64, stays as written.
// - Other bytes from 0x80 are read as UTF-8 where they form it, else each
//   as a Windows-1252 character; so are the bytes of US-ASCII and UTF-8
//   words.
// - Control characters (C0, DEL, C1) come out as blanks, never raw: the
//   text may reach a terminal, a file name or a spreadsheet cell.
std::string DecodeHeaderValue(std::string_view raw);

#endif  // KORVANE_HEADERS_HEADER_DECODER_H_
