// Schannel, Windows' own TLS. The handshake asks Schannel not to judge the
// certificate (it could not be told of KORVANE_CA_FILE): the chain is built
// and checked here, with the CA file's certificates as extra roots, and
// then the host name through the SSL policy.
#define SECURITY_WIN32
// <windows.h> first: the others build on its types.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>
// clang-format on
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tls/tls_stream.h"

// The SSL policy's checks to leave out, from <wininet.h>.
#ifndef SECURITY_FLAG_IGNORE_UNKNOWN_CA
#define SECURITY_FLAG_IGNORE_UNKNOWN_CA 0x00000100
#endif
#ifndef SECURITY_FLAG_IGNORE_CERT_CN_INVALID
#define SECURITY_FLAG_IGNORE_CERT_CN_INVALID 0x00001000
#endif

namespace {

std::string Code(long code) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(code));
  return text;
}

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                    static_cast<int>(text.size()), &wide[0],
                                    static_cast<int>(wide.size()));
  wide.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return wide;
}

// The certificates of a PEM file, into store; false if it holds none or
// cannot be read.
bool LoadPem(const std::string& file, HCERTSTORE store) {
  FILE* f = fopen(file.c_str(), "rb");
  if (!f) return false;
  std::string pem;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) pem.append(buffer, n);
  fclose(f);
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  int added = 0;
  for (size_t at = pem.find(kBegin); at != std::string::npos;
       at = pem.find(kBegin, at + 1)) {
    const size_t end = pem.find(kEnd, at);
    if (end == std::string::npos) break;
    const std::string block = pem.substr(at, end + sizeof kEnd - 1 - at);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size,
                              nullptr, nullptr))
      continue;
    std::vector<BYTE> der(size);
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                             CRYPT_STRING_BASE64HEADER, der.data(), &size,
                             nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                         size, CERT_STORE_ADD_USE_EXISTING,
                                         nullptr))
      ++added;
  }
  return added > 0;
}

// The bytes of host if it is an IPv4 or IPv6 address.
bool AddressBytes(const std::string& host, std::string* bytes) {
  unsigned char buffer[16];
  if (inet_pton(AF_INET, host.c_str(), buffer) == 1) {
    bytes->assign(reinterpret_cast<char*>(buffer), 4);
    return true;
  }
  if (inet_pton(AF_INET6, host.c_str(), buffer) == 1) {
    bytes->assign(reinterpret_cast<char*>(buffer), 16);
    return true;
  }
  return false;
}

// Whether the certificate's subjectAltName lists the address. The SSL
// policy matches names only, not addresses (so Wine's; Windows' own varies
// with the version): an address is checked here.
bool NamesAddress(PCCERT_CONTEXT certificate, const std::string& address) {
  const CERT_INFO* info = certificate->pCertInfo;
  PCERT_EXTENSION extension = CertFindExtension(
      szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
  if (!extension) return false;
  CERT_ALT_NAME_INFO* names = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME,
                           extension->Value.pbData, extension->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
    return false;
  bool found = false;
  for (DWORD i = 0; i < names->cAltEntry; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
    found |=
        entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
        entry.IPAddress.cbData == address.size() &&
        memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
  }
  LocalFree(names);
  return found;
}

class SchannelStream : public TlsStream {
 public:
  ~SchannelStream() override {
    if (haveContext_) DeleteSecurityContext(&context_);
    if (haveCredentials_) FreeCredentialsHandle(&credentials_);
  }

  TlsResult Start(ByteStream* transport, const std::string& host,
                  const std::string& caFile) override {
    transport_ = transport;
    TlsResult result;
    SCHANNEL_CRED wanted = {};
    wanted.dwVersion = SCHANNEL_CRED_VERSION;
    wanted.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    wanted.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION |
                     SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TimeStamp expiry;
    const SECURITY_STATUS acquired = AcquireCredentialsHandleA(
        nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr,
        &wanted, nullptr, nullptr, &credentials_, &expiry);
    if (acquired != SEC_E_OK) return Failed(TlsStatus::kHandshake, acquired);
    haveCredentials_ = true;
    result = Handshake(host);
    if (result.status != TlsStatus::kOk) return result;
    result = CheckCertificate(host, caFile);
    if (result.status != TlsStatus::kOk) return result;
    const SECURITY_STATUS sized =
        QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (sized != SEC_E_OK) return Failed(TlsStatus::kHandshake, sized);
    return result;
  }

  NetStatus Read(char* buffer, size_t size, size_t* got) override {
    *got = 0;
    while (plainAt_ == plain_.size()) {
      plain_.clear();
      plainAt_ = 0;
      const NetStatus status = Decrypt();
      if (status != NetStatus::kOk) return status;
    }
    *got = std::min(size, plain_.size() - plainAt_);
    plain_.copy(buffer, *got, plainAt_);
    plainAt_ += *got;
    return NetStatus::kOk;
  }

  NetStatus Write(const char* data, size_t size) override {
    std::vector<char> record;
    while (size > 0) {
      const size_t piece = std::min<size_t>(size, sizes_.cbMaximumMessage);
      record.resize(sizes_.cbHeader + piece + sizes_.cbTrailer);
      std::copy(data, data + piece, record.begin() + sizes_.cbHeader);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<unsigned long>(piece), SECBUFFER_DATA,
           record.data() + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER,
           record.data() + sizes_.cbHeader + piece},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
      if (EncryptMessage(&context_, 0, &description, 0) != SEC_E_OK)
        return NetStatus::kFailed;
      const NetStatus status = transport_->Write(
          record.data(),
          buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
      if (status != NetStatus::kOk) return status;
      data += piece;
      size -= piece;
    }
    return NetStatus::kOk;
  }

  bool ReadableNow() override {
    return plainAt_ < plain_.size() || !in_.empty() ||
           transport_->ReadableNow();
  }

 private:
  TlsResult Failed(TlsStatus status, long code) {
    TlsResult result;
    result.status = status;
    result.detail = "Schannel " + Code(code);
    return result;
  }

  NetStatus Receive() {
    char buffer[16384];
    size_t got = 0;
    const NetStatus status = transport_->Read(buffer, sizeof buffer, &got);
    in_.insert(in_.end(), buffer, buffer + got);
    return status;
  }

  // Keeps the last `extra` received bytes: the start of the next record.
  void KeepExtra(const SecBuffer& buffer) {
    if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer > 0)
      in_.erase(in_.begin(), in_.end() - buffer.cbBuffer);
    else
      in_.clear();
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
          {static_cast<unsigned long>(in_.size()), SECBUFFER_TOKEN,
           in_.empty() ? nullptr : in_.data()},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDescription = {SECBUFFER_VERSION, 2, inBuffers};
      SecBuffer outBuffer = {0, SECBUFFER_TOKEN, nullptr};
      SecBufferDesc outDescription = {SECBUFFER_VERSION, 1, &outBuffer};
      unsigned long got = 0;
      const SECURITY_STATUS status =
          InitializeSecurityContextA(&credentials_, first ? nullptr : &context_,
                                     const_cast<char*>(host.c_str()), wanted, 0,
                                     0, first ? nullptr : &inDescription, 0,
                                     &context_, &outDescription, &got, nullptr);
      if (first) haveContext_ = true;
      first = false;
      if (outBuffer.cbBuffer > 0 && outBuffer.pvBuffer) {
        const NetStatus sent = transport_->Write(
            static_cast<const char*>(outBuffer.pvBuffer), outBuffer.cbBuffer);
        FreeContextBuffer(outBuffer.pvBuffer);
        if (sent != NetStatus::kOk) return NetFailure(sent);
      }
      if (status == SEC_E_INCOMPLETE_MESSAGE ||
          (status == SEC_I_CONTINUE_NEEDED && in_.empty()) ||
          (status == SEC_I_CONTINUE_NEEDED &&
           inBuffers[1].BufferType != SECBUFFER_EXTRA)) {
        if (status != SEC_E_INCOMPLETE_MESSAGE) in_.clear();
        const NetStatus received = Receive();
        if (received != NetStatus::kOk) return NetFailure(received);
        // A record starts with its type, 20 to 24. Schannel would wait for
        // the rest of anything else (a plain greeting) until the server
        // gives up.
        const unsigned char type = static_cast<unsigned char>(in_[0]);
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

  TlsResult CheckCertificate(const std::string& host,
                             const std::string& caFile) {
    PCCERT_CONTEXT peer = nullptr;
    if (QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT,
                                &peer) != SEC_E_OK ||
        !peer)
      return Failed(TlsStatus::kUntrusted, 0);
    TlsResult result;
    HCERTSTORE roots = nullptr;
    if (!caFile.empty()) {
      roots = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
      if (!roots || !LoadPem(caFile, roots)) {
        if (roots) CertCloseStore(roots, 0);
        CertFreeCertificateContext(peer);
        result.status = TlsStatus::kCaFile;
        result.detail = caFile;
        return result;
      }
    }
    // The server's own intermediates, and the CA file's certificates.
    HCERTSTORE extra =
        CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    CertAddStoreToCollection(extra, peer->hCertStore, 0, 0);
    if (roots) CertAddStoreToCollection(extra, roots, 0, 0);
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof chainPara;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, peer, nullptr, extra, &chainPara, 0,
                                 nullptr, &chain)) {
      result = Failed(TlsStatus::kUntrusted, static_cast<long>(GetLastError()));
    } else {
      result = Judge(chain, roots, host);
      CertFreeCertificateChain(chain);
    }
    CertCloseStore(extra, 0);
    if (roots) CertCloseStore(roots, 0);
    CertFreeCertificateContext(peer);
    return result;
  }

  // The chain is trusted by the system, or ends in a root of the CA file;
  // then the policy checks the host name (an address too).
  TlsResult Judge(PCCERT_CHAIN_CONTEXT chain, HCERTSTORE roots,
                  const std::string& host) {
    TlsResult result;
    DWORD errors = chain->TrustStatus.dwErrorStatus;
    bool ownRoot = false;
    if (roots && chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
      const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
      PCCERT_CONTEXT top =
          simple->rgpElement[simple->cElement - 1]->pCertContext;
      PCCERT_CONTEXT found = CertFindCertificateInStore(
          roots, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, top, nullptr);
      if (found) {
        ownRoot = true;
        CertFreeCertificateContext(found);
        errors &= ~static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT);
      }
    }
    if (errors != CERT_TRUST_NO_ERROR) {
      result.status = TlsStatus::kUntrusted;
      result.detail = "chain status " + Code(static_cast<long>(errors));
      return result;
    }
    std::wstring name = Wide(host);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = ownRoot ? SECURITY_FLAG_IGNORE_UNKNOWN_CA : 0;
    std::string address;
    if (AddressBytes(host, &address)) {
      const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
      if (!NamesAddress(simple->rgpElement[0]->pCertContext, address)) {
        result.status = TlsStatus::kWrongHost;
        return result;
      }
      ssl.fdwChecks |= SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    }
    ssl.pwszServerName = &name[0];
    CERT_CHAIN_POLICY_PARA para = {};
    para.cbSize = sizeof para;
    para.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para,
                                          &status)) {
      result.status = TlsStatus::kUntrusted;
      result.detail = "policy " + Code(static_cast<long>(GetLastError()));
    } else if (status.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
      result.status = TlsStatus::kWrongHost;
    } else if (status.dwError != 0) {
      result.status = TlsStatus::kUntrusted;
      result.detail = "policy " + Code(static_cast<long>(status.dwError));
    }
    return result;
  }

  NetStatus Decrypt() {
    for (;;) {
      if (!in_.empty()) {
        SecBuffer buffers[4] = {{static_cast<unsigned long>(in_.size()),
                                 SECBUFFER_DATA, in_.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc description = {SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status =
            DecryptMessage(&context_, &description, 0, nullptr);
        if (status == SEC_E_OK) {
          const SecBuffer* extra = nullptr;
          for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA)
              plain_.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            if (b.BufferType == SECBUFFER_EXTRA) extra = &b;
          }
          if (extra)
            KeepExtra(*extra);
          else
            in_.clear();
          if (!plain_.empty()) return NetStatus::kOk;
          continue;
        }
        if (status == SEC_I_CONTEXT_EXPIRED) return NetStatus::kClosed;
        if (status != SEC_E_INCOMPLETE_MESSAGE) return NetStatus::kFailed;
      }
      const NetStatus received = Receive();
      if (received != NetStatus::kOk) return received;
    }
  }

  ByteStream* transport_ = nullptr;
  CredHandle credentials_;
  CtxtHandle context_;
  bool haveCredentials_ = false, haveContext_ = false;
  SecPkgContext_StreamSizes sizes_ = {};
  std::vector<char> in_;  // received, not yet decrypted
  std::string plain_;     // decrypted, not yet read
  size_t plainAt_ = 0;
};

}  // namespace

std::unique_ptr<TlsStream> TlsStream::Create() {
  return std::unique_ptr<TlsStream>(new SchannelStream);
}
