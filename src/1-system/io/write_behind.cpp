#include "io/write_behind.h"

#include <system_error>

WriteBehind::WriteBehind(ByteWriter* target, size_t bufferSize,
                         size_t bufferCount)
    : target(target),
      bufferSize(bufferSize),
      bufferCount(bufferCount < 2 ? 2 : bufferCount) {
  // Allocated as they are first needed: a small output uses one.
  buffers.reserve(this->bufferCount);
}

WriteBehind::~WriteBehind() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  workArrived.notify_one();
  if (thread.joinable()) thread.join();
}

unsigned char* WriteBehind::Buffer() {
  if (current != nullptr) return current;
  std::unique_lock<std::mutex> lock(mutex);
  if (spare.empty() && buffers.size() < bufferCount) {
    buffers.emplace_back(new unsigned char[bufferSize]);
    current = buffers.back().get();
    return current;
  }
  workDone.wait(lock, [this] { return !spare.empty(); });
  current = spare.back();
  spare.pop_back();
  return current;
}

bool WriteBehind::Submit(size_t count) {
  unsigned char* bytes = Buffer();
  current = nullptr;
  if (!thread.joinable() && !noThread) {
    try {
      thread = std::thread(&WriteBehind::Run, this);
    } catch (const std::system_error&) {
      noThread = true;  // the system has no thread to give: write here
    }
  }
  if (noThread) {
    const bool ok = Wait() && Write(bytes, count);
    std::lock_guard<std::mutex> lock(mutex);
    spare.push_back(bytes);
    return ok;
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (failed) {
      spare.push_back(bytes);
      return false;
    }
    queued.push_back(Piece{bytes, count});
  }
  workArrived.notify_one();
  return true;
}

bool WriteBehind::WriteNow(const void* bytes, size_t count) {
  return Wait() && Write(bytes, count);
}

bool WriteBehind::Wait() {
  std::unique_lock<std::mutex> lock(mutex);
  workDone.wait(lock, [this] { return queued.empty() && !writing; });
  return !failed;
}

Status WriteBehind::Error() {
  std::lock_guard<std::mutex> lock(mutex);
  return error;
}

void WriteBehind::Run() {
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    workArrived.wait(lock, [this] { return stopping || !queued.empty(); });
    if (queued.empty()) return;  // stopping, and nothing left
    const Piece piece = queued.front();
    queued.pop_front();
    if (!failed) {
      writing = true;
      lock.unlock();
      Write(piece.bytes, piece.count);
      lock.lock();
      writing = false;
    }
    spare.push_back(piece.bytes);
    workDone.notify_one();
  }
}

bool WriteBehind::Write(const void* bytes, size_t count) {
  Status code = target->WriteBytes(bytes, count);
  if (code.IsOk()) {
    written += count;
    return true;
  }
  std::lock_guard<std::mutex> lock(mutex);
  if (!failed) {
    failed = true;
    error = std::move(code);
  }
  return false;
}
