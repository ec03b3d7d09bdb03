#include "framing/message_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "date/mail_date.h"
#include "framing/write_behind_sink.h"
#include "io/paths.h"
#include "maildir/maildir_sink.h"
#include "mbox/mbox_sink.h"
#include "mbox_model.h"
#include "message/plain_blocks.h"
#include "test_support.h"

namespace {

using testing_support::TempDir;

const uint64_t kSep9th2001 = 126444736000000000ULL;  // Sun 01:46:40 UTC
const uint64_t kUnitsPerMinute = 600000000ULL;
const uint64_t kNow = 132223104000000000ULL;         // 2020-01-01 00:00:00 UTC
const uint64_t kLowerBound = 119284704000000000ULL;  // 1979-01-01

FILETIME FromUnits(uint64_t units) {
  FILETIME t;
  t.dwLowDateTime = static_cast<DWORD>(units);
  t.dwHighDateTime = static_cast<DWORD>(units >> 32);
  return t;
}

uint64_t Units(FILETIME t) {
  return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

WriterOptions FixedClock() {
  WriterOptions options;
  options.currentTime = FromUnits(kNow);
  options.lowerTimeBound = FromUnits(kLowerBound);
  return options;
}

// A writer with a fixed clock, writing into a file of a temporary folder.
class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    name = dir.File("out.mbx");
    ASSERT_TRUE(mailbox.Open(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                             CREATE_ALWAYS));
  }

  // Everything written so far.
  std::string Output() {
    EXPECT_TRUE(writer.Finish());
    EXPECT_TRUE(mailbox.Close());
    return testing_support::ReadFileOrEmpty(name);
  }

  std::string Entry(const std::string& message, bool alternativeScan = false,
                    uint64_t time = kSep9th2001) {
    writer.options.alternativeScan = alternativeScan;
    storedTime = FromUnits(time);
    writer.WriteMessage(reinterpret_cast<const unsigned char*>(message.data()),
                        static_cast<int32_t>(message.size()), &storedTime);
    return Output();
  }

  TempDir dir;
  std::string name;
  FileStream mailbox;
  MboxSink sink{&mailbox};
  MessageWriter writer{&sink, kMboxFraming, FixedClock()};
  FILETIME storedTime;  // what the entry left for the next message
};

const std::string kEnvelopeDate = "  Sun Sep 9 01:46:40 2001\n";

std::string Envelope(const std::string& sender) {
  return "From " + sender + kEnvelopeDate;
}

// The entry of a message as the suite's model has it, with the date above.
std::string ModelOutput(const std::string& message, bool alternativeScan) {
  mbox_model::Entry entry = mbox_model::ModelEntry(message, alternativeScan);
  EXPECT_FALSE(entry.headerBlock);
  return (entry.ownEnvelope ? "" : Envelope(entry.sender)) + entry.lines + "\n";
}

struct EntryCase {
  const char* what;
  std::string message;
  std::string expected;
};

// Tests are named by index; a failure names the case by what it checks.
void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.what; }

class EntryTest : public WriterTest,
                  public ::testing::WithParamInterface<EntryCase> {};

TEST_P(EntryTest, Writes) {
  SCOPED_TRACE(GetParam().what);
  EXPECT_EQ(GetParam().expected, Entry(GetParam().message));
  EXPECT_EQ(GetParam().expected, ModelOutput(GetParam().message, false));
}

const EntryCase kEntries[] = {
    {"CR LF ends become LF, Return-Path gives the sender",
     "Return-Path: <a@example.org>\r\nSubject: hi\r\n\r\nbody\r\n",
     Envelope("a@example.org") +
         "Return-Path: <a@example.org>\nSubject: hi\n\nbody\n\n"},
    {"lone CR, lone LF and LF CR", "Subject: x\rA: b\n\nc\n\rd",
     Envelope("korvane") + "Subject: x\nA: b\n\nc\n\nd\n\n"},
    {"From: with a display name gives the address",
     "From: John Doe <john@example.org>\n\nbody",
     Envelope("john@example.org") +
         "From: John Doe <john@example.org>\n\nbody\n\n"},
    {"From: without angle brackets is one word in the envelope only",
     "From: john@example.org (John Doe)\n\nx\n",
     Envelope("john@example.org-(John-Doe)") +
         "From: john@example.org (John Doe)\n\nx\n\n"},
    {"tabs and other control bytes become dashes too",
     "From: a\tb\x01"
     "c\x7f"
     "d\n\nx\n",
     Envelope("a-b-c-d") + "From: a\tb\x01"
                           "c\x7f"
                           "d\n\nx\n\n"},
    {"8-bit sender bytes too, in the envelope line only",
     "From: joerg@example.de (J\xc3\xb6rg M\xfcller)\n\n",
     Envelope("joerg@example.de-(J--rg-M-ller)") +
         "From: joerg@example.de (J\xc3\xb6rg M\xfcller)\n\n\n"},
    {"text after the closing bracket stays", "From: <a@b> x\n\n",
     Envelope("a@b>-x") + "From: <a@b> x\n\n\n"},
    {"header names in any case", "RETURN-PATH: <up@example.org>\n\n",
     Envelope("up@example.org") + "RETURN-PATH: <up@example.org>\n\n\n"},
    {"Return-Path of only brackets gives the program's name",
     "Return-Path: <>\nFrom: later@example.org\n\n",
     Envelope("korvane") + "Return-Path: <>\nFrom: later@example.org\n\n\n"},
    {"Return-Path without a value is no match",
     "Return-Path: \nFrom: b@example.org\n\n",
     Envelope("b@example.org") + "Return-Path: \nFrom: b@example.org\n\n\n"},
    {"Return-Path without the blank is no match",
     "Return-Path:<a@example.org>\n\n",
     Envelope("korvane") + "Return-Path:<a@example.org>\n\n\n"},
    {"the first of From: and Return-Path: decides",
     "From: first@example.org\nReturn-Path: <second@example.org>\n\n",
     Envelope("first@example.org") +
         "From: first@example.org\nReturn-Path: <second@example.org>\n\n\n"},
    {"a From: line of the body is no sender",
     "Subject: s\n\nFrom: body@example.org\n",
     Envelope("korvane") + "Subject: s\n\nFrom: body@example.org\n\n"},
    {"From lines are quoted, other spellings are not",
     "Subject: s\n\nFrom here\nFrom \nfrom x\n From x\n>From x\nFromx\n",
     Envelope("korvane") +
         "Subject: s\n\n>From here\n>From \nfrom x\n From x\n>From x\n"
         "Fromx\n\n"},
    {"a header line of exactly \"From \" is quoted", "A: b\nFrom \n\nx",
     Envelope("korvane") + "A: b\n>From \n\nx\n\n"},
    {"a first line of the envelope form is the message's own: none is "
     "added, and only that line is not quoted",
     "From me@example.org Sat Jan  1 00:00:00 2000\nFrom x\nFrom: a@b\n\n"
     "From body\n",
     "From me@example.org Sat Jan  1 00:00:00 2000\n>From x\nFrom: a@b\n\n"
     ">From body\n\n"},
    {"an envelope line after the first is quoted, the search goes on",
     "X: y\nFrom me@example.org Sat Jan  1 00:00:00 2000\nFrom: a@b\n\n",
     Envelope("a@b") + "X: y\n>From me@example.org Sat Jan  1 00:00:00 "
                       "2000\nFrom: a@b\n\n\n"},
    {"a first \"From \" line not of the envelope form is an ordinary line",
     "From dave@example.org Fri, 16 Mar 2007 19:46:14 +0000\n"
     "Return-Path: <dave@example.org>\n\nx\n",
     Envelope("dave@example.org") +
         ">From dave@example.org Fri, 16 Mar 2007 19:46:14 +0000\n"
         "Return-Path: <dave@example.org>\n\nx\n\n"},
    {"a NUL ends the message", std::string("A: b\nline\0rest\nmore", 19),
     Envelope("korvane") + "A: b\nline\n\n"},
    {"a NUL right after a line end", std::string("A: b\n\0rest", 10),
     Envelope("korvane") + "A: b\n\n"},
    {"the last line without a line end", "A: b\n\nlast",
     Envelope("korvane") + "A: b\n\nlast\n\n"},
    {"normal scan: an empty first line gets no header block", "\nbody\n",
     Envelope("korvane") + "\nbody\n\n"},
    {"normal scan: a record header at the end is written",
     "A: b\n\x21\x09\x70\x19\x30",
     Envelope("korvane") + "A: b\n\x21\x09\x70\x19\x30\n\n"},
};

INSTANTIATE_TEST_SUITE_P(Messages, EntryTest, ::testing::ValuesIn(kEntries),
                         [](const ::testing::TestParamInfo<EntryCase>& info) {
                           return "Case" + std::to_string(info.index);
                         });

TEST_F(WriterTest, RecoveredMessageRules) {
  struct Case {
    const char* what;
    std::string message;
    std::string expected;
  } cases[] = {
      {"a first line without a colon: no sender from later lines",
       "garbage line\nFrom: a@example.org\n\nx",
       Envelope("korvane") + "garbage line\nFrom: a@example.org\n\nx\n\n"},
      {"a colon only in the last two bytes counts as none",
       "garbage:\nFrom: a@example.org\n\n",
       Envelope("korvane") + "garbage:\nFrom: a@example.org\n\n\n"},
      {"a colon before that makes it a header line",
       "Xgarbage: y\nFrom: a@example.org\n\n",
       Envelope("a@example.org") + "Xgarbage: y\nFrom: a@example.org\n\n\n"},
      {"a record header on the last line is left out",
       "A: b\nx\n\x21\x09\x70\x19\x30\x00",
       Envelope("korvane") + "A: b\nx\n\n"},
      {"the same bytes on another line are written",
       "A: b\n\x21\x09\x70\x19\x30\nx",
       Envelope("korvane") + "A: b\n\x21\x09\x70\x19\x30\nx\n\n"},
      {"four of the bytes are not enough", "A: b\n\x21\x09\x70\x19",
       Envelope("korvane") + "A: b\n\x21\x09\x70\x19\n\n"},
      {"a first \"From \" line without a colon is no header line either",
       "From x y\nFrom: a@example.org\n\n",
       Envelope("korvane") + ">From x y\nFrom: a@example.org\n\n\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(mailbox.Open(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                             CREATE_ALWAYS));
    EXPECT_EQ(c.expected, Entry(c.message, true));
    EXPECT_EQ(c.expected, ModelOutput(c.message, true));
  }
}

TEST_F(WriterTest, RecoveredMessageWithoutHeadersGetsAHeaderBlock) {
  std::string out = Entry("\r\nbody text\r\n", true);
  std::string head = Envelope("korvane") +
                     "Date: Sun, 9 Sep 2001 01:46:40 +0000\n"
                     "From: korvane\n"
                     "To: ";
  ASSERT_EQ(head, out.substr(0, head.size()));
  size_t toEnd = out.find('\n', head.size());
  std::string to = out.substr(head.size(), toEnd - head.size());
  EXPECT_NE(std::string::npos, to.find('@')) << to;
  for (char c : to) EXPECT_FALSE(c >= 'A' && c <= 'Z') << to;
  EXPECT_EQ(
      "\nSubject: recovered message\nX-Mailer: korvane\n\n\nbody text\n\n",
      out.substr(toEnd));
}

TEST_F(WriterTest, LongSenderIsCutAndTheEnvelopeWrittenWhole) {
  std::string address(300, 'a');
  std::string out = Entry("Return-Path: <" + address + ">\n\n");
  EXPECT_EQ(
      Envelope(std::string(255, 'a')) + "Return-Path: <" + address + ">\n\n\n",
      out);
}

// Each case is a message with the time, then a run of three whose time
// stamps did not convert: the scanner left them the time the writer stored
// back, and they get the same envelope.
TEST_F(WriterTest, EnvelopeTimeBoundsAndBias) {
  struct Case {
    const char* what;
    uint64_t time;
    LONG bias;
    uint64_t expected;  // the envelope's time
  } cases[] = {
      {"in range", kSep9th2001, 0, kSep9th2001},
      {"the lower bound itself", kLowerBound, 0, kLowerBound},
      {"one unit below it", kLowerBound - 1, 0, kNow},
      {"zero", 0, 0, kNow},
      {"the current time itself", kNow, 0, kNow},
      {"one unit later", kNow + 1, 0, kNow},
      {"negative as a signed number", 0x8000000000000000ULL, 0, kNow},
      {"three hours east", kSep9th2001, -180,
       kSep9th2001 - 180 * kUnitsPerMinute},
      {"five and a half hours east", kSep9th2001, -330,
       kSep9th2001 - 330 * kUnitsPerMinute},
      {"five hours west", kSep9th2001, 300,
       kSep9th2001 + 300 * kUnitsPerMinute},
      {"bias applies to the replacement too", 0, 60,
       kNow + 60 * kUnitsPerMinute},
  };
  const std::string text = "A: b\n";
  const unsigned char* bytes =
      reinterpret_cast<const unsigned char*>(text.data());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(mailbox.Open(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                             CREATE_ALWAYS));
    writer.options.timeZoneBias = c.bias;
    FILETIME time = FromUnits(c.time);
    writer.WriteMessage(bytes, 5, &time);
    EXPECT_EQ(c.expected - uint64_t(int64_t(c.bias)) * kUnitsPerMinute,
              Units(time))
        << "stored back: the time before the bias";
    for (int i = 0; i < 3; ++i) writer.WriteMessage(bytes, 5, &time);
    FILETIME e = FromUnits(c.expected);
    SYSTEMTIME t;
    ASSERT_TRUE(FileTimeToSystemTime(&e, &t));
    char envelope[128];
    snprintf(envelope, sizeof envelope,
             "From korvane  %s %s %d %02d:%02d:%02d %d\n",
             DayName(t.wDayOfWeek), MonthName(t.wMonth - 1), t.wDay, t.wHour,
             t.wMinute, t.wSecond, t.wYear);
    const std::string entry = envelope + text + "\n";
    EXPECT_EQ(entry + entry + entry + entry, Output());
  }
}

TEST_F(WriterTest, DayOfMonthHasNoPadding) {
  // 2001-09-05 01:46:40: four days before the 9th.
  std::string out =
      Entry("A: b\n", false, kSep9th2001 - 4 * 24 * 60 * kUnitsPerMinute);
  EXPECT_EQ("From korvane  Wed Sep 5 01:46:40 2001\nA: b\n\n", out);
}

// Entries gather and reach the output in large pieces: a failed write shows
// when the gathered output is handed on, at the end of the run or once an
// entry fills the buffer, and from then on every entry fails.
TEST(WriterFailureTest, AFailedWriteFailsEveryLaterEntry) {
  const std::string small = "A: b\n";
  const std::string large = "A: b\n\n" + std::string(300000, 'x') + "\n";
  for (int variant = 0; variant < 4; ++variant) {
    const bool fillsTheBuffer = variant & 1, writeBehind = variant & 2;
    FileStream closed;  // its handle is invalid: every write fails
    std::unique_ptr<MessageSink> sink(new MboxSink(&closed));
    if (writeBehind) sink.reset(new WriteBehindSink(std::move(sink), nullptr));
    MessageWriter writer(sink.get(), kMboxFraming, FixedClock());
    const std::string& text = fillsTheBuffer ? large : small;
    FILETIME time = FromUnits(kSep9th2001);
    const bool first =
        writer.WriteMessage(reinterpret_cast<const unsigned char*>(text.data()),
                            int32_t(text.size()), &time);
    // The write thread's failure may show only at the next hand-on.
    if (!writeBehind) {
      EXPECT_EQ(!fillsTheBuffer, first);
    }
    EXPECT_FALSE(writer.Finish());
    EXPECT_TRUE(writer.Failed());
    EXPECT_FALSE(writer.WriteError().IsOk());
    EXPECT_FALSE(writer.WriteMessage(
        reinterpret_cast<const unsigned char*>(small.data()), 5, &time));
    EXPECT_EQ(0u, writer.BytesWritten());
  }
}

// Pseudo-random message text rich in what the line rules care about.
std::string Scramble(uint64_t seed, size_t size, int nulOneIn) {
  static const char* const kPieces[] = {
      "\r\n",
      "\r\n",
      "\r\n",
      "\n",
      "\r",
      "\n\r",
      "\r\r\n",
      "From ",
      "From: a@b",
      "F",
      "Friday",
      "!",
      "\x21\x09\x70\x19\x30",
      "x",
      "plain words of an ordinary line",
      "From\r\n",
      "\r\n\r\n\r\n\r\nshort\r\nlines\r\n",
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"};
  std::string text;
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  while (text.size() < size) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    unsigned r = unsigned(state >> 33);
    if (nulOneIn > 0 && r % unsigned(nulOneIn) == 0) {
      text += '\0';
      continue;
    }
    // Mostly long plain runs, so that whole blocks pass untouched.
    if (r % 3 != 0) {
      text += "long ordinary text that fills blocks without events, ";
      if (r % 5 == 0) text += "\r\n";
      continue;
    }
    text += kPieces[(r >> 8) % (sizeof kPieces / sizeof kPieces[0])];
  }
  return text;
}

// Each block conversion, and none: lines one by one only.
class BlockConversionTest
    : public WriterTest,
      public ::testing::WithParamInterface<BlockConversion> {};

// The same message as a Maildir file: its lines as the mbox entry has them,
// without the quoting and without a line that is its own envelope.
std::string MaildirFileFromModel(const std::string& message,
                                 bool alternativeScan) {
  mbox_model::Entry entry = mbox_model::ModelEntry(message, alternativeScan);
  std::vector<std::string> lines = mbox_model::MessageLines(message);
  lines.resize(std::count(entry.lines.begin(), entry.lines.end(), '\n'));
  std::string file;
  for (size_t i = entry.ownEnvelope ? 1 : 0; i < lines.size(); ++i)
    file += lines[i] + "\n";
  return file;
}

// Keeps each message a sink is given.
class StringSink : public MessageSink {
 public:
  Status Begin(const MessageFacts&) override {
    message.clear();
    return Status::Ok();
  }
  Status WriteBytes(const void* bytes, size_t count) override {
    message.append(static_cast<const char*>(bytes), count);
    return Status::Ok();
  }
  Status Finish() override { return Status::Ok(); }
  uint64_t BytesWritten() const override { return message.size(); }
  std::string message;
};

std::string WithCrLf(const std::string& lines) {
  std::string out;
  for (char c : lines) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

TEST_P(BlockConversionTest, LongMessagesMatchTheLineRules) {
  writer.options.convertBlocks = PlainBlockConverterOf(GetParam());
  if (GetParam() != BlockConversion::kNone &&
      writer.options.convertBlocks == nullptr)
    GTEST_SKIP() << "not on this processor";
  const std::string folder = dir.File("maildir");
  ASSERT_EQ(DWORD{ERROR_SUCCESS}, CreateMaildir(folder, false));
  MaildirSink toMaildir(folder);
  int checked = 0;
  for (uint64_t seed = 1; seed <= 120; ++seed) {
    for (bool alternativeScan : {false, true}) {
      size_t size = seed % 7 == 0 ? 300000 : 200 + seed * 97;
      int nulOneIn = seed % 4 == 0 ? 4000 : 0;
      std::string body = Scramble(seed, size, nulOneIn);
      // With an envelope line of its own, with a "From " line that is
      // none, and with neither.
      static const char* const kFirstLines[] = {
          "From me Sat Jan  1 00:00:00 2000\r\n",
          "From me Sat, 1 Jan 2000 00:00:00 +0000\r\n",
          "Return-Path: <a@example.org>\r\n"};
      std::string message = kFirstLines[seed % 3] + body;
      std::string expected = ModelOutput(message, alternativeScan);
      SCOPED_TRACE("seed " + std::to_string(seed) +
                   (alternativeScan ? " -a" : ""));
      ASSERT_TRUE(mailbox.Open(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                               CREATE_ALWAYS));
      ASSERT_EQ(expected, Entry(message, alternativeScan));
      MessageWriter maildirWriter(&toMaildir, kMaildirFraming, writer.options);
      ASSERT_TRUE(maildirWriter.WriteMessage(
          reinterpret_cast<const unsigned char*>(message.data()),
          static_cast<int32_t>(message.size()), &storedTime));
      const std::string file = MaildirFileFromModel(message, alternativeScan);
      ASSERT_EQ(file, testing_support::ReadFileOrEmpty(
                          JoinPath(folder, toMaildir.LastPlace())));
      // The same message file with CR LF line ends, as a server takes it.
      const Framing crLf = {false, LineEnds::kCrLf};
      StringSink network;
      MessageWriter networkWriter(&network, crLf, writer.options);
      ASSERT_TRUE(networkWriter.WriteMessage(
          reinterpret_cast<const unsigned char*>(message.data()),
          static_cast<int32_t>(message.size()), &storedTime));
      ASSERT_EQ(WithCrLf(file), network.message);
      ++checked;
    }
  }
  EXPECT_EQ(240, checked);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, BlockConversionTest,
    ::testing::Values(BlockConversion::kSse2, BlockConversion::kAvx2,
                      BlockConversion::kAvx512, BlockConversion::kNone),
    [](const ::testing::TestParamInfo<BlockConversion>& info) {
      return std::string(BlockConversionName(info.param));
    });

TEST_F(WriterTest, ALineLongerThanTheOutputBufferIsWrittenWhole) {
  std::string longLine(400000, 'y');
  std::string message = "A: b\r\n\r\nFrom " + longLine + "\r\nend\r\n";
  EXPECT_EQ(Envelope("korvane") + "A: b\n\n>From " + longLine + "\nend\n\n",
            Entry(message));
}

// The wider block conversions stop where the 16-byte one does, with the
// same bytes.
TEST(PlainBlocksTest, ConversionsAgree) {
  PlainBlockConverter reference = PlainBlockConverterOf(BlockConversion::kSse2);
  int compared = 0;
  for (BlockConversion kind :
       {BlockConversion::kAvx2, BlockConversion::kAvx512}) {
    PlainBlockConverter wide = PlainBlockConverterOf(kind);
    if (reference == nullptr || wide == nullptr) continue;
    SCOPED_TRACE(BlockConversionName(kind));
    for (uint64_t seed = 1; seed <= 400; ++seed) {
      std::string text = Scramble(seed, 5000, seed % 2 ? 3000 : 0);
      const unsigned char* begin =
          reinterpret_cast<const unsigned char*>(text.data());
      const unsigned char* end = begin + text.size();
      for (size_t offset : {size_t(0), size_t(seed % 61)}) {
        for (bool recordStart : {false, true}) {
          std::vector<unsigned char> a(8192), b(8192);
          const unsigned char* fromA = begin + offset;
          const unsigned char* fromB = begin + offset;
          size_t room = 300 + seed * 13;
          size_t nA = reference(&fromA, end, a.data(), room, recordStart);
          size_t nB = wide(&fromB, end, b.data(), room, recordStart);
          // The wide one may go on where the 16-byte one lacks its reach.
          if (size_t(end - fromA) >= kPlainBlockReach) {
            ASSERT_EQ(fromA, fromB) << seed;
            ASSERT_EQ(nA, nB) << seed;
          } else {
            ASSERT_LE(fromA, fromB) << seed;
            ASSERT_LE(nA, nB) << seed;
          }
          ASSERT_TRUE(std::equal(a.begin(), a.begin() + nA, b.begin()));
          // What was converted is the text without its CRs.
          std::string converted(reinterpret_cast<const char*>(a.data()), nA);
          std::string source(reinterpret_cast<const char*>(begin + offset),
                             size_t(fromA - (begin + offset)));
          source.erase(std::remove(source.begin(), source.end(), '\r'),
                       source.end());
          ASSERT_EQ(source, converted);
        }
      }
    }
    ++compared;
  }
  if (compared == 0) GTEST_SKIP() << "one conversion only on this processor";
}

// The writer takes the widest conversion the processor has (asked here
// with the compiler's own test) or, in a build that pins one, that one
// where the processor has it: the wide ones are in every build, the
// Windows build's too.
TEST(PlainBlocksTest, TheWriterTakesTheWidestThereIs) {
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
  __builtin_cpu_init();
  BlockConversion widest = __builtin_cpu_supports("avx512bw") &&
                                   __builtin_cpu_supports("avx512vbmi2")
                               ? BlockConversion::kAvx512
                           : __builtin_cpu_supports("avx2")
                               ? BlockConversion::kAvx2
                               : BlockConversion::kSse2;
#ifdef KORVANE_PINNED_BLOCK_CONVERSION
  widest = std::min(widest, BlockConversion::KORVANE_PINNED_BLOCK_CONVERSION);
#endif
  EXPECT_STREQ(BlockConversionName(widest),
               BlockConversionName(BestBlockConversion()));
  EXPECT_EQ(PlainBlockConverterOf(widest), BestPlainBlockConverter());
#else
  GTEST_SKIP() << "the compiler cannot ask the processor here";
#endif
}

// Bytes that end where readable memory ends: on POSIX right before a page
// that cannot be read, so that a read past the end faults in every build;
// elsewhere in a heap block of their exact size, for the sanitizers.
class EdgeBytes {
 public:
  explicit EdgeBytes(const std::string& text) {
#ifndef _WIN32
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    length = (text.size() / page + 2) * page;
    void* m = mmap(nullptr, length, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    EXPECT_NE(MAP_FAILED, m);
    if (m == MAP_FAILED) return;
    memory = static_cast<unsigned char*>(m);
    EXPECT_EQ(0, mprotect(memory + length - page, page, PROT_NONE));
    end = memory + length - page;
#else
    heap.reset(new unsigned char[text.size()]);
    end = heap.get() + text.size();
#endif
    begin = end - text.size();
    std::copy(text.begin(), text.end(), begin);
  }
  ~EdgeBytes() {
#ifndef _WIN32
    if (memory != nullptr) munmap(memory, length);
#endif
  }
  unsigned char* begin = nullptr;
  unsigned char* end = nullptr;

 private:
#ifndef _WIN32
  unsigned char* memory = nullptr;
  size_t length = 0;
#else
  std::unique_ptr<unsigned char[]> heap;
#endif
};

// A line that starts right after a block and is cut short by the end of
// the message: the conversions look at no byte past the end.
TEST(PlainBlocksTest, NoReadPastTheEnd) {
  const PlainBlockConverter conversions[] = {
      PlainBlockConverterOf(BlockConversion::kSse2),
      PlainBlockConverterOf(BlockConversion::kAvx2),
      PlainBlockConverterOf(BlockConversion::kAvx512)};
  const char* const tails[] = {"F", "Fr", "Fro", "From", "!\x09p\x19", "!"};
  int converted = 0;
  for (PlainBlockConverter convert : conversions) {
    if (convert == nullptr) continue;
    for (size_t size = 60; size <= 200; ++size) {
      for (const char* tail : tails) {
        for (bool recordStart : {false, true}) {
          std::string text(size, 'a');
          for (size_t i = 30; i + 2 < size; i += 31) text[i] = '\n';
          std::string line = std::string("\r\n") + tail;
          if (line.size() > size) continue;
          text.replace(size - line.size(), line.size(), line);
          EdgeBytes bytes(text);
          ASSERT_NE(nullptr, bytes.begin);
          std::vector<unsigned char> out(size + kPlainBlockReach);
          const unsigned char* from = bytes.begin;
          size_t n =
              convert(&from, bytes.end, out.data(), out.size(), recordStart);
          std::string source(text.data(), size_t(from - bytes.begin));
          source.erase(std::remove(source.begin(), source.end(), '\r'),
                       source.end());
          ASSERT_EQ(source, std::string(out.begin(), out.begin() + n))
              << size << " " << tail;
          converted += from != bytes.begin;
        }
      }
    }
  }
  // Some cases are long enough for a block, so the ends are met inside the
  // conversions and not only by their length checks.
  EXPECT_GT(converted, 0);
}

}  // namespace
