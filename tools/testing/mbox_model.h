// The rules of a mailbox entry written out plainly, one line at a time, as
// the suite's single reference for them: the writer's tests, the fuzzing
// checker and the mbox readers test (through korvane-model) all compare the
// writer with this. It shares no code with the writer.
#ifndef KORVANE_TESTING_MBOX_MODEL_H_
#define KORVANE_TESTING_MBOX_MODEL_H_

#include <stddef.h>

#include <string>
#include <vector>

namespace mbox_model {

// The lines of a message: CR LF, a lone CR and a lone LF each end a line, a
// NUL ends the message, and a final line end adds no empty line. A message
// of at least one byte has at least one line.
std::vector<std::string> MessageLines(const std::string& text);

// Whether line (without its line end) is an envelope line that every reader
// splits mailboxes at: "From " SENDER DAY MONTH DATE hh:mm:ss YEAR, the year
// of four digits above 90.
bool IsEnvelopeForm(const std::string& line);

// What the writer makes of a message.
struct Entry {
  // The message's first line is its own envelope line: no envelope is
  // written, and that line is the entry's first.
  bool ownEnvelope = false;
  // Otherwise the envelope line's sender.
  std::string sender;
  // The recovery scan's header block follows the envelope line.
  bool headerBlock = false;
  // The message's lines as written, each ended by LF; the entry's closing
  // empty line is not included.
  std::string lines;
};

// The entry of a message of at least one byte, for the normal scan or, with
// alternativeScan, the recovery scan.
Entry ModelEntry(const std::string& text, bool alternativeScan);

// How many messages a strict reader finds in a mailbox: an entry starts at
// an envelope line that is the mailbox's first line or follows an empty
// line.
size_t CountStrictEntries(const std::string& mailbox);

}  // namespace mbox_model

#endif  // KORVANE_TESTING_MBOX_MODEL_H_
