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
  bool mbox;
  LineEnds lineEnds;
  // A NUL byte inside a message is kept (those at its end are dropped)
  // rather than ending the message.
  bool keepsNul;
};

const Framing kMboxFraming = {true, LineEnds::kLf, false};
const Framing kMaildirFraming = {false, LineEnds::kLf, false};
const Framing kStoredFraming = {false, LineEnds::kAsStored, false};
// An IMAP upload: the message file as the protocol carries it, CR LF line
// ends, NUL bytes kept (sent as they are or as blanks by the uploader).
const Framing kImapFraming = {false, LineEnds::kCrLf, true};

#endif  // KORVANE_FRAMING_FRAMING_H_
