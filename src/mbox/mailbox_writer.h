// Writes each message as one mbox entry: the envelope line, for a recovered
// message without headers a synthetic header block, the message's lines
// with "From " lines quoted and every line end a single LF, and an empty
// line. Or, by the same rules, each message as a Maildir file of its own:
// the same bytes without the envelope line, the quoting and the empty line.
#ifndef KORVANE_MBOX_MAILBOX_WRITER_H_
#define KORVANE_MBOX_MAILBOX_WRITER_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <memory>

#include "io/file_stream.h"
#include "io/write_behind.h"
#include "mbox/plain_blocks.h"
#include "platform/win32.h"

class MaildirDelivery;

const uint32_t kRunBufferSize = 256;
// The name put where a message lacks one: the envelope sender, and the
// header block of a recovered message.
const char kProgramName[] = "korvane";

// What the writer needs to know of the run: the scan (recovered messages
// have rules of their own), the clock and the zone for envelope dates, and
// how plain lines are converted.
struct WriterOptions {
  bool alternativeScan = false;
  LONG timeZoneBias = 0;  // minutes; UTC = local time + bias
  FILETIME currentTime = {0, 0};
  FILETIME lowerTimeBound = {0, 0};
  // The widest block conversion the processor has; tests substitute the
  // others. Null converts nothing in blocks.
  PlainBlockConverter convertBlocks = BestPlainBlockConverter();
  // Hand the mbox output to a thread of its own that writes it while the
  // next piece is converted (see WriteBehind); worth it with a processor
  // to spare.
  bool writeBehind = false;
  // Or from the first buffer handed on after this turns true (tree mode: a
  // worker has run out of bases, and its processor is spare).
  const std::atomic<bool>* writeBehindFrom = nullptr;
};

// The options of a run starting now on this machine: its time-zone bias,
// the current time, and 1979-01-01 as the lower time bound.
WriterOptions CurrentWriterOptions(bool alternativeScan);

// Writes messages as mbox entries into one output stream, or as files of a
// Maildir.
class MailboxWriter {
 public:
  MailboxWriter(FileStream* mailbox, const WriterOptions& options);
  // One file per message, delivered through maildir; a message that brings
  // its own envelope line leaves it out too. Each file's write time is the
  // message's envelope time, to the second.
  MailboxWriter(MaildirDelivery* maildir, const WriterOptions& options);

  MailboxWriter(const MailboxWriter&) = delete;
  MailboxWriter& operator=(const MailboxWriter&) = delete;

  // Writes the entry of a message of length greater than 0. *time is the
  // message's time; on return it holds the time that a following message
  // whose time stamp did not convert starts from. False once a write has
  // failed or fallen short, for this entry and every later one.
  bool WriteMessage(const unsigned char* text, int32_t length, FILETIME* time);
  // Hands what is gathered of the entries to the output. False once a write
  // has failed or fallen short. Output reaches the stream in large pieces,
  // not entry by entry: the run calls this after its last message.
  bool Finish();

  bool Failed() const { return writeFailed; }
  // The system's error code of the write that failed.
  DWORD WriteError() const { return writeError; }
  uint64_t BytesWritten() const;

  // May change between messages (the recovery of a broken base's rest
  // switches to the alternative scan's rules).
  WriterOptions options;

 private:
  // Output gathers in a buffer and reaches WriteFile in large pieces; one
  // call per line would cost more than the conversion itself, and one per
  // entry much more than the conversion of a short message where each is a
  // system call (Windows).
  static const size_t kOutputSize = size_t(1) << 18;

  // The buffer output gathers in: the writer's own, or one of the write
  // thread's.
  unsigned char* OutputBuffer();
  void Put(const void* bytes, DWORD count);
  void PutLine(const unsigned char* bytes, int32_t count);
  void Flush();
  void Fail(DWORD error);
  // From now on the mbox output goes through a write thread.
  void StartWriteBehind();
  void WriteOut(const void* bytes, DWORD count);
  void FindSender(const unsigned char* text, const unsigned char* end,
                  bool* ownEnvelope, int* examinedLines);
  // The envelope time of a message of time *time, as a FILETIME in whole
  // seconds and as the envelope line shows it; storeBack: *time becomes the
  // time a following message whose time stamp did not convert starts from.
  FILETIME EnvelopeTime(FILETIME* time, bool storeBack,
                        SYSTEMTIME* envelopeTime);
  void WriteEnvelope(const SYSTEMTIME& envelopeTime);
  void WriteLines(const unsigned char* text, const unsigned char* end,
                  bool ownEnvelope);
  // The next Maildir file, which output goes to. False on failure.
  bool BeginFile();
  // Ends it; writeTime is the envelope time in whole seconds.
  bool FinishFile(FILETIME writeTime);
  // The six-line header block of a recovered message that has none.
  void WriteSyntheticHeader(const SYSTEMTIME& time);

  FileStream* mailbox = nullptr;       // the mbox stream, or
  MaildirDelivery* maildir = nullptr;  // the Maildir
  char senderBuffer[kRunBufferSize];
  int32_t senderLength = 0;  // without the NUL
  char lineBuffer[kRunBufferSize];
  std::unique_ptr<WriteBehind> writeBehind;
  std::unique_ptr<unsigned char[]> ownOutput;
  unsigned char* output = nullptr;  // null until the first byte
  size_t outputUsed = 0;
  bool writeFailed = false;
  DWORD writeError = 0;
  uint64_t bytesWritten = 0;  // by this thread
  // The day (in days since 1601) of the last envelope date the calendar
  // gave, and that date; -1 for none.
  int64_t envelopeDay = -1;
  SYSTEMTIME envelopeDate = {};
  // The envelope line's texts of a day: "  Sun Sep 9 " and " 2001\n".
  SYSTEMTIME dayTextDate = {};
  char dayText[24];
  int32_t dayTextLength = 0;
  char yearText[8];
  int32_t yearTextLength = 0;
};

#endif  // KORVANE_MBOX_MAILBOX_WRITER_H_
