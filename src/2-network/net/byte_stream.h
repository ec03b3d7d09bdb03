// A connection as the protocol code sees it: bytes in, bytes out, each call
// bounded in time. The TCP connection and the TLS stream over it are both
// one.
#ifndef KORVANE_NET_BYTE_STREAM_H_
#define KORVANE_NET_BYTE_STREAM_H_

#include <stddef.h>

enum class NetStatus {
  kOk,
  kHostUnknown,  // the name does not resolve
  kRefused,      // nothing listens on the port
  kTimedOut,     // no answer within the time allowed
  kReset,        // the other side broke the connection off
  kClosed,       // the other side closed the connection
  kFailed,       // anything else the system reports
};

// "host unknown", "connection refused", ...
const char* NetStatusText(NetStatus status);

class ByteStream {
 public:
  virtual ~ByteStream() {}

  // Reads what has arrived, at least one byte and at most size, waiting
  // for it up to the stream's time limit. *got is the count read.
  virtual NetStatus Read(char* buffer, size_t size, size_t* got) = 0;

  // Writes all of data, waiting up to the time limit for each part.
  virtual NetStatus Write(const char* data, size_t size) = 0;

  // Whether a Read would return at once (bytes or the end are waiting).
  virtual bool ReadableNow() = 0;
};

#endif  // KORVANE_NET_BYTE_STREAM_H_
