// The response reader keeps to its bounds and stays in step whatever the
// server sends; the parser tells the parts of each response apart.
#include "imap/response.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// A server's bytes, handed out chunk bytes at a time, then the end.
class MemoryStream : public ByteStream {
 public:
  MemoryStream(const std::string& bytes, size_t chunk)
      : bytes_(bytes), chunk_(chunk) {}
  NetStatus Read(char* buffer, size_t size, size_t* got) override {
    *got = std::min({size, chunk_, bytes_.size() - at_});
    if (*got == 0) return NetStatus::kClosed;
    bytes_.copy(buffer, *got, at_);
    at_ += *got;
    return NetStatus::kOk;
  }
  NetStatus Write(const char*, size_t) override { return NetStatus::kOk; }
  bool ReadableNow() override { return at_ < bytes_.size(); }

 private:
  std::string bytes_;
  size_t chunk_, at_ = 0;
};

std::string Literal(size_t size) {
  return "{" + std::to_string(size) + "}\r\n" + std::string(size, 'L');
}

TEST(ResponseReaderTest, KeepsToItsBoundsAndInStep) {
  const size_t line = ResponseReader::kMaxLine;
  const size_t literal = ResponseReader::kMaxLiteral;
  std::string manyLiterals = "* 1 FETCH (X";
  for (int i = 0; i < 1500; ++i) manyLiterals += " " + Literal(1) + "";
  manyLiterals += ")\r\n";
  const struct {
    std::string input;
    size_t lines, literals, firstLine, firstLiteral;
    bool cut;
  } kCases[] = {
      {"* OK hi\r\n", 1, 0, 7, 0, false},
      {"* OK bare line feed\n", 1, 0, 19, 0, false},
      {"* 1 FETCH (BODY[] " + Literal(5) + ")\r\n", 2, 1, 21, 5, false},
      {"* OK " + std::string(100000, 'x') + "\r\n", 1, 0, line, 0, true},
      {"* 1 FETCH (BODY[] " + Literal(200000) + ")\r\n", 2, 1, 26, literal,
       true},
      // Too big for 64 bits: no literal, the line as it is.
      {"* OK {99999999999999999999999}\r\n", 1, 0, 30, 0, false},
      {manyLiterals, ResponseReader::kMaxLiterals + 1,
       ResponseReader::kMaxLiterals, 16, 1, true},
  };
  for (const size_t chunk : {size_t(1), size_t(7), size_t(1) << 16}) {
    for (const auto& c : kCases) {
      const std::string what =
          c.input.substr(0, 40) + " by " + std::to_string(chunk);
      if (chunk == 1 && c.input.size() > 100000) continue;  // slow, no news
      MemoryStream stream(c.input + "K9 OK after\r\n", chunk);
      ResponseReader reader(&stream);
      RawResponse raw;
      ASSERT_EQ(NetStatus::kOk, reader.Next(&raw)) << what;
      EXPECT_EQ(c.lines, raw.lines.size()) << what;
      EXPECT_EQ(c.literals, raw.literals.size()) << what;
      EXPECT_EQ(c.firstLine, raw.lines[0].size()) << what;
      if (c.literals) {
        EXPECT_EQ(c.firstLiteral, raw.literals[0].size()) << what;
      }
      EXPECT_EQ(c.cut, raw.cut) << what;
      ASSERT_EQ(NetStatus::kOk, reader.Next(&raw)) << what;
      EXPECT_EQ("K9 OK after", raw.lines[0]) << what;
      EXPECT_EQ(NetStatus::kClosed, reader.Next(&raw)) << what;
    }
  }
  // A literal the server never finishes is the connection's end.
  MemoryStream cut("* 1 FETCH (BODY[] {10}\r\nabc", 4);
  ResponseReader reader(&cut);
  RawResponse raw;
  EXPECT_EQ(NetStatus::kClosed, reader.Next(&raw));
}

// Values in a compact form: atoms bare, strings quoted, lists in
// parentheses.
std::string Show(const std::vector<ImapValue>& values) {
  std::string text;
  for (const ImapValue& v : values) {
    if (!text.empty()) text += ' ';
    if (v.kind == ImapValue::kList) text += "(" + Show(v.items) + ")";
    if (v.kind == ImapValue::kString) text += "\"" + v.text + "\"";
    if (v.kind == ImapValue::kNil) text += "NIL";
    if (v.kind == ImapValue::kAtom) text += v.text;
  }
  return text;
}

TEST(ImapResponseTest, Parts) {
  const struct {
    std::vector<std::string> lines, literals;
    bool parses;
    ImapResponse::Kind kind;
    const char *tag, *word;
    uint32_t number;
    const char *code, *text, *data;
  } kCases[] = {
      {{"* OK [CAPABILITY IMAP4rev1 LITERAL+] Ready."},
       {},
       true,
       ImapResponse::kUntagged,
       "",
       "OK",
       0,
       "CAPABILITY IMAP4rev1 LITERAL+",
       "Ready.",
       ""},
      {{"K7 no [TOOBIG] Mail too big"},
       {},
       true,
       ImapResponse::kTagged,
       "K7",
       "NO",
       0,
       "TOOBIG",
       "Mail too big",
       ""},
      {{"+ go ahead"},
       {},
       true,
       ImapResponse::kContinuation,
       "",
       "",
       0,
       "",
       "go ahead",
       ""},
      {{"+"}, {}, true, ImapResponse::kContinuation, "", "", 0, "", "", ""},
      {{"* 23 EXISTS"},
       {},
       true,
       ImapResponse::kUntagged,
       "",
       "EXISTS",
       23,
       "",
       "",
       ""},
      {{"* LIST (\\HasNoChildren) \".\" \"a \\\"q\\\" b\""},
       {},
       true,
       ImapResponse::kUntagged,
       "",
       "LIST",
       0,
       "",
       "",
       "(\\HasNoChildren) \".\" \"a \"q\" b\""},
      {{"* LIST () NIL {3}", ""},
       {"x y"},
       true,
       ImapResponse::kUntagged,
       "",
       "LIST",
       0,
       "",
       "",
       "() NIL \"x y\""},
      {{"* 2 FETCH (UID 9 BODY[HEADER.FIELDS (MESSAGE-ID)] {4}", ")"},
       {"M: x"},
       true,
       ImapResponse::kUntagged,
       "",
       "FETCH",
       2,
       "",
       "",
       "(UID 9 BODY[HEADER.FIELDS (MESSAGE-ID)] \"M: x\")"},
      {{"K2 OK [APPENDUID 7 3:5] Append completed."},
       {},
       true,
       ImapResponse::kTagged,
       "K2",
       "OK",
       0,
       "APPENDUID 7 3:5",
       "Append completed.",
       ""},
      {{"* BYE"}, {}, true, ImapResponse::kUntagged, "", "BYE", 0, "", "", ""},
      {{"* 1 FETCH (" + std::string(40, '(')},
       {},
       false,
       ImapResponse::kUntagged,
       "",
       "FETCH",
       1,
       "",
       "",
       ""},
      {{"* 1 FETCH (\"open"},
       {},
       false,
       ImapResponse::kUntagged,
       "",
       "FETCH",
       1,
       "",
       "",
       ""},
      {{"* 1 FETCH (A))"},
       {},
       false,
       ImapResponse::kUntagged,
       "",
       "FETCH",
       1,
       "",
       "",
       ""},
      {{"K1 FETCH x"},
       {},
       false,
       ImapResponse::kTagged,
       "K1",
       "FETCH",
       0,
       "",
       "",
       ""},
      {{""}, {}, false, ImapResponse::kUntagged, "", "", 0, "", "", ""},
  };
  for (const auto& c : kCases) {
    RawResponse raw;
    raw.lines = c.lines;
    raw.literals = c.literals;
    ImapResponse r;
    ASSERT_EQ(c.parses, ParseResponse(raw, &r)) << c.lines[0];
    if (!c.parses) continue;
    EXPECT_EQ(c.kind, r.kind) << c.lines[0];
    EXPECT_EQ(c.tag, r.tag) << c.lines[0];
    EXPECT_EQ(c.word, r.word) << c.lines[0];
    EXPECT_EQ(c.number, r.number) << c.lines[0];
    EXPECT_EQ(c.code, r.code) << c.lines[0];
    EXPECT_EQ(c.text, r.text) << c.lines[0];
    EXPECT_EQ(c.data, Show(r.data)) << c.lines[0];
  }
}

}  // namespace
