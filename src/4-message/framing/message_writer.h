// Writes messages into a sink, framed as its format wants: as mbox entries
// (the envelope line, for a recovered message without headers a synthetic
// header block, the message's lines with "From " lines quoted and every
// line end a single LF, and an empty line), or as message files (the same
// without envelope line, quoting and empty line, with the line ends the
// destination asks for).
#ifndef KORVANE_FRAMING_MESSAGE_WRITER_H_
#define KORVANE_FRAMING_MESSAGE_WRITER_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "framing/framing.h"
#include "framing/message_sink.h"
#include "message/envelope_time.h"
#include "message/message_head.h"
#include "message/writer_options.h"
#include "platform/win32.h"

class MessageWriter {
 public:
  MessageWriter(MessageSink* sink, const Framing& framing,
                const WriterOptions& options);

  MessageWriter(const MessageWriter&) = delete;
  MessageWriter& operator=(const MessageWriter&) = delete;

  // Writes a message of length greater than 0. *time is the message's
  // time; on return it holds the time that a following message whose time
  // stamp did not convert starts from. False once a write has failed, for
  // this message and every later one.
  bool WriteMessage(const unsigned char* text, int32_t length, FILETIME* time,
                    const MessagePlace& place = MessagePlace());
  // Hands what is gathered on and finishes the sink: the output is then
  // complete. The run calls this after its last message. False once a
  // write has failed.
  bool Finish();

  bool Failed() const { return writeFailed; }
  // What the step that failed said.
  const Status& WriteError() const { return writeError; }
  uint64_t BytesWritten() const { return sink->BytesWritten(); }

  // What the writer made of the last message given (also when writing it
  // failed): valid until the next.
  const MessageFacts& LastFacts() const { return facts; }
  // Where it went: the sink's word for a message apart (a file name), or
  // the byte offset of its entry in the stream.
  std::string LastOutput() const;

  // May change between messages (the recovery of a broken base's rest
  // switches to the alternative scan's rules).
  WriterOptions options;

 private:
  // The buffer output gathers in: the writer's own, or one the sink lends.
  unsigned char* OutputBuffer();
  void Put(const void* bytes, size_t count);
  void PutLine(const unsigned char* bytes, int32_t count);
  void Flush();
  void Check(Status error);
  void WriteEnvelope(const SYSTEMTIME& envelopeTime);
  // The lines with LF ends (mbox and Maildir), block by block where the
  // processor can.
  void WriteLines(const unsigned char* text, const unsigned char* end,
                  bool ownEnvelope);
  // The lines of a message file with other line ends, line by line.
  void WriteFileLines(const unsigned char* text, const unsigned char* end,
                      bool ownEnvelope);

  MessageSink* const sink;
  const Framing framing;
  const bool apart;  // the sink takes each message apart
  MessageHead head;
  MessageFacts facts;
  uint64_t handed = 0;       // bytes handed to the sink
  uint64_t entryOffset = 0;  // in the stream, of the last message's entry
  EnvelopeTimes envelopeTimes;
  std::unique_ptr<unsigned char[]> ownOutput;
  unsigned char* output = nullptr;  // null until the first byte
  size_t outputUsed = 0;
  bool writeFailed = false;
  Status writeError;
  // The envelope line's texts of a day: "  Sun Sep 9 " and " 2001\n".
  SYSTEMTIME dayTextDate = {};
  char dayText[24];
  int32_t dayTextLength = 0;
  char yearText[8];
  int32_t yearTextLength = 0;
};

#endif  // KORVANE_FRAMING_MESSAGE_WRITER_H_
