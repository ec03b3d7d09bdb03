#include "headers/header_fields.h"

#include <string.h>

#include "bytes/ascii.h"
#include "message/line_splitter.h"

namespace {

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t'; }

// The field name of a header line and where its value begins (after the
// colon); false where the line is no field. Blanks may stand between name
// and colon, as in old mail.
bool SplitField(const unsigned char* line, size_t length, size_t* nameLength,
                size_t* valueStart) {
  size_t i = 0;
  while (i < length && line[i] > 0x20 && line[i] < 0x7F && line[i] != ':') ++i;
  if (i == 0) return false;
  *nameLength = i;
  while (i < length && IsBlank(line[i])) ++i;
  if (i == length || line[i] != ':') return false;
  *valueStart = i + 1;
  return true;
}

bool SameName(const char* name, const unsigned char* line, size_t length) {
  if (FoldAscii(name[0]) != FoldAscii(static_cast<char>(line[0])) ||
      strlen(name) != length)
    return false;
  for (size_t i = 0; i < length; ++i) {
    if (FoldAscii(name[i]) != FoldAscii(static_cast<char>(line[i])))
      return false;
  }
  return true;
}

void Append(std::string* value, const unsigned char* bytes, size_t length) {
  if (value->size() >= kMaxHeaderValue) return;
  if (length > kMaxHeaderValue - value->size())
    length = kMaxHeaderValue - value->size();
  value->append(reinterpret_cast<const char*>(bytes), length);
}

void Trim(std::string* value) {
  size_t first = 0, last = value->size();
  while (first < last && IsBlank(static_cast<unsigned char>((*value)[first])))
    ++first;
  while (last > first &&
         IsBlank(static_cast<unsigned char>((*value)[last - 1])))
    --last;
  *value = value->substr(first, last - first);
}

}  // namespace

void ReadHeaderFields(const unsigned char* text, const unsigned char* end,
                      HeaderField* fields, size_t count) {
  for (size_t k = 0; k < count; ++k) {
    fields[k].found = false;
    fields[k].value.clear();
  }
  size_t missing = count;
  HeaderField* current = nullptr;  // the field a continuation line extends
  LineCursor line;
  line.nextLineStart = text;
  while (line.nextLineStart != nullptr) {
    SplitLine(line.nextLineStart, &line, end);
    if (line.lineStart == nullptr || line.lineLength == 0) break;
    const unsigned char* bytes = line.lineStart;
    const size_t length = size_t(line.lineLength);
    if (IsBlank(bytes[0])) {
      if (current != nullptr) Append(&current->value, bytes, length);
      continue;
    }
    current = nullptr;
    if (missing == 0) break;
    size_t nameLength, valueStart;
    if (!SplitField(bytes, length, &nameLength, &valueStart)) continue;
    for (size_t k = 0; k < count; ++k) {
      if (!fields[k].found && SameName(fields[k].name, bytes, nameLength)) {
        current = &fields[k];
        current->found = true;
        --missing;
        while (valueStart < length && IsBlank(bytes[valueStart])) ++valueStart;
        Append(&current->value, bytes + valueStart, length - valueStart);
        break;
      }
    }
  }
  for (size_t k = 0; k < count; ++k) {
    if (fields[k].found) Trim(&fields[k].value);
  }
}
