#include "imap/response.h"

#include "bytes/ascii.h"

namespace {

const int kMaxDepth = 16;

// Walks the pieces of a response: the lines, with each literal standing
// where its "{n}" ends the line before it.
class Cursor {
 public:
  explicit Cursor(const RawResponse& raw) : raw(raw) {}

  bool AtEnd() const {
    return piece + 1 >= raw.lines.size() && pos >= Line().size();
  }
  char Peek() const { return pos < Line().size() ? Line()[pos] : '\0'; }
  void SkipSpaces() {
    while (pos < Line().size() && Line()[pos] == ' ') ++pos;
  }
  // The characters up to the next space (the word after a tag or "*").
  std::string Word() {
    const size_t begin = pos;
    while (pos < Line().size() && Line()[pos] != ' ') ++pos;
    return Line().substr(begin, pos - begin);
  }
  // The rest of the current line.
  std::string Rest() {
    const std::string rest = Line().substr(pos);
    pos = Line().size();
    return rest;
  }

  bool Value(ImapValue* value, int depth) {
    SkipSpaces();
    const char c = Peek();
    if (c == '(') return List(value, depth);
    if (c == '"') return Quoted(value);
    if (LiteralHere()) {
      value->kind = ImapValue::kString;
      value->text = raw.literals[piece];
      ++piece;
      pos = 0;
      return true;
    }
    return Atom(value);
  }

  bool Values(std::vector<ImapValue>* values, int depth, char close) {
    for (;;) {
      SkipSpaces();
      if (close ? Peek() == close : AtEnd()) return true;
      if (pos >= Line().size()) return false;  // a line ended inside a list
      values->emplace_back();
      if (!Value(&values->back(), depth)) return false;
    }
  }

 private:
  const std::string& Line() const { return raw.lines[piece]; }

  // A literal's "{n}" (or "~{n}") ending the line, with its bytes kept.
  bool LiteralHere() const {
    if (piece >= raw.literals.size()) return false;
    size_t at = pos;
    if (Peek() == '~') ++at;
    if (at >= Line().size() || Line()[at] != '{') return false;
    uint64_t count = 0;
    return LiteralAtEnd(Line().substr(at), &count) &&
           Line().find('}', at) == Line().size() - 1;
  }

  bool List(ImapValue* value, int depth) {
    if (depth >= kMaxDepth) return false;
    value->kind = ImapValue::kList;
    ++pos;
    if (!Values(&value->items, depth + 1, ')')) return false;
    ++pos;
    return true;
  }

  bool Quoted(ImapValue* value) {
    value->kind = ImapValue::kString;
    const std::string& line = Line();
    for (++pos; pos < line.size(); ++pos) {
      char c = line[pos];
      if (c == '"') {
        ++pos;
        return true;
      }
      if (c == '\\' && pos + 1 < line.size()) c = line[++pos];
      value->text += c;
    }
    return false;
  }

  bool Atom(ImapValue* value) {
    const std::string& line = Line();
    const size_t begin = pos;
    int brackets = 0;
    while (pos < line.size()) {
      const char c = line[pos];
      if (c == '[') ++brackets;
      if (c == ']' && brackets > 0) --brackets;
      if (brackets == 0 && (c == ' ' || c == '(' || c == ')')) break;
      ++pos;
    }
    if (pos == begin) return false;
    value->text = line.substr(begin, pos - begin);
    value->kind =
        FoldedAscii(value->text) == "nil" ? ImapValue::kNil : ImapValue::kAtom;
    return true;
  }

  const RawResponse& raw;
  size_t piece = 0;
  size_t pos = 0;
};

bool ParseNumber(const std::string& text, uint32_t* number) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<unsigned>(c - '0');
  }
  if (n > UINT32_MAX) return false;
  *number = static_cast<uint32_t>(n);
  return true;
}

// "[code] text" after a status word.
void StatusRest(Cursor* cursor, ImapResponse* out) {
  cursor->SkipSpaces();
  std::string rest = cursor->Rest();
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close != std::string::npos) {
      out->code = rest.substr(1, close - 1);
      rest.erase(0, close + 1);
      if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
    }
  }
  out->text = rest;
}

}  // namespace

bool ImapResponse::IsStatus() const {
  return word == "OK" || word == "NO" || word == "BAD" || word == "BYE" ||
         word == "PREAUTH";
}

std::string ImapResponse::CodeName() const {
  return UpperAscii(code.substr(0, code.find(' ')));
}

bool ParseResponse(const RawResponse& raw, ImapResponse* out) {
  *out = ImapResponse();
  if (raw.lines.empty() || raw.lines.size() != raw.literals.size() + 1)
    return false;
  Cursor cursor(raw);
  const std::string tag = cursor.Word();
  if (tag == "+") {
    out->kind = ImapResponse::kContinuation;
    cursor.SkipSpaces();
    out->text = cursor.Rest();
    return true;
  }
  if (tag.empty()) return false;
  out->kind = tag == "*" ? ImapResponse::kUntagged : ImapResponse::kTagged;
  if (out->kind == ImapResponse::kTagged) out->tag = tag;
  cursor.SkipSpaces();
  std::string word = cursor.Word();
  if (out->kind == ImapResponse::kUntagged && ParseNumber(word, &out->number)) {
    cursor.SkipSpaces();
    word = cursor.Word();
  }
  out->word = UpperAscii(word);
  if (out->word.empty()) return false;
  if (out->IsStatus()) {
    StatusRest(&cursor, out);
    return true;
  }
  if (out->kind == ImapResponse::kTagged) return false;
  return cursor.Values(&out->data, 0, '\0');
}

const ImapValue* FetchItem(const ImapResponse& fetch, const char* item) {
  if (fetch.data.empty() || fetch.data[0].kind != ImapValue::kList)
    return nullptr;
  const std::vector<ImapValue>& items = fetch.data[0].items;
  const std::string wanted = FoldedAscii(item);
  for (size_t i = 0; i + 1 < items.size(); i += 2) {
    if (items[i].kind == ImapValue::kAtom &&
        FoldedAscii(items[i].text) == wanted)
      return &items[i + 1];
  }
  return nullptr;
}
