// Writes the seed corpora of the harnesses, built with the base builder:
//   make_seeds OUT_DIR
// fills OUT_DIR/normal_scan, OUT_DIR/recovery_scan and OUT_DIR/command_line
// with one file per seed, in each harness's input format (see the
// harnesses' heads).
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base_builder.h"
#include "synthetic_messages.h"

namespace fs = std::filesystem;
using mkbase::BaseBuilder;
using mkbase::Record;

namespace {

std::string Le16(int16_t v) {
  uint16_t u = static_cast<uint16_t>(v);
  return std::string{char(u & 0xFF), char(u >> 8)};
}

std::string Le32(int32_t v) {
  uint32_t u = static_cast<uint32_t>(v);
  std::string s;
  for (int i = 0; i < 4; ++i) s += char((u >> (8 * i)) & 0xFF);
  return s;
}

const uint32_t kTime = 1000000000u;

// Bases without their file header; the normal-scan harness can add it.
std::vector<std::string> Bases() {
  std::vector<std::string> bases;
  mkbase::SyntheticOptions crlf, lf;
  lf.crlf = false;
  auto add = [&](const BaseBuilder& b) { bases.push_back(b.Build()); };

  {
    BaseBuilder b;
    b.OmitFileHeader();
    b.AddMessage(
        "Return-Path: <one@example.org>\r\nSubject: one\r\n\r\nbody\r\n",
        kTime);
    b.AddMessage(
        "From: Two <two@example.org>\r\nSubject: two\r\n\r\nFrom me\r\n",
        kTime + 3600);
    add(b);
  }
  for (const auto* options : {&crlf, &lf}) {
    BaseBuilder b;
    b.OmitFileHeader();
    mkbase::AddSyntheticMessages(&b, 7, 3, UINT64_MAX, *options);
    add(b);
  }
  {
    // Own envelope lines, "From " in the first block and in the body.
    BaseBuilder b;
    b.OmitFileHeader();
    b.AddMessage(
        "From someone  Sat Jan 1 00:00:00 2000\r\nFrom x\r\n"
        "Subject: s\r\n\r\nFrom the body\r\n>From quoted\r\nFrom \r\n",
        kTime);
    b.AddMessage("From \r\nFrom: a b c <x y>\r\n\r\nFrom\r\n", kTime);
    b.AddMessage(
        "From a@b Fri, 16 Mar 2007 19:46:14 +0000\r\n"
        "X: y\r\nFrom a@b Sun Sep 9 01:46 PST 2001\r\n"
        "From: j@example.de (J\xc3\xb6rg)\r\n\r\nx\r\n",
        kTime);
    b.AddMessage("From MAILER-DAEMON Fri Apr 06 16:46:09 -0700 2001 \t\r\n\r\n",
                 kTime);
    add(b);
  }
  for (const auto* options : {&crlf, &lf}) {
    // Own "From " lines of both kinds and 8-bit senders.
    BaseBuilder b;
    b.OmitFileHeader();
    mkbase::SyntheticOptions rough = *options;
    rough.rough = true;
    mkbase::AddSyntheticMessages(&b, 9, 6, UINT64_MAX, rough);
    add(b);
  }
  {
    // Odd line ends, a NUL, an empty text, a text of one line end.
    BaseBuilder b;
    b.OmitFileHeader();
    b.AddMessage("A: b\rC: d\n\r\nbody\0after NUL\r\n", kTime);
    b.AddMessage(std::string("x\0", 2), kTime);
    b.AddMessage("", kTime);
    b.AddMessage("\r\n", kTime);
    b.AddMessage("\r\n\r\nFrom late\r\n", kTime);
    add(b);
  }
  {
    // Senders too long for the envelope, with blanks and control bytes.
    BaseBuilder b;
    b.OmitFileHeader();
    b.AddMessage("Return-Path: <" + std::string(300, 'a') + ">\r\n\r\nx\r\n",
                 kTime);
    b.AddMessage("return-path: a b\tc\x7f\r\n\r\nx\r\n", kTime);
    b.AddMessage("FROM: <>\r\n\r\nx\r\n", kTime);
    add(b);
  }
  {
    // Time stamps at and beyond what converts.
    BaseBuilder b;
    b.OmitFileHeader();
    for (uint32_t t : {0u, 1u, 315532800u, 2147483647u, 2147483648u,
                       0xFFFFFFFFu, 4102444800u})
      b.AddMessage("Date: x\r\n\r\nbody\r\n", t);
    add(b);
  }
  {
    // Broken records: wrong magic, wrong header size, a length past the
    // end, a length of 2^31.
    for (int kind = 0; kind < 4; ++kind) {
      BaseBuilder b;
      b.OmitFileHeader();
      b.AddMessage("Subject: before\r\n\r\nx\r\n", kTime);
      Record r;
      r.text = "Subject: broken\r\n\r\ny\r\n";
      r.timeStamp = kTime;
      if (kind == 0) r.magic = 0x21097019u;
      if (kind == 1) r.headerSize = 49;
      if (kind == 2) {
        r.overrideLength = true;
        r.length = 100000;
      }
      if (kind == 3) {
        r.overrideLength = true;
        r.length = 0x80000000u;
      }
      b.AddRecord(r);
      b.AddMessage("Subject: after\r\n\r\nz\r\n", kTime);
      add(b);
    }
  }
  {
    // Cut inside a record header and inside a text.
    BaseBuilder b;
    b.OmitFileHeader();
    mkbase::AddSyntheticMessages(&b, 3, 2, UINT64_MAX, crlf);
    std::string image = b.Build();
    bases.push_back(image.substr(0, b.RecordOffset(1) + 20));
    bases.push_back(image.substr(0, b.TextOffset(1) + 30));
  }
  {
    // What the recovery scan looks for: header lines after zero runs,
    // garbage, and record headers that are not trusted.
    BaseBuilder b;
    b.OmitFileHeader();
    b.AddRaw(mkbase::GarbageBytes(5, 40));
    b.AddRaw(std::string(8, '\0'));
    b.AddRaw("Return-Path: <r@example.org>\r\nSubject: r\r\n\r\nbody\r\n");
    b.AddRaw(std::string(2, '\0'));
    b.AddRaw("Received: from x\r\nSubject: r2\r\n\r\nbody\r\n");
    b.AddRaw(std::string(4, '\0'));
    b.AddRaw("Date: Sun, 9 Sep 2001\r\n\r\nd\r\n");
    b.AddRaw(std::string(1, '\0'));
    b.AddRaw("Delivered-To: d@example.org\r\n\r\nd\r\n");
    b.AddRaw(mkbase::GarbageBytes(6, 30));
    Record untrusted;
    untrusted.text = "\x01\x02 Subject: untrusted\r\n\r\nu\r\n";
    untrusted.headerSize = 0x01000030u;
    b.AddRecord(untrusted);
    // A text that starts with an empty line, and a length too short, so
    // that the next record header ends the message.
    b.AddMessage("\r\nno headers\r\n", kTime);
    Record shortLength;
    shortLength.text = "Subject: s\r\n\r\nlonger than said\r\n";
    shortLength.overrideLength = true;
    shortLength.length = 3;
    b.AddRecord(shortLength);
    Record longLength;
    longLength.text = "Subject: l\r\n\r\nshorter than said\r\n";
    longLength.overrideLength = true;
    longLength.length = 500;
    b.AddRecord(longLength);
    b.AddMessage("Subject: last\r\n\r\nz\r\n\x80\x81", kTime);
    add(b);
  }
  return bases;
}

void Write(const fs::path& dir, int index, const std::string& bytes) {
  char name[32];
  snprintf(name, sizeof name, "seed-%03d", index);
  if (!mkbase::WriteFileBytes((dir / name).string(), bytes)) {
    fprintf(stderr, "make_seeds: cannot write %s\n",
            (dir / name).string().c_str());
    exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_seeds OUT_DIR\n");
    return 2;
  }
  const fs::path out(argv[1]);
  for (const char* sub :
       {"normal_scan", "recovery_scan", "command_line", "imap_response"})
    fs::create_directories(out / sub);

  const std::vector<std::string> bases = Bases();
  const std::string header = mkbase::FileHeader();
  int n = 0;
  // Normal scan: flags, bias, base; each base with each block conversion.
  for (const std::string& base : bases)
    for (char conversion = 0; conversion < 4; ++conversion)
      Write(out / "normal_scan", n++,
            std::string(1, char(1 | conversion << 1)) + Le16(0) + base);
  Write(out / "normal_scan", n++,
        std::string("\x00", 1) + Le16(-120) + header + bases[0]);
  Write(out / "normal_scan", n++,
        std::string("\x00", 1) + Le16(300) + mkbase::FileHeader(0x20067919u) +
            bases[0]);
  Write(out / "normal_scan", n++,
        std::string("\x00", 1) + Le16(0) + header.substr(0, 3079));

  // Recovery scan: flags, Y, X, bias, base; each base with the usual
  // switch and each block conversion, and the full base with the corner
  // values of X and Y.
  n = 0;
  for (const std::string& base : bases)
    for (char conversion = 0; conversion < 4; ++conversion)
      Write(out / "recovery_scan", n++,
            std::string{conversion, char(2)} + Le32(64) + Le16(0) + header +
                base);
  const std::string& rich = bases.back();
  const struct {
    int8_t y;
    int32_t x;
  } switches[] = {{0, 1},   {3, 0},    {1, 8},         {-1, -1},
                  {4, 200}, {2, 5000}, {3, INT32_MAX}, {0, INT32_MIN}};
  for (const auto& s : switches)
    Write(out / "recovery_scan", n++,
          std::string{char(0), char(s.y)} + Le32(s.x) + Le16(-60) + rich);

  // Command line: flags, then the arguments separated by NUL.
  n = 0;
  const std::vector<std::vector<std::string>> commandLines = {
      {"\x00", "in.tbb"},
      {"\x00", "in.tbb", "out.mbx", "-a32:1"},
      {"\x00", "*", "-d-"},
      {"\x00", "a.b.tbb", "-a0x20", "-a:-1"},
      {"\x00", "x", "-a:4", "-A-5", "-DN", "-dyes"},
      {"\x01", "in", "/a", "/d", "/?"},
      {"\x01", "mail.old\\base", "/A010:3"},
      {"\x00", "in.tbb", "out", "extra"},
      {"\x00", "-a", "-x"},
      {"\x00", "/abs/mail.old/base", "-"},
      {"\x00", "base.", "-a 12:\t7"},
      {"\x00", ".\\base", "-a99999999999:-99999999999"},
  };
  for (const auto& args : commandLines) {
    // The flags byte, then the arguments with a NUL between each two.
    std::string line = args[0].empty() ? std::string(1, '\0') : args[0];
    for (size_t i = 1; i < args.size(); ++i)
      line += (i > 1 ? std::string(1, '\0') : std::string()) + args[i];
    Write(out / "command_line", n++, line);
  }
  // IMAP responses: a session's worth, each with its chunk size.
  const char* const kSessions[] = {
      "* OK [CAPABILITY IMAP4rev1 SASL-IR LITERAL+ AUTH=PLAIN] ready\r\n"
      "K1 OK [CAPABILITY IMAP4rev1 MULTIAPPEND UIDPLUS BINARY] Logged in\r\n",
      "* LIST (\\HasNoChildren) \".\" \"INBOX\"\r\n* LIST () NIL {3}\r\nx y\r\n"
      "K2 OK done\r\n",
      "* 2 EXISTS\r\n* 1 FETCH (RFC822.SIZE 120 INTERNALDATE "
      "\"09-Sep-2001 01:46:40 +0000\" BODY[HEADER.FIELDS (MESSAGE-ID)] "
      "{21}\r\nMessage-ID: <a@b>\r\n\r\n)\r\nK3 OK Fetch completed\r\n",
      "+ OK\r\nK4 OK [APPENDUID 7 3:5,9] Append completed\r\n"
      "K5 NO [TOOBIG] Mail too big\r\n* BYE going\r\n",
      "* STATUS \"x\" (MESSAGES 12)\r\n* 1 FETCH (BINARY[] ~{3}\r\na\0b)\r\n",
  };
  n = 0;
  for (const char* session : kSessions)
    for (const char chunk : {'\x01', '\x07', '\x00'})
      Write(out / "imap_response", n++, std::string(1, chunk) + session);
  return 0;
}
