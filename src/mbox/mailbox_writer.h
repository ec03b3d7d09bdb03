// Writes each message as one mbox entry: the envelope line, for a recovered
// message without headers a synthetic header block, the message's lines
// with "From " lines quoted and every line end a single LF, and an empty
// line.
#ifndef KORVANE_MBOX_MAILBOX_WRITER_H_
#define KORVANE_MBOX_MAILBOX_WRITER_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>

#include "io/file_stream.h"
#include "mbox/plain_blocks.h"
#include "platform/win32.h"
#include "scan/message_scanner.h"

const uint32_t kRunBufferSize = 256;

// The state of one run that the per-message step uses. The run sets every
// field up before the first message.
class MailboxWriter {
 public:
  MailboxWriter();

  // The per-message step for the current message, as Next left it: writes
  // and counts it, or warns about an unusable record, and now and then
  // reprints the progress line from the scanner's position.
  void Step(const MessageScanner& scanner);

  // Writes the entry of a message of length greater than 0.
  void WriteMessage(const unsigned char* text, int32_t length, FILETIME time);

  char* senderBuffer;  // kRunBufferSize bytes
  char* lineBuffer;    // kRunBufferSize bytes
  FileStream* mailbox;
  bool alternativeScan;
  int32_t messageCount;
  DWORD lastProgressTick;
  bool warned;
  LONG timeZoneBias;  // minutes; UTC = local time + bias
  FILETIME currentTime;
  FILETIME lowerTimeBound;

  // The current message; Next writes into these.
  const unsigned char* messageText;
  int32_t messageLength;
  FILETIME messageTime;

  // Set at the first write to the mailbox that fails or falls short; the run
  // stops converting when it sees it.
  bool writeFailed;

  // The millisecond clock; tests substitute their own.
  DWORD (*tickCount)();

  // The block conversion of plain lines, the widest the processor has;
  // tests substitute the others. Null converts nothing in blocks.
  PlainBlockConverter convertBlocks;

 private:
  // Output gathers in a buffer and reaches WriteFile in large pieces, at
  // the latest when the entry is complete; one call per line would cost
  // more than the conversion itself.
  static const size_t kOutputSize = size_t(1) << 17;

  void Put(const void* bytes, DWORD count);
  void Flush();
  void WriteOut(const void* bytes, DWORD count);
  void FindSender(const unsigned char* text, const unsigned char* end,
                  bool* ownEnvelope, int* examinedLines);
  void WriteEnvelope(FILETIME time, SYSTEMTIME* envelopeTime);
  void WriteLines(const unsigned char* text, const unsigned char* end,
                  bool ownEnvelope);

  std::unique_ptr<unsigned char[]> output;
  size_t outputUsed;
};

// Writes the six-line header block of a recovered message that has none,
// through the stream's Write. buffer is scratch space of size bytes.
// False when a write failed or fell short.
bool WriteSyntheticHeader(FileStream* stream, const SYSTEMTIME* time,
                          char* buffer, DWORD size);

// (position - base) * 100 / size without overflow; 0 for an empty base.
unsigned ProgressPercent(const MessageScanner& scanner);
// Prints "%3d%%\r" with the percentage, and flushes it to the console.
void PrintProgressLine(const MessageScanner& scanner);

#endif  // KORVANE_MBOX_MAILBOX_WRITER_H_
