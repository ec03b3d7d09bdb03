#include "framing/write_behind_sink.h"

WriteBehindSink::WriteBehindSink(std::unique_ptr<MessageSink> inner,
                                 const std::atomic<bool>* startWhen)
    : inner(std::move(inner)), startWhen(startWhen) {
  if (startWhen == nullptr)
    thread.reset(new WriteBehind(this->inner.get(), kSinkBufferSize, 4));
}

unsigned char* WriteBehindSink::LendBuffer() {
  if (!thread) return nullptr;
  unsigned char* buffer = thread->Buffer();
  lent = buffer;
  return buffer;
}

Status WriteBehindSink::WriteBytes(const void* bytes, size_t count) {
  if (!thread) {
    Status error = inner->WriteBytes(bytes, count);
    // From the next piece on, the thread writes.
    if (error.IsOk() && startWhen->load())
      thread.reset(new WriteBehind(inner.get(), kSinkBufferSize, 4));
    return error;
  }
  bool written;
  if (bytes == lent) {
    lent = nullptr;
    written = thread->Submit(count);
  } else {
    written = thread->WriteNow(bytes, count);
  }
  return written ? Status::Ok() : thread->Error();
}

Status WriteBehindSink::Finish() {
  if (thread && !thread->Wait()) return thread->Error();
  return inner->Finish();
}
