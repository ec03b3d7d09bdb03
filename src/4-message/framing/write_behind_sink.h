// A sink's bytes written by a thread of their own (WriteBehind) while the
// writer converts the next piece: worth it for one stream of output with a
// processor to spare.
#ifndef KORVANE_FRAMING_WRITE_BEHIND_SINK_H_
#define KORVANE_FRAMING_WRITE_BEHIND_SINK_H_

#include <atomic>
#include <memory>

#include "framing/message_sink.h"
#include "io/write_behind.h"

class WriteBehindSink : public MessageSink {
 public:
  // Writes inner's bytes on a thread from the start or, with startWhen,
  // from the first piece handed on after it turns true (tree mode: a worker
  // has run out of bases, and its processor is spare). inner must take
  // its bytes in one stream (MessagesApart false).
  WriteBehindSink(std::unique_ptr<MessageSink> inner,
                  const std::atomic<bool>* startWhen);

  bool MessagesApart() const override { return false; }
  Status WriteBytes(const void* bytes, size_t count) override;
  Status Finish() override;
  unsigned char* LendBuffer() override;
  uint64_t BytesWritten() const override { return inner->BytesWritten(); }

 private:
  std::unique_ptr<MessageSink> inner;
  const std::atomic<bool>* startWhen;
  // Four buffers: with two the converter waited for the writing.
  std::unique_ptr<WriteBehind> thread;  // null until it starts
  const unsigned char* lent = nullptr;
};

#endif  // KORVANE_FRAMING_WRITE_BEHIND_SINK_H_
