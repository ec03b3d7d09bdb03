#include "mbox/mbox_sink.h"

#include "platform/system_error.h"

std::unique_ptr<MessageSink> MboxSink::Create(const std::string& name,
                                              const OutputOptions& options,
                                              Status* why) {
  std::unique_ptr<MboxSink> sink(new MboxSink());
  if (options.folder != nullptr) {
    sink->partial.reset(
        new PartialFile(OrRealFileSystem(options.fs), *options.folder, name));
    const DWORD error = sink->partial->Create();
    if (error != ERROR_SUCCESS) {
      *why = Status::System(error);
      return nullptr;
    }
    return sink;
  }
  if (!sink->own.Open(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                      options.mustBeNew ? CREATE_NEW : CREATE_ALWAYS)) {
    *why = Status::System(GetLastError());
    return nullptr;
  }
  return sink;
}

Status MboxSink::WriteBytes(const void* bytes, size_t count) {
  Status error = partial
                     ? Status::System(partial->Write(bytes, count))
                     : HandleWriter(stream->handle).WriteBytes(bytes, count);
  if (error.IsOk()) written += count;
  return error;
}

Status MboxSink::Finish() {
  if (partial) return Status::System(partial->Commit());
  // The layer holds the last block of the output until it is closed, so a
  // full disk may show only here.
  if (own.handle != INVALID_HANDLE_VALUE && !own.Close())
    return Status::System(GetLastError() != ERROR_SUCCESS ? GetLastError()
                                                          : ERROR_WRITE_FAULT);
  return Status::Ok();
}
