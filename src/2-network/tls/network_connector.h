// Connections over the network: TCP, with TLS from the start or switched
// on later (STARTTLS), the certificate always checked (TlsStream).
#ifndef KORVANE_TLS_NETWORK_CONNECTOR_H_
#define KORVANE_TLS_NETWORK_CONNECTOR_H_

#include "net/byte_stream.h"

// The one for the process; its deadlines are moments of SystemClock().
Connector* NetworkConnector();

#endif  // KORVANE_TLS_NETWORK_CONNECTOR_H_
