// How a message's lines become an output's bytes, per format. Two forms:
// the mbox entry, and the message file (a Maildir message, an .eml file, an
// IMAP upload), which is the message alone with the line ends its
// destination asks for.
#ifndef KORVANE_FRAMING_FRAMING_H_
#define KORVANE_FRAMING_FRAMING_H_

enum class LineEnds {
  kLf,        // every line end one LF
  kCrLf,      // every line end CR LF
  kAsStored,  // as the base stores them
};

struct Framing {
  // The mbox entry: the message behind an envelope line ("From sender
  // date"), unless its first line is one of its own; lines that begin
  // "From " quoted with ">", but for that first line; an empty line
  // after it. LF line ends only. A message file has none of these, and
  // leaves a first line of the envelope form out.
  // In every form a NUL byte ends the message.
  bool mbox;
  LineEnds lineEnds;
};

const Framing kMboxFraming = {true, LineEnds::kLf};
const Framing kMaildirFraming = {false, LineEnds::kLf};
const Framing kStoredFraming = {false, LineEnds::kAsStored};
// An IMAP upload: the message file as the protocol carries it, CR LF line
// ends; the same bytes as the .eml file otherwise.
const Framing kImapFraming = {false, LineEnds::kCrLf};

#endif  // KORVANE_FRAMING_FRAMING_H_
