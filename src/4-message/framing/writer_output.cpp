// Where the writer's bytes go: gathered in a buffer, then handed to the
// sink in large pieces.
#include <string.h>

#include "framing/message_writer.h"

bool MessageWriter::Finish() {
  Flush();
  if (!writeFailed) Check(sink->Finish());
  return !writeFailed;
}

unsigned char* MessageWriter::OutputBuffer() {
  if (output == nullptr) {
    output = sink->LendBuffer();
    if (output == nullptr) {
      if (!ownOutput) ownOutput.reset(new unsigned char[kSinkBufferSize]);
      output = ownOutput.get();
    }
  }
  return output;
}

void MessageWriter::Put(const void* bytes, size_t count) {
  if (writeFailed) return;
  if (kSinkBufferSize - outputUsed < count) {
    Flush();
    // A piece larger than the buffer goes as it is.
    if (count >= kSinkBufferSize) {
      if (!writeFailed) Check(sink->WriteBytes(bytes, count));
      handed += count;
      return;
    }
  }
  memcpy(OutputBuffer() + outputUsed, bytes, count);
  outputUsed += count;
}

void MessageWriter::Flush() {
  if (outputUsed == 0 || writeFailed) return;
  const size_t count = outputUsed;
  outputUsed = 0;
  Check(sink->WriteBytes(output, count));
  handed += count;
  output = nullptr;  // a lent buffer is the sink's again
}

// The first step that fails stops the writing.
void MessageWriter::Check(DWORD error) {
  if (error == ERROR_SUCCESS || writeFailed) return;
  writeFailed = true;
  writeError = error;
}
