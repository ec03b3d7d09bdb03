// Checking the server's certificate where Schannel is the TLS library.
#ifndef KORVANE_TLS_SCHANNEL_CERTIFICATE_H_
#define KORVANE_TLS_SCHANNEL_CERTIFICATE_H_

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

#include <string>

#include "tls/tls_stream.h"

// The certificate the server showed: a chain to one of the system's roots
// or of caFile's certificates (a PEM file; "" for none), made out for host
// (a name, or an address).
TlsResult CheckServerCertificate(PCCERT_CONTEXT peer, const std::string& host,
                                 const std::string& caFile);

// A status code as text, "0x80090325".
std::string SchannelCode(long code);

#endif  // KORVANE_TLS_SCHANNEL_CERTIFICATE_H_
