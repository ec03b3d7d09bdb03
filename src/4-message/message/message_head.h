// What the first lines of a message tell before it is written: whether it
// brings an envelope line of its own, and the envelope sender.
#ifndef KORVANE_MESSAGE_MESSAGE_HEAD_H_
#define KORVANE_MESSAGE_MESSAGE_HEAD_H_

#include <stdint.h>

// The name put where a message lacks one: the envelope sender, and the
// header block of a recovered message.
const char kProgramName[] = "korvane";
// The most bytes of a sender that are kept.
const int32_t kSenderCapacity = 255;

struct MessageHead {
  // The first line has the envelope form: the message brings its own.
  bool ownEnvelope = false;
  // Lines of the first block the sender search looked at; 0 when the
  // message starts with an empty line (a recovered message without
  // headers gets a header block then).
  int examinedLines = 0;
  // The envelope sender: one word of printable ASCII, NUL-terminated;
  // kProgramName where the message names none. With an envelope line of
  // its own, that line's sender.
  char sender[kSenderCapacity + 1];
  int32_t senderLength = 0;
};

// Looks for the sender in the message's first block (up to its first empty
// line): the first "Return-Path: " or "From: " line with a value decides. A
// message whose first line is an envelope line brings its own; any other
// "From " line is an ordinary line, and the search goes on past it. A
// recovered message (alternativeScan) whose first line is no header line
// is not trusted to have headers below it either.
void ReadMessageHead(const unsigned char* text, const unsigned char* end,
                     bool alternativeScan, MessageHead* head);

#endif  // KORVANE_MESSAGE_MESSAGE_HEAD_H_
