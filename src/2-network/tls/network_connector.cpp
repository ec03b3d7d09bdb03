#include "tls/network_connector.h"

#include "net/clock.h"
#include "net/tcp_connection.h"
#include "tls/tls_stream.h"

namespace {

class NetworkConnection : public Connection {
 public:
  NetStatus Connect(const std::string& host, uint16_t port, int timeoutMs) {
    this->timeoutMs = timeoutMs;
    return tcp.Connect(host, port, timeoutMs);
  }

  NetStatus Read(char* buffer, size_t size, size_t* got) override {
    return stream->Read(buffer, size, got);
  }
  NetStatus Write(const char* data, size_t size) override {
    return stream->Write(data, size);
  }
  bool ReadableNow() override { return stream->ReadableNow(); }
  void SetDeadline(int64_t ms) override { tcp.SetDeadline(ms); }

  Status StartTls(const std::string& host, const std::string& caFile) override {
    // The whole handshake within one time limit, as a response: a server
    // that trickles it is as good as gone.
    tcp.SetDeadline(SystemClock()->NowMs() + timeoutMs);
    tls = TlsStream::Create();
    const Status status = TlsStatusOf(tls->Start(&tcp, host, caFile), host);
    tcp.SetDeadline(kNoDeadline);
    if (status.IsOk()) stream = tls.get();
    return status;
  }

 private:
  TcpConnection tcp;
  int timeoutMs = 0;
  std::unique_ptr<TlsStream> tls;
  ByteStream* stream = &tcp;
};

class Network : public Connector {
 public:
  Status Open(const std::string& host, uint16_t port, bool tls,
              const std::string& caFile, int timeoutMs,
              std::unique_ptr<Connection>* connection) override {
    connection->reset();
    std::unique_ptr<NetworkConnection> made(new NetworkConnection);
    const NetStatus connected = made->Connect(host, port, timeoutMs);
    if (connected != NetStatus::kOk) {
      // Made or not, no connection is there to lose.
      const std::string where =
          "connecting to " + host + ":" + std::to_string(port);
      return Status::Of(StatusKind::kUnreachable,
                        NetworkStatus(connected, where).Text());
    }
    if (tls) {
      const Status status = made->StartTls(host, caFile);
      if (!status.IsOk()) return status;
    }
    *connection = std::move(made);
    return Status::Ok();
  }
};

}  // namespace

Connector* NetworkConnector() {
  static Network network;
  return &network;
}
