// Fields of a message's header block, by name, unfolded.
#ifndef KORVANE_HEADERS_HEADER_FIELDS_H_
#define KORVANE_HEADERS_HEADER_FIELDS_H_

#include <stddef.h>

#include <string>

// A field asked for, and what ReadHeaderFields found of it.
struct HeaderField {
  const char* name = nullptr;  // without the colon; any ASCII case matches
  bool found = false;
  std::string value;  // raw: unfolded, without the blanks around it
};

// The most bytes of one value kept; the rest is dropped. A header block
// may run to megabytes by mistake or malice, a value that is read is a
// line of the inventory or a file's name.
const size_t kMaxHeaderValue = 65536;

// Reads the header block of the message [text, end) (text may be null):
// its lines up to the first empty one, split as the writer splits lines
// (CR LF, a lone CR and a lone LF end one; a NUL ends the message). Fills
// each of the count fields with the first field of its name; a line that
// begins with a blank or tab continues the field before it, and the line
// end between them is dropped. Never reads at or beyond end; time linear
// in the bytes of the block.
void ReadHeaderFields(const unsigned char* text, const unsigned char* end,
                      HeaderField* fields, size_t count);

#endif  // KORVANE_HEADERS_HEADER_FIELDS_H_
