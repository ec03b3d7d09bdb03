#include "redirect/redirect_listener.h"

#include <chrono>

namespace {

const size_t kMaxHead = 16 * 1024;
const size_t kMaxConnections = 16;

}  // namespace

Status RedirectListener::AwaitRequest(int timeoutMs,
                                      const std::function<bool()>& keepWaiting,
                                      std::string* head) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (keepWaiting && !keepWaiting())
      return Status::Of(StatusKind::kCancelled, "the sign-in was given up");
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0)
      return Status::Of(StatusKind::kTimedOut,
                        "no answer from the browser in time");
    std::vector<size_t> readable;
    bool incoming = false;
    const Status waited =
        Wait(static_cast<int>(left < 200 ? left : 200), &readable, &incoming);
    if (!waited.IsOk()) return waited;
    // From the last, so that a dropped connection moves none still to read.
    for (size_t k = readable.size(); k-- > 0;) {
      const size_t i = readable[k];
      if (!Receive(i, &received[i])) {
        Forget(i);
        continue;
      }
      const size_t end = received[i].find("\r\n\r\n");
      if (end != std::string::npos) {
        *head = received[i].substr(0, end + 2);
        Choose(i);
        received.erase(received.begin() + static_cast<long>(i));
        return Status::Ok();
      }
      if (received[i].size() > kMaxHead) Forget(i);
    }
    if (incoming && Accept()) {
      // The oldest silent connection makes room for a new one.
      if (received.size() >= kMaxConnections) Forget(0);
      received.emplace_back();
    }
  }
}

void RedirectListener::Forget(size_t i) {
  Drop(i);
  received.erase(received.begin() + static_cast<long>(i));
}

bool ParseRequestTarget(const std::string& head, std::string* path,
                        std::string* query) {
  const size_t lineEnd = head.find("\r\n");
  const std::string line = head.substr(0, lineEnd);
  if (line.compare(0, 4, "GET ") != 0) return false;
  const size_t targetEnd = line.find(' ', 4);
  if (targetEnd == std::string::npos ||
      line.compare(targetEnd, 6, " HTTP/") != 0)
    return false;
  const std::string target = line.substr(4, targetEnd - 4);
  if (target.empty() || target[0] != '/') return false;
  const size_t mark = target.find('?');
  *path = target.substr(0, mark);
  *query = mark == std::string::npos ? "" : target.substr(mark + 1);
  return true;
}

std::string PlainPage(int status, const std::string& text) {
  const char* reason = status == 200   ? "OK"
                       : status == 404 ? "Not Found"
                                       : "Bad Request";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason +
         "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
         std::to_string(text.size()) +
         "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + text;
}
