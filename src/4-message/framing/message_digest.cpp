#include "framing/message_digest.h"

#include "message/message_range.h"
#include "message/synthetic_header.h"

std::string MessageFileDigest(Sha256* sha, const MessageFacts& m,
                              bool withHeaderBlock) {
  if (m.headerBlock && withHeaderBlock) {
    const std::string block = SyntheticHeader(m.envelopeDate, "\r\n");
    sha->Update(block.data(), block.size());
  }
  const MessageRange range =
      MessageFileRange(m.text, m.text + m.length, m.ownEnvelope,
                       m.place.foundBy != FoundBy::kNormalScan);
  sha->Update(range.begin, size_t(range.end - range.begin));
  return Sha256::Hex(sha->Finish());
}
