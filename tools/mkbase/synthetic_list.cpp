// Synthetic mailing-list messages (--list-mail): short messages whose
// header blocks, relay, list and threading fields, are most of their bytes.
#include "synthetic_parts.h"

namespace mkbase {
namespace synthetic {

namespace {

const char* const kListNames[] = {"devel",   "users",   "announce", "project",
                                  "discuss", "general", "help"};

}  // namespace

// A mailing-list message: relay lines, the list's fields, threading
// fields, a few body lines and the list's footer.
void AppendListMessage(std::string* out, uint64_t seed, uint64_t index,
                       const SyntheticOptions& options) {
  Rng rng(seed, index);
  MessageWriter message(out, options.crlf);
  const int64_t stamp = SyntheticTimeStamp(index, options);
  const int64_t sent = stamp - rng.Between(30, 900);
  const Person sender = MakePerson(rng);
  const Person recipient = MakePerson(rng);
  const std::string list = rng.Pick(kListNames);
  const std::string host = "lists.example.net";
  const std::string address = list + "@" + host;
  const std::string bounces = list + "-bounces@" + host;
  const std::string request = list + "-request@" + host;
  const std::string messageId = MessageId(rng, index);
  const bool returnPath = rng.OneIn(2);
  const bool named = rng.OneIn(2);
  const bool reply = !rng.OneIn(3);

  if (returnPath) message.Line("Return-Path: <" + bounces + ">");
  message.Line("Delivered-To: " + recipient.address);
  int64_t when = stamp - rng.Below(20);
  const uint32_t hops = rng.OneIn(4) ? 2 : 1;
  for (uint32_t hop = 0; hop < hops; ++hop) {
    const char* by = rng.Pick(kRelays);
    message.Line("Received: from " + host + " (" + host + " [192.0.2." +
                 std::to_string(rng.Between(1, 254)) + "])");
    message.Line(std::string("\tby ") + by + " with ESMTP id " +
                 Hex(rng.Next(), 10));
    message.Line("\tfor <" + recipient.address + ">; " +
                 FormatMailDate(when, rng.Pick(kZones)));
    when -= rng.Between(1, 60);
  }
  message.Line("Date: " + FormatMailDate(sent, rng.Pick(kZones)));
  message.Line(named ? "From: " + sender.name + " <" + sender.address + ">"
                     : "From: " + sender.address);
  message.Line("To: " + address);
  message.Line("Subject: [" + list + "] " + (reply ? "Re: " : "") +
               Subject(rng));
  message.Line("Message-ID: " + messageId);
  if (reply) {
    // One draw per statement, as in MessageId.
    const std::string parentId = Hex(rng.Next(), 12);
    const std::string parent = "<" + parentId + "@" + rng.Pick(kDomains) + ">";
    const std::string rootId = Hex(rng.Next(), 12);
    const std::string root = "<" + rootId + "@" + rng.Pick(kDomains) + ">";
    message.Line("In-Reply-To: " + parent);
    message.Line("References: " + root);
    if (rng.OneIn(2)) message.Line("\t" + parent);
  }
  message.Line("MIME-Version: 1.0");
  message.Line("Content-Type: text/plain; charset=us-ascii");
  message.Line("Content-Transfer-Encoding: 7bit");
  message.Line("X-BeenThere: " + address);
  message.Line("Precedence: list");
  message.Line("List-Id: <" + list + "." + host + ">");
  message.Line("List-Unsubscribe: <mailto:" + request +
               "?subject=unsubscribe>");
  message.Line("List-Post: <mailto:" + address + ">");
  message.Line("List-Help: <mailto:" + request + "?subject=help>");
  if (rng.OneIn(2)) {
    message.Line("List-Archive: <https://" + host + "/archives/" + list + ">");
    message.Line("List-Subscribe: <mailto:" + request + "?subject=subscribe>");
  }
  message.Line("Errors-To: " + bounces);
  message.Line("Sender: \"" + list + "\" <" + bounces + ">");
  message.End();

  const uint32_t lines = rng.Between(1, 6);
  for (uint32_t i = 0; i < lines; ++i) {
    const uint32_t roll = rng.Below(1000);
    const char* prefix = roll < 5                 ? "From "
                         : roll < 7               ? "from "
                         : roll < 9               ? ">From "
                         : reply && i < lines / 2 ? "> "
                                                  : "";
    message.BodyLine(rng, prefix);
  }
  message.Line("-- ");
  message.Line(sender.name);
  message.Line("_______________________________________________");
  message.Line(list + " mailing list");
  message.Line(address);
}

}  // namespace synthetic
}  // namespace mkbase
