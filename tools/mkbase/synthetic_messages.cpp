// The ordinary synthetic messages, and the entry points of the series: the
// mailing-list messages and the rough edges have files of their own.
#include "synthetic_messages.h"

#include "synthetic_parts.h"

namespace mkbase {

using synthetic::Hex;
using synthetic::kRelays;
using synthetic::kZones;
using synthetic::MakePerson;
using synthetic::MessageId;
using synthetic::MessageWriter;
using synthetic::Person;
using synthetic::Rng;
using synthetic::Subject;

namespace {

template <typename Sink>
size_t AddSynthetic(Sink* sink, uint64_t seed, size_t count, uint64_t maxBytes,
                    const SyntheticOptions& options) {
  Record record;
  size_t added = 0;
  for (; added < count; ++added) {
    record.text.clear();
    AppendSyntheticMessage(&record.text, seed, added, options);
    if (uint64_t(sink->Size()) + kRecordHeaderSize + record.text.size() >
        maxBytes) {
      break;
    }
    record.timeStamp = SyntheticTimeStamp(added, options);
    sink->AddRecord(record);
  }
  return added;
}

}  // namespace

uint32_t SyntheticTimeStamp(uint64_t index, const SyntheticOptions& options) {
  return uint32_t(options.startTime + index * options.step);
}

void AppendSyntheticMessage(std::string* out, uint64_t seed, uint64_t index,
                            const SyntheticOptions& options) {
  if (options.listMail) {
    synthetic::AppendListMessage(out, seed, index, options);
    return;
  }
  Rng rng(seed, index);
  MessageWriter message(out, options.crlf);
  const int64_t stamp = SyntheticTimeStamp(index, options);
  const int64_t sent = stamp - rng.Between(30, 900);

  const Person sender = MakePerson(rng);
  const Person recipient = MakePerson(rng);
  const std::string messageId = MessageId(rng, index);
  const bool returnPath = rng.OneIn(2);
  const uint32_t fromForm = rng.Below(2);
  const bool received = rng.OneIn(3);

  synthetic::RoughEdges edges;
  if (options.rough) {
    edges = synthetic::MakeRoughEdges(seed, index, stamp, sender.address);
  }
  if (!edges.ownFromLine.empty()) message.Line(edges.ownFromLine);
  // The later "From " line goes before the second header field.
  int fields = 0;
  auto header = [&](const std::string& line) {
    if (line[0] != '\t' && fields++ == 1 && !edges.laterFromLine.empty())
      message.Line(edges.laterFromLine);
    message.Line(line);
  };

  if (returnPath) {
    // Lists rewrite the envelope sender; the header From stays the author.
    std::string envelope = rng.OneIn(4)
                               ? "bounce-" + std::to_string(rng.Below(100000)) +
                                     "@lists.example.net"
                               : sender.address;
    header("Return-Path: <" + envelope + ">");
  }
  if (received) {
    const uint32_t hops = rng.Between(1, 3);
    int64_t when = stamp - rng.Below(20);
    for (uint32_t hop = 0; hop < hops; ++hop) {
      const char* from = rng.Pick(kRelays);
      const char* by = rng.Pick(kRelays);
      header(std::string("Received: from ") + from + " (" + from +
             " [192.0.2." + std::to_string(rng.Between(1, 254)) + "])");
      header(std::string("\tby ") + by + " with ESMTP id " +
             Hex(rng.Next(), 10));
      header("\tfor <" + recipient.address + ">; " +
             FormatMailDate(when, rng.Pick(kZones)));
      when -= rng.Between(1, 60);
    }
  }
  const std::string date = "Date: " + FormatMailDate(sent, rng.Pick(kZones));
  const std::string from =
      !edges.eightBitName.empty()
          ? "From: " + sender.address + " (" + edges.eightBitName + ")"
      : fromForm == 0 ? "From: " + sender.name + " <" + sender.address + ">"
                      : "From: " + sender.address;
  const std::string to =
      rng.OneIn(3) ? "To: " + recipient.address
                   : "To: " + recipient.name + " <" + recipient.address + ">";
  const std::string subject = "Subject: " + Subject(rng);
  if (rng.OneIn(2)) {
    header(date);
    header(from);
    header(to);
    header(subject);
  } else {
    header(from);
    header(to);
    header(subject);
    header(date);
  }
  header("Message-ID: " + messageId);
  if (rng.OneIn(2)) {
    header("MIME-Version: 1.0");
    header("Content-Type: text/plain; charset=us-ascii");
  }
  message.End();

  const uint32_t lines =
      rng.OneIn(40) ? rng.Between(100, 400) : rng.Between(3, 60);
  const bool quoting = rng.OneIn(6);
  for (uint32_t i = 0; i < lines; ++i) {
    const uint32_t roll = rng.Below(1000);
    const char* prefix = "";
    if (roll < 5) {
      prefix = "From ";
    } else if (roll < 7) {
      prefix = "from ";
    } else if (roll < 9) {
      prefix = ">From ";
    } else if (quoting && i > 0 && i < lines / 2) {
      prefix = "> ";
    }
    message.BodyLine(rng, prefix);
  }
}

std::string SyntheticMessage(uint64_t seed, uint64_t index,
                             const SyntheticOptions& options) {
  std::string message;
  AppendSyntheticMessage(&message, seed, index, options);
  return message;
}

std::string GarbageBytes(uint64_t seed, size_t count) {
  Rng rng(seed, 0x67617262616765ull);
  std::string bytes;
  bytes.reserve(count);
  while (bytes.size() < count) {
    const unsigned char c = (unsigned char)(rng.Next() >> 56);
    switch (c) {
      case 0x00:
      case 0x09:
      case 0x0A:
      case 0x0D:
      case 0x21:
      case 'D':
      case 'd':
      case 'F':
      case 'f':
      case 'R':
      case 'r':
        continue;
      default:
        bytes.push_back(char(c));
    }
  }
  return bytes;
}

size_t AddSyntheticMessages(BaseBuilder* builder, uint64_t seed, size_t count,
                            uint64_t maxBytes,
                            const SyntheticOptions& options) {
  return AddSynthetic(builder, seed, count, maxBytes, options);
}

size_t AddSyntheticMessages(BaseWriter* writer, uint64_t seed, size_t count,
                            uint64_t maxBytes,
                            const SyntheticOptions& options) {
  return AddSynthetic(writer, seed, count, maxBytes, options);
}

}  // namespace mkbase
