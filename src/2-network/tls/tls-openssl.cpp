#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>

#include "tls/tls_stream.h"

namespace {

// The library's first queued error, as text, and the queue emptied.
std::string TakeErrors() {
  const unsigned long first = ERR_get_error();
  ERR_clear_error();
  if (first == 0) return "";
  char text[256];
  ERR_error_string_n(first, text, sizeof text);
  return text;
}

// OpenSSL over memory buffers: the records go through the transport's own
// reads and writes, so that their time limits hold here too.
class OpenSslStream : public TlsStream {
 public:
  ~OpenSslStream() override {
    if (ssl) SSL_free(ssl);  // frees the buffers too
    if (context) SSL_CTX_free(context);
  }

  TlsResult Start(ByteStream* transport, const std::string& host,
                  const std::string& caFile) override {
    this->transport = transport;
    TlsResult result;
    context = SSL_CTX_new(TLS_client_method());
    if (!context) return Failed(TlsStatus::kHandshake);
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_default_verify_paths(context);
    ERR_clear_error();  // a system without a root store is no error yet
    if (!caFile.empty() &&
        SSL_CTX_load_verify_locations(context, caFile.c_str(), nullptr) != 1)
      return Failed(TlsStatus::kCaFile);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    ssl = SSL_new(context);
    if (!ssl) return Failed(TlsStatus::kHandshake);
    in = BIO_new(BIO_s_mem());
    out = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl, in, out);
    SSL_set_connect_state(ssl);
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    if (X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) != 1) {
      // Not an address: a name, sent for the server to pick its
      // certificate by, and checked without partial wildcards.
      ERR_clear_error();
      SSL_set_tlsext_host_name(ssl, host.c_str());
      X509_VERIFY_PARAM_set_hostflags(param,
                                      X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
      if (SSL_set1_host(ssl, host.c_str()) != 1)
        return Failed(TlsStatus::kWrongHost);
    }
    const NetStatus net = Drive([this] { return SSL_do_handshake(ssl); });
    const long verified = SSL_get_verify_result(ssl);
    if (verified != X509_V_OK) {
      result.status = verified == X509_V_ERR_HOSTNAME_MISMATCH ||
                              verified == X509_V_ERR_IP_ADDRESS_MISMATCH
                          ? TlsStatus::kWrongHost
                          : TlsStatus::kUntrusted;
      result.detail = X509_verify_cert_error_string(verified);
      ERR_clear_error();
      return result;
    }
    if (net != NetStatus::kOk) {
      if (failed) return Failed(TlsStatus::kHandshake);
      result.status = TlsStatus::kNetwork;
      result.net = net;
      return result;
    }
    X509* peer = SSL_get1_peer_certificate(ssl);
    if (!peer) return Failed(TlsStatus::kUntrusted);
    X509_free(peer);
    return result;
  }

  NetStatus Read(char* buffer, size_t size, size_t* got) override {
    *got = 0;
    const int most = static_cast<int>(std::min<size_t>(size, 1 << 30));
    int n = 0;
    const NetStatus status =
        Drive([&] { return n = SSL_read(ssl, buffer, most); });
    if (status == NetStatus::kOk) *got = static_cast<size_t>(n);
    return status;
  }

  NetStatus Write(const char* data, size_t size) override {
    // In pieces, so that the sealed records never pile up in memory.
    while (size > 0) {
      const int piece = static_cast<int>(std::min<size_t>(size, 1 << 16));
      const NetStatus status =
          Drive([&] { return SSL_write(ssl, data, piece); });
      if (status != NetStatus::kOk) return status;
      data += piece;
      size -= static_cast<size_t>(piece);
    }
    return NetStatus::kOk;
  }

  bool ReadableNow() override {
    return SSL_pending(ssl) > 0 || BIO_ctrl_pending(in) > 0 ||
           transport->ReadableNow();
  }

 private:
  TlsResult Failed(TlsStatus status) {
    TlsResult result;
    result.status = status;
    result.detail = TakeErrors();
    return result;
  }

  // Sends what the library has sealed.
  NetStatus Flush() {
    while (BIO_ctrl_pending(out) > 0) {
      const int n = BIO_read(out, scratch, sizeof scratch);
      if (n <= 0) break;
      const NetStatus status =
          transport->Write(scratch, static_cast<size_t>(n));
      if (status != NetStatus::kOk) return status;
    }
    return NetStatus::kOk;
  }

  // Repeats op (a handshake, read or write step) until it succeeds,
  // feeding the library what the transport brings.
  template <typename Op>
  NetStatus Drive(Op op) {
    if (failed) return NetStatus::kFailed;
    for (;;) {
      const int r = op();
      const int error = r > 0 ? SSL_ERROR_NONE : SSL_get_error(ssl, r);
      const NetStatus flushed = Flush();
      if (flushed != NetStatus::kOk) return flushed;
      if (error == SSL_ERROR_NONE) return NetStatus::kOk;
      if (error == SSL_ERROR_ZERO_RETURN) return NetStatus::kClosed;
      if (error != SSL_ERROR_WANT_READ) {
        failed = true;
        return NetStatus::kFailed;
      }
      size_t got = 0;
      const NetStatus status = transport->Read(scratch, sizeof scratch, &got);
      if (status != NetStatus::kOk) return status;
      BIO_write(in, scratch, static_cast<int>(got));
    }
  }

  SSL_CTX* context = nullptr;
  SSL* ssl = nullptr;
  BIO* in = nullptr;
  BIO* out = nullptr;
  bool failed = false;
  char scratch[1 << 15];  // records on their way
};

}  // namespace

std::unique_ptr<TlsStream> TlsStream::Create() {
  return std::unique_ptr<TlsStream>(new OpenSslStream);
}
