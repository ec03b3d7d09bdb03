#include "headers/header_decoder.h"

#include <stdint.h>
#include <string.h>

#include <utility>
#include <vector>

#include "bytes/utf8.h"
#include "headers/charsets.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool AllBlank(std::string_view text) {
  for (char c : text) {
    if (!IsBlank(c)) return false;
  }
  return true;
}

// Windows-1252 from 0x80 to 0x9F; its five holes read as the C1 code
// points of the same number, as Windows reads them.
const uint16_t kWindows1252From80[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Appends bytes read as UTF-8 where they form it, else as Windows-1252.
void AppendRaw(std::string_view bytes, std::string* out) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* const end = p + bytes.size();
  while (p < end) {
    const unsigned char* ascii = p;
    while (p < end && *p < 0x80) ++p;
    out->append(reinterpret_cast<const char*>(ascii), size_t(p - ascii));
    if (p == end) break;
    uint32_t c;
    const int n = ReadUtf8(p, end, &c);
    if (n > 0) {
      out->append(reinterpret_cast<const char*>(p), size_t(n));
      p += n;
    } else {
      AppendUtf8(out, *p < 0xA0 ? kWindows1252From80[*p - 0x80] : *p);
      ++p;
    }
  }
}

// The text with each control character as one blank. Blanks rather than
// escapes: the value stays readable and as long, and nothing the sender
// wrote can move a terminal's cursor or split a line of the inventory.
std::string BlankControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x20 || c == 0x7F) {
      out.push_back(' ');
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out.push_back(' ');  // U+0080 to U+009F; the text is UTF-8 here
      ++i;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Q: "_" is a blank, "=XX" a byte; an "=" without two hexadecimal digits
// stands for itself.
void DecodeQ(std::string_view text, std::string* out) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '_') {
      out->push_back(' ');
    } else if (c == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out->push_back(static_cast<char>(HexValue(text[i + 1]) * 16 +
                                       HexValue(text[i + 2])));
      i += 2;
    } else {
      out->push_back(c);
    }
  }
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// B: base64, its padding optional; false for anything else.
bool DecodeBase64(std::string_view text, std::string* out) {
  size_t length = text.size();
  for (int pad = 0; pad < 2 && length > 0 && text[length - 1] == '='; ++pad)
    --length;
  if (length % 4 == 1) return false;
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = 0; i < length; ++i) {
    const int v = Base64Value(text[i]);
    if (v < 0) return false;
    bits = bits << 6 | uint32_t(v);
    if (++count == 4) {
      out->push_back(static_cast<char>(bits >> 16));
      out->push_back(static_cast<char>(bits >> 8));
      out->push_back(static_cast<char>(bits));
      bits = 0, count = 0;
    }
  }
  if (count == 2) out->push_back(static_cast<char>(bits >> 4));
  if (count == 3) {
    out->push_back(static_cast<char>(bits >> 10));
    out->push_back(static_cast<char>(bits >> 2));
  }
  return true;
}

struct Word {
  size_t begin = 0, end = 0;  // in the raw value, "=?" to past "?="
  UINT codePage = 0;
  std::string bytes;  // decoded from B or Q, still in the charset
};

bool IsCharsetByte(unsigned char c) {
  return c > 0x20 && c < 0x7F && strchr("()<>@,;:\"/[]?.=", c) == nullptr;
}

// The encoded word at raw[at], which starts with "=?"; false where there
// is none, or one this program cannot decode. Each try reads at most to
// the third "?" after at (or a blank), so trying at every "=?" of a value
// costs linear time.
bool ReadWord(std::string_view raw, size_t at, Word* word) {
  const size_t charset = at + 2;
  size_t i = charset;
  while (i < raw.size() && raw[i] != '?') {
    if (!IsCharsetByte(static_cast<unsigned char>(raw[i])) || i - charset >= 64)
      return false;
    ++i;
  }
  if (i == charset || i + 2 >= raw.size() || raw[i + 2] != '?') return false;
  const char encoding = raw[i + 1];
  const size_t text = i + 3;
  for (i = text; i < raw.size() && raw[i] != '?'; ++i) {
    const unsigned char c = static_cast<unsigned char>(raw[i]);
    if (c <= 0x20 || c >= 0x7F) return false;
  }
  if (i + 1 >= raw.size() || raw[i + 1] != '=') return false;
  word->begin = at;
  word->end = i + 2;
  word->codePage = CodePageOfCharset(raw.substr(charset, text - 3 - charset));
  if (word->codePage == 0) return false;
  const std::string_view encoded = raw.substr(text, i - text);
  if (encoding == 'Q' || encoding == 'q') {
    DecodeQ(encoded, &word->bytes);
    return true;
  }
  return (encoding == 'B' || encoding == 'b') &&
         DecodeBase64(encoded, &word->bytes);
}

bool ToUtf8(UINT codePage, std::string_view bytes, std::string* utf8) {
  // Words labelled US-ASCII or UTF-8 often hold other 8-bit text: read as
  // raw bytes are, they decode always.
  if (codePage == kUsAsciiCodePage || codePage == kUtf8CodePage) {
    utf8->clear();
    AppendRaw(bytes, utf8);
    return true;
  }
  return CodePageToUtf8(codePage, bytes, utf8);
}

// Appends a run of encoded words with only blanks between them. Each
// stretch of one charset is decoded whole; where that fails, word by word,
// and a word that fails alone stays as written, with the blanks around it.
void FlushRun(std::string_view raw, std::vector<Word>* run, std::string* out) {
  const size_t n = run->size();
  std::vector<std::string> texts(n);
  std::vector<char> decoded(n, 0);
  for (size_t k = 0; k < n;) {
    size_t j = k + 1;
    std::string joined = (*run)[k].bytes;
    for (; j < n && (*run)[j].codePage == (*run)[k].codePage; ++j)
      joined += (*run)[j].bytes;
    if (ToUtf8((*run)[k].codePage, joined, &texts[k])) {
      for (size_t m = k; m < j; ++m) decoded[m] = 1;
    } else {
      for (size_t m = k; m < j; ++m)
        decoded[m] = ToUtf8((*run)[m].codePage, (*run)[m].bytes, &texts[m]);
    }
    k = j;
  }
  for (size_t m = 0; m < n; ++m) {
    const Word& w = (*run)[m];
    if (m > 0 && !(decoded[m - 1] && decoded[m])) {
      const size_t gap = (*run)[m - 1].end;
      AppendRaw(raw.substr(gap, w.begin - gap), out);
    }
    if (decoded[m])
      out->append(texts[m]);
    else
      AppendRaw(raw.substr(w.begin, w.end - w.begin), out);
  }
  run->clear();
}

}  // namespace

std::string DecodeHeaderValue(std::string_view raw) {
  // Most values are printable ASCII without encoded words.
  bool plain = raw.find("=?") == std::string_view::npos;
  for (size_t i = 0; plain && i < raw.size(); ++i)
    plain = raw[i] >= 0x20 && raw[i] < 0x7F;
  if (plain) return std::string(raw);

  std::string text;
  text.reserve(raw.size());
  std::vector<Word> run;
  size_t pending = 0;  // where the text not yet appended begins
  size_t at = raw.find("=?");
  while (at != std::string_view::npos) {
    Word word;
    if (!ReadWord(raw, at, &word)) {
      at = raw.find("=?", at + 1);
      continue;
    }
    const std::string_view between = raw.substr(pending, at - pending);
    if (run.empty() || !AllBlank(between)) {
      FlushRun(raw, &run, &text);
      AppendRaw(between, &text);
    }
    pending = word.end;
    run.push_back(std::move(word));
    at = raw.find("=?", pending);
  }
  FlushRun(raw, &run, &text);
  AppendRaw(raw.substr(pending), &text);
  return BlankControls(text);
}
