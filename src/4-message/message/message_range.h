// The bytes of a stored message that a message file holds, as one range of
// the base: without an envelope line of its own at its start, up to the NUL
// that ends it, and without a record header that the recovery scan left at
// its end. With the line ends as stored, a message file is this range
// (after the synthetic header block, where one is added), so it is also
// what the inventory hashes.
#ifndef KORVANE_MESSAGE_MESSAGE_RANGE_H_
#define KORVANE_MESSAGE_MESSAGE_RANGE_H_

struct MessageRange {
  const unsigned char* begin;
  const unsigned char* end;
};

// The range of the message [text, end). ownEnvelope: its first line is an
// envelope line of its own (MessageHead). alternativeScan: the recovery
// scan's rules (a record header on the last line is no part of it). The
// first NUL ends the message.
MessageRange MessageFileRange(const unsigned char* text,
                              const unsigned char* end, bool ownEnvelope,
                              bool alternativeScan);

#endif  // KORVANE_MESSAGE_MESSAGE_RANGE_H_
