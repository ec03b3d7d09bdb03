// The SHA-256 of a message's file with the line ends as stored (the .eml
// output's bytes), from the stored message itself: the same digest for the
// same message whatever the output kind.
#ifndef KORVANE_FRAMING_MESSAGE_DIGEST_H_
#define KORVANE_FRAMING_MESSAGE_DIGEST_H_

#include <string>

#include "bytes/sha256.h"
#include "framing/message_sink.h"

// In 64 lower-case hexadecimal digits. withHeaderBlock: with the header
// block a recovered message without headers of its own begins with (the
// inventory's digest, of the .eml file as it is); without it, the digest
// of the stored bytes alone, which the clock, the time zone and the
// machine's names in that block cannot change (an upload's identity).
std::string MessageFileDigest(Sha256* sha, const MessageFacts& message,
                              bool withHeaderBlock);

#endif  // KORVANE_FRAMING_MESSAGE_DIGEST_H_
