// Header fields read from a message's header block and decoded to UTF-8,
// on the cases that break decoders.
#include "headers/header_decoder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "headers/header_fields.h"

namespace {

struct Case {
  const char* what;
  std::string header;                   // the start of a message
  std::optional<std::string> expected;  // the decoded Subject, if any
};

std::string Repeat(const std::string& s, size_t n) {
  std::string r;
  while (n-- > 0) r += s;
  return r;
}

TEST(HeaderDecoderTest, DecodesSubjects) {
  const Case kCases[] = {
      {"folded", "Subject: Hello\r\n world\r\n\tagain\r\n\r\n",
       "Hello world again"},
      {"LF and lone CR", "To: x\nSubject: a\r b\n\nc", "a b"},
      {"value on the next line", "Subject:\r\n   late\r\nTo: x\r\n", "late"},
      {"first of its name, any case", "SUBJECT : one\r\nSubject: two\r\n",
       "one"},
      {"body is no header", "From: a\r\n\r\nSubject: no\r\n", std::nullopt},
      {"NUL ends the message", std::string("Subject: a\0b\r\n", 14), "a"},
      {"no header block", "\r\nSubject: no\r\n", std::nullopt},
      {"adjacent words", "Subject: =?utf-8?q?a?= \t=?UTF-8?Q?b?=\r\n", "ab"},
      {"adjacent, folded, two charsets",
       "Subject: =?iso-8859-1?q?caf=E9?=\r\n =?utf-8?b?w6k=?=\r\n", "caféé"},
      {"blanks kept beside text",
       "Subject: =?utf-8?q?a?= b =?utf-8?q?c?=", "a b c"},
      {"anywhere, in quotes",
       "Subject: x=?utf-8?q?y?=z \"=?utf-8?q?J=c3=b6rg?=\"", "xyz \"Jörg\""},
      {"split UTF-8 character",
       "Subject: =?utf-8?b?4oI=?= =?utf-8?b?rA==?=", "€"},
      {"split Shift_JIS character",
       "Subject: =?shift_jis?b?gg==?=\r\n =?SJIS?B?oA==?=", "あ"},
      {"cut Shift_JIS character stays",
       "Subject: =?utf-8?q?a?= =?shift_jis?b?gg==?=", "a =?shift_jis?b?gg==?="},
      {"unknown charset",
       "Subject: =?utf-8?q?a?= =?x-unknown?q?b?= =?utf-8?q?c?=",
       "a =?x-unknown?q?b?= c"},
      {"charset without code page",
       "Subject: =?iso-8859-10?q?b?=", "=?iso-8859-10?q?b?="},
      {"bad base64", "Subject: =?utf-8?b?w6k@?= =?utf-8?b?w?=",
       "=?utf-8?b?w6k@?= =?utf-8?b?w?="},
      {"underscore in Q", "Subject: =?utf-8?q?a_b=5F=3d?=", "a b_="},
      {"Q with a stray =", "Subject: =?utf-8?q?1=2?=", "1=2"},
      {"language and unknown encoding",
       "Subject: =?utf-8*de?q?x?= =?utf-8?x?y?=", "x =?utf-8?x?y?="},
      {"UTF-7, which takes no flags", "Subject: =?utf-7?q?+AOk-?=", "é"},
      {"KOI8-R", "Subject: =?koi8-r?b?8NLJ18XU?=", "Привет"},
      {"raw 8-bit", "Subject: caf\xC3\xA9 caf\xE9 \x93q\x94 \xE2\x82",
       "café café “q” â‚"},
      {"8-bit in a US-ASCII word", "Subject: =?us-ascii?q?=E9t=C3=A9?=", "été"},
      {"controls blanked", "Subject: =?utf-8?q?a=1B[1m=00=C2=85=7F?=\x01z",
       "a [1m    z"},
      {"over-long word", "Subject: =?utf-8?b?" + Repeat("w6nDqcOp", 200) + "?=",
       Repeat("é", 600)},
      {"over-long line", "Subject: " + std::string(100000, 'x') + "\r\n",
       std::string(kMaxHeaderValue, 'x')},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    HeaderField fields[2];
    fields[0].name = "To";
    fields[1].name = "subject";
    const unsigned char* text =
        reinterpret_cast<const unsigned char*>(c.header.data());
    ReadHeaderFields(text, text + c.header.size(), fields, 2);
    EXPECT_EQ(c.expected.has_value(), fields[1].found);
    if (c.expected) {
      EXPECT_EQ(*c.expected, DecodeHeaderValue(fields[1].value));
    }
  }
}

// Address fields decode alike; each field asked for gets its own value.
TEST(HeaderDecoderTest, ReadsSeveralFieldsInOnePass) {
  const std::string header =
      "From: =?utf-8?q?J=C3=B6rg?= <j@example.org>\r\n"
      "Cc: a@example.org,\r\n b@example.org\r\n"
      "Message-ID: <1@x>\r\n\r\nTo: body@example.org\r\n";
  HeaderField fields[4];
  const char* names[] = {"from", "to", "cc", "message-id"};
  for (int i = 0; i < 4; ++i) fields[i].name = names[i];
  const unsigned char* text =
      reinterpret_cast<const unsigned char*>(header.data());
  ReadHeaderFields(text, text + header.size(), fields, 4);
  EXPECT_EQ("Jörg <j@example.org>", DecodeHeaderValue(fields[0].value));
  EXPECT_FALSE(fields[1].found);
  EXPECT_EQ("a@example.org, b@example.org", fields[2].value);
  EXPECT_EQ("<1@x>", fields[3].value);
}

}  // namespace
