// A TLS client stream over a connection that is already open: for an
// implicit-TLS port right after connecting, or after a protocol's own
// switch (STARTTLS). The server's certificate is always checked, against
// the system's trusted roots (and the certificates of a CA file, if one is
// given) and against the host name or address; there is no way to turn
// that off. The system's library on each platform: tls-openssl.cpp,
// tls-schannel.cpp.
#ifndef KORVANE_TLS_TLS_STREAM_H_
#define KORVANE_TLS_TLS_STREAM_H_

#include <memory>
#include <string>

#include "net/byte_stream.h"

enum class TlsStatus {
  kOk,
  kNetwork,    // the connection failed during the handshake
  kCaFile,     // the CA file cannot be read or holds no certificate
  kUntrusted,  // no chain to a trusted root (self-signed, expired, ...)
  kWrongHost,  // trusted, but made out for another name or address
  kHandshake,  // no common protocol, or the server broke it off
};

struct TlsResult {
  TlsStatus status = TlsStatus::kOk;
  NetStatus net = NetStatus::kOk;  // for kNetwork
  std::string detail;              // the library's reason, where it has one
};

// "certificate not trusted: <detail>", ...
std::string TlsResultText(const TlsResult& result);

// The one mapping of a handshake's result to a Status: a network failure
// as NetworkStatus says, a certificate that is not to be trusted (or a CA
// file that cannot be used) kCertificate, any other failure kOther; the
// words name host.
Status TlsStatusOf(const TlsResult& result, const std::string& host);

class TlsStream : public ByteStream {
 public:
  // The platform's implementation.
  static std::unique_ptr<TlsStream> Create();

  // Runs the handshake over transport (which must outlive the stream) and
  // checks the certificate for host (a name, or an address in text form).
  // caFile, if not empty, is a PEM file whose certificates are trusted in
  // addition to the system's roots.
  virtual TlsResult Start(ByteStream* transport, const std::string& host,
                          const std::string& caFile) = 0;

  // The transport's deadline.
  void SetDeadline(int64_t ms) override {
    if (transport != nullptr) transport->SetDeadline(ms);
  }

 protected:
  ByteStream* transport = nullptr;  // set by Start
};

#endif  // KORVANE_TLS_TLS_STREAM_H_
