// Writes the output on a thread of its own, so that the system's copying of
// one buffer into the file and the conversion of the next take place at the
// same time: where each message is short, the two cost about as much.
#ifndef KORVANE_IO_WRITE_BEHIND_H_
#define KORVANE_IO_WRITE_BEHIND_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "io/byte_writer.h"
#include "platform/win32.h"

// A set of buffers, filled one at a time by the caller and written to one
// target, in the order they were handed on, by a thread that starts with
// the first buffer handed on. The first write that fails or falls short
// ends the writing: later buffers are dropped, and the caller learns of it
// at its next hand-on or wait. The target must stay until Wait has
// returned or the object is gone.
class WriteBehind {
 public:
  WriteBehind(ByteWriter* target, size_t bufferSize, size_t bufferCount);
  ~WriteBehind();  // waits for the writes handed on

  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  size_t BufferSize() const { return bufferSize; }
  // The buffer to fill; waits while every buffer is being written.
  unsigned char* Buffer();
  // Hands the first count bytes of Buffer() on. False once a write has
  // failed.
  bool Submit(size_t count);
  // Writes count bytes on the caller's thread, after everything handed on.
  bool WriteNow(const void* bytes, size_t count);
  // Waits until everything handed on is written. False if a write failed.
  bool Wait();

  // Why the write that failed did.
  Status Error();
  // Bytes that reached the target; exact once Wait has returned.
  uint64_t Written() const { return written.load(); }

 private:
  struct Piece {
    unsigned char* bytes;
    size_t count;
  };

  void Run();
  // Writes on the current thread; records a failure. mutex not held.
  bool Write(const void* bytes, size_t count);

  ByteWriter* const target;
  const size_t bufferSize;
  const size_t bufferCount;  // at least 2
  std::vector<std::unique_ptr<unsigned char[]>> buffers;
  unsigned char* current = nullptr;  // the caller's, or null

  std::mutex mutex;
  std::condition_variable workArrived;  // for the thread
  std::condition_variable workDone;     // for the caller
  std::deque<Piece> queued;
  std::vector<unsigned char*> spare;
  bool writing = false;  // the thread holds a piece
  bool stopping = false;
  bool failed = false;
  bool noThread = false;  // none could be started: the caller writes
  Status error;
  std::atomic<uint64_t> written{0};
  std::thread thread;
};

#endif  // KORVANE_IO_WRITE_BEHIND_H_
