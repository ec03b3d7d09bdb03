#include "eml/eml_name.h"

#include <stdio.h>
#include <string.h>

#include "bytes/ascii.h"
#include "bytes/utf8.h"

namespace {

// The most bytes of a name on the file systems of both (Windows counts
// UTF-16 units, which are never more than UTF-8's bytes).
const size_t kMaxNameBytes = 255;

bool IsDeviceName(std::string_view stem) {
  static const char* const kNames[] = {"con", "prn",    "aux",
                                       "nul", "conin$", "conout$"};
  const std::string folded = FoldedAscii(std::string(stem));
  for (const char* name : kNames) {
    if (folded == name) return true;
  }
  if (folded.size() < 4 ||
      (folded.compare(0, 3, "com") != 0 && folded.compare(0, 3, "lpt") != 0))
    return false;
  const std::string_view digit = std::string_view(folded).substr(3);
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') ||
         digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

bool IsTrailingJunk(char c) { return c == ' ' || c == '.'; }

// The marks and overrides of writing direction: in a name they can make
// "\u202Egpj.eml" show as "lme.jpg".
bool IsDirectionControl(uint32_t c) {
  return c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string SafeNamePart(std::string_view text, size_t maxCharacters,
                         size_t maxBytes) {
  std::string part;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = p + text.size();
  while (p < end && *p == ' ') ++p;
  for (size_t characters = 0; p < end && characters < maxCharacters;
       ++characters) {
    uint32_t c;
    int n = ReadUtf8(p, end, &c);
    const bool unsafe =
        n == 0 || c < 0x20 || (c >= 0x7F && c <= 0x9F) ||
        (c < 0x80 && strchr("<>:\"/\\|?*", int(c)) != nullptr) ||
        IsDirectionControl(c);
    if (n == 0) n = 1;
    const size_t size = unsafe ? 1 : size_t(n);
    if (part.size() + size > maxBytes) break;
    if (unsafe)
      part.push_back('_');
    else
      part.append(reinterpret_cast<const char*>(p), size);
    p += n;
  }
  while (!part.empty() && IsTrailingJunk(part.back())) part.pop_back();
  size_t stem = part.find('.');
  if (stem == std::string::npos) stem = part.size();
  while (stem > 0 && part[stem - 1] == ' ') --stem;
  if (IsDeviceName(std::string_view(part).substr(0, stem))) {
    if (part.size() < maxBytes)
      part.insert(stem, 1, '_');
    else
      part[0] = '_';  // each device name begins with an ASCII letter
  }
  return part;
}

std::string EmlFileName(uint64_t index, const SYSTEMTIME& utcDate,
                        std::string_view subject) {
  char start[64];
  snprintf(start, sizeof start, "%06llu %04u-%02u-%02u",
           static_cast<unsigned long long>(index), unsigned(utcDate.wYear),
           unsigned(utcDate.wMonth), unsigned(utcDate.wDay));
  std::string name = start;
  const size_t room = kMaxNameBytes - name.size() - strlen(" .eml");
  const std::string part = SafeNamePart(subject, kEmlSubjectCharacters, room);
  if (!part.empty()) name += " " + part;
  return name + ".eml";
}
