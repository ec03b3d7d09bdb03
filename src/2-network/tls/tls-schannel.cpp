// Schannel, Windows' own TLS. The handshake asks Schannel not to judge the
// certificate (it could not be told of KORVANE_CA_FILE):
// CheckServerCertificate does (schannel_certificate.cpp).
#include <algorithm>
#include <string>
#include <vector>

#include "tls/schannel_certificate.h"

namespace {

class SchannelStream : public TlsStream {
 public:
  ~SchannelStream() override {
    if (haveContext) DeleteSecurityContext(&context);
    if (haveCredentials) FreeCredentialsHandle(&credentials);
  }

  TlsResult Start(ByteStream* transport, const std::string& host,
                  const std::string& caFile) override {
    this->transport = transport;
    TlsResult result;
    SCHANNEL_CRED wanted = {};
    wanted.dwVersion = SCHANNEL_CRED_VERSION;
    wanted.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    wanted.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION |
                     SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TimeStamp expiry;
    const SECURITY_STATUS acquired = AcquireCredentialsHandleA(
        nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
        &wanted, nullptr, nullptr, &credentials, &expiry);
    if (acquired != SEC_E_OK) return Failed(TlsStatus::kHandshake, acquired);
    haveCredentials = true;
    result = Handshake(host);
    if (result.status != TlsStatus::kOk) return result;
    PCCERT_CONTEXT peer = nullptr;
    if (QueryContextAttributesA(&context, SECPKG_ATTR_REMOTE_CERT_CONTEXT,
                                &peer) != SEC_E_OK ||
        !peer)
      return Failed(TlsStatus::kUntrusted, 0);
    result = CheckServerCertificate(peer, host, caFile);
    CertFreeCertificateContext(peer);
    if (result.status != TlsStatus::kOk) return result;
    const SECURITY_STATUS sized =
        QueryContextAttributesA(&context, SECPKG_ATTR_STREAM_SIZES, &sizes);
    if (sized != SEC_E_OK) return Failed(TlsStatus::kHandshake, sized);
    return result;
  }

  NetStatus Read(char* buffer, size_t size, size_t* got) override {
    *got = 0;
    while (plainAt == plain.size()) {
      plain.clear();
      plainAt = 0;
      const NetStatus status = Decrypt();
      if (status != NetStatus::kOk) return status;
    }
    *got = std::min(size, plain.size() - plainAt);
    plain.copy(buffer, *got, plainAt);
    plainAt += *got;
    return NetStatus::kOk;
  }

  NetStatus Write(const char* data, size_t size) override {
    std::vector<char> record;
    while (size > 0) {
      const size_t piece = std::min<size_t>(size, sizes.cbMaximumMessage);
      record.resize(sizes.cbHeader + piece + sizes.cbTrailer);
      std::copy(data, data + piece, record.begin() + sizes.cbHeader);
      SecBuffer buffers[4] = {
          {sizes.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<unsigned long>(piece), SECBUFFER_DATA,
           record.data() + sizes.cbHeader},
          {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER,
           record.data() + sizes.cbHeader + piece},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
      if (EncryptMessage(&context, 0, &description, 0) != SEC_E_OK)
        return NetStatus::kFailed;
      const NetStatus status = transport->Write(
          record.data(),
          buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
      if (status != NetStatus::kOk) return status;
      data += piece;
      size -= piece;
    }
    return NetStatus::kOk;
  }

  bool ReadableNow() override {
    return plainAt < plain.size() || !in.empty() || transport->ReadableNow();
  }

 private:
  TlsResult Failed(TlsStatus status, long code) {
    TlsResult result;
    result.status = status;
    result.detail = "Schannel " + SchannelCode(code);
    return result;
  }

  NetStatus Receive() {
    char buffer[16384];
    size_t got = 0;
    const NetStatus status = transport->Read(buffer, sizeof buffer, &got);
    in.insert(in.end(), buffer, buffer + got);
    return status;
  }

  // Keeps the last `extra` received bytes: the start of the next record.
  void KeepExtra(const SecBuffer& buffer) {
    if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer > 0)
      in.erase(in.begin(), in.end() - buffer.cbBuffer);
    else
      in.clear();
  }

  TlsResult Handshake(const std::string& host) {
    const unsigned long wanted =
        ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
        ISC_REQ_CONFIDENTIALITY | ISC_REQ_EXTENDED_ERROR |
        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
        ISC_REQ_MANUAL_CRED_VALIDATION;
    bool first = true;
    for (;;) {
      SecBuffer inBuffers[2] = {
          {static_cast<unsigned long>(in.size()), SECBUFFER_TOKEN,
           in.empty() ? nullptr : in.data()},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDescription = {SECBUFFER_VERSION, 2, inBuffers};
      SecBuffer outBuffer = {0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc outDescription = {SECBUFFER_VERSION, 1, &outBuffer};
      unsigned long got = 0;
      const SECURITY_STATUS status =
          InitializeSecurityContextA(&credentials, first ? nullptr : &context,
                                     const_cast<char*>(host.c_str()), wanted, 0,
                                     0, first ? nullptr : &inDescription, 0,
                                     &context, &outDescription, &got, nullptr);
      if (first) haveContext = true;
      first = false;
      if (outBuffer.cbBuffer > 0 && outBuffer.pvBuffer) {
        const NetStatus sent = transport->Write(
            static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer);
        FreeContextBuffer(outBuffer.pvBuffer);
        if (sent != NetStatus::kOk) return NetFailure(sent);
      }
      if (status == SEC_E_INCOMPLETE_MESSAGE ||
          (status == SEC_I_CONTINUE_NEEDED && in.empty()) ||
          (status == SEC_I_CONTINUE_NEEDED &&
           inBuffers[1].BufferType != SECBUFFER_EXTRA)) {
        if (status != SEC_E_INCOMPLETE_MESSAGE) in.clear();
        const NetStatus received = Receive();
        if (received != NetStatus::kOk) return NetFailure(received);
        // A record starts with its type, 20 to 24. Schannel would wait for
        // the rest of anything else (a plain greeting) until the server
        // gives up.
        const unsigned char type = static_cast<unsigned char>(in[0]);
        if (type < 20 || type > 24) {
          TlsResult result;
          result.status = TlsStatus::kHandshake;
          result.detail = "the server answered without TLS";
          return result;
        }
        continue;
      }
      if (status == SEC_I_CONTINUE_NEEDED) {
        KeepExtra(inBuffers[1]);
        continue;
      }
      if (status == SEC_E_OK) {
        KeepExtra(inBuffers[1]);
        return TlsResult();
      }
      return Failed(TlsStatus::kHandshake, status);
    }
  }

  TlsResult NetFailure(NetStatus status) {
    TlsResult result;
    result.status = TlsStatus::kNetwork;
    result.net = status;
    return result;
  }

  NetStatus Decrypt() {
    for (;;) {
      if (!in.empty()) {
        SecBuffer buffers[4] = {
            {static_cast<unsigned long>(in.size()), SECBUFFER_DATA, in.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status =
            DecryptMessage(&context, &description, 0, nullptr);
        if (status == SEC_E_OK) {
          const SecBuffer* extra = nullptr;
          for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA)
              plain.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            if (b.BufferType == SECBUFFER_EXTRA) extra = &b;
          }
          if (extra)
            KeepExtra(*extra);
          else
            in.clear();
          if (!plain.empty()) return NetStatus::kOk;
          continue;
        }
        if (status == SEC_I_CONTEXT_EXPIRED) return NetStatus::kClosed;
        if (status != SEC_E_INCOMPLETE_MESSAGE) return NetStatus::kFailed;
      }
      const NetStatus received = Receive();
      if (received != NetStatus::kOk) return received;
    }
  }

  CredHandle credentials;
  CtxtHandle context;
  bool haveCredentials = false, haveContext = false;
  SecPkgContext_StreamSizes sizes = {};
  std::vector<char> in;  // received, not yet decrypted
  std::string plain;     // decrypted, not yet read
  size_t plainAt = 0;
};

}  // namespace

std::unique_ptr<TlsStream> TlsStream::Create() {
  return std::unique_ptr<TlsStream>(new SchannelStream);
}
