// The server's certificate under Schannel: the chain is built here and
// judged, with the certificates of the CA file as extra roots, then the
// host name through the SSL policy, and an address against the
// certificate's subjectAltName addresses.
#include "tls/schannel_certificate.h"

#include <stdio.h>
#include <string.h>

#include <vector>

// The SSL policy's checks to leave out, from <wininet.h>.
#ifndef SECURITY_FLAG_IGNORE_UNKNOWN_CA
#define SECURITY_FLAG_IGNORE_UNKNOWN_CA 0x00000100
#endif
#ifndef SECURITY_FLAG_IGNORE_CERT_CN_INVALID
#define SECURITY_FLAG_IGNORE_CERT_CN_INVALID 0x00001000
#endif

std::string SchannelCode(long code) {
  char text[16];
  snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(code));
  return text;
}

namespace {

TlsResult Untrusted(const std::string& detail) {
  TlsResult result;
  result.status = TlsStatus::kUntrusted;
  result.detail = detail;
  return result;
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

// The chain is trusted by the system, or ends in a root of the CA file;
// then the policy checks the host name (an address too).
TlsResult Judge(PCCERT_CHAIN_CONTEXT chain, HCERTSTORE roots,
                const std::string& host) {
  TlsResult result;
  DWORD errors = chain->TrustStatus.dwErrorStatus;
  bool ownRoot = false;
  if (roots && chain->cChain > 0 && chain->rgpChain[0]->cElement > 0) {
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    PCCERT_CONTEXT top = simple->rgpElement[simple->cElement - 1]->pCertContext;
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
    result.detail = "chain status " + SchannelCode(static_cast<long>(errors));
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
    result.detail = "policy " + SchannelCode(static_cast<long>(GetLastError()));
  } else if (status.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) {
    result.status = TlsStatus::kWrongHost;
  } else if (status.dwError != 0) {
    result.status = TlsStatus::kUntrusted;
    result.detail = "policy " + SchannelCode(static_cast<long>(status.dwError));
  }
  return result;
}

}  // namespace

TlsResult CheckServerCertificate(PCCERT_CONTEXT peer, const std::string& host,
                                 const std::string& caFile) {
  TlsResult result;
  HCERTSTORE roots = nullptr;
  if (!caFile.empty()) {
    roots = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (!roots || !LoadPem(caFile, roots)) {
      if (roots) CertCloseStore(roots, 0);
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
    result =
        Untrusted("chain " + SchannelCode(static_cast<long>(GetLastError())));
  } else {
    result = Judge(chain, roots, host);
    CertFreeCertificateChain(chain);
  }
  CertCloseStore(extra, 0);
  if (roots) CertCloseStore(roots, 0);
  return result;
}
