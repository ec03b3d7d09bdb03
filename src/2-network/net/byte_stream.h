// A connection as the protocol code sees it: bytes in, bytes out, each call
// bounded in time. The TCP connection, the TLS stream over it and the
// in-memory pipes of the tests are all one; a Connector opens them.
#ifndef KORVANE_NET_BYTE_STREAM_H_
#define KORVANE_NET_BYTE_STREAM_H_

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <string>

#include "status/status.h"

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

// The one mapping of a stream's result to a Status: "doing: words", of
// kind kUnreachable (no connection made), kConnectionLost, kTimedOut or
// kOther.
Status NetworkStatus(NetStatus status, const std::string& doing);

// No deadline beyond the stream's own time limit per call.
const int64_t kNoDeadline = INT64_MAX;

class ByteStream {
 public:
  virtual ~ByteStream() {}

  // Reads what has arrived, at least one byte and at most size, waiting
  // for it up to the stream's time limit or its deadline, whichever comes
  // first. *got is the count read.
  virtual NetStatus Read(char* buffer, size_t size, size_t* got) = 0;

  // Writes all of data, waiting up to the time limit for each part, and
  // no later than the deadline for all of it.
  virtual NetStatus Write(const char* data, size_t size) = 0;

  // Whether a Read would return at once (bytes or the end are waiting).
  virtual bool ReadableNow() = 0;

  // The moment (on the clock the stream was made with) after which reads
  // and writes fail with kTimedOut; kNoDeadline for none. A stream without
  // a clock ignores it.
  virtual void SetDeadline(int64_t ms) { (void)ms; }
};

// An open connection: a stream that can turn into a TLS stream on the way
// (STARTTLS).
class Connection : public ByteStream {
 public:
  // Runs the TLS handshake over the connection as it is and checks the
  // server's certificate for host (and caFile's certificates, a PEM file,
  // besides the system's roots; "" for none). From then on the bytes go
  // through TLS.
  virtual Status StartTls(const std::string& host,
                          const std::string& caFile) = 0;
};

// What opens connections: the network (TCP, and TLS where asked), or an
// in-memory server in the tests.
class Connector {
 public:
  virtual ~Connector() {}
  // Connects to host:port, waiting up to timeoutMs, which also limits each
  // later read and write; with tls, the handshake follows at once. A
  // failure says what failed, never with the caller's secrets.
  virtual Status Open(const std::string& host, uint16_t port, bool tls,
                      const std::string& caFile, int timeoutMs,
                      std::unique_ptr<Connection>* connection) = 0;
};

#endif  // KORVANE_NET_BYTE_STREAM_H_
