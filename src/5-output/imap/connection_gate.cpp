#include "imap/connection_gate.h"

#include <chrono>
#include <map>
#include <memory>

ConnectionGate* ConnectionGate::For(const std::string& host, uint16_t port,
                                    const std::string& user) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<ConnectionGate>> gates;
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<ConnectionGate>& gate =
      gates[user + '\0' + host + '\0' + std::to_string(port)];
  if (!gate) gate.reset(new ConnectionGate);
  return gate.get();
}

bool ConnectionGate::Enter(const std::atomic<bool>* cancel) {
  std::unique_lock<std::mutex> lock(mutex);
  // In steps, so that a cancel is seen while waiting.
  while (limit > 0 && open >= limit) {
    if (cancel != nullptr && *cancel) return false;
    room.wait_for(lock, std::chrono::milliseconds(100));
  }
  if (cancel != nullptr && *cancel) return false;
  ++open;
  return true;
}

void ConnectionGate::LoggedIn() {
  std::lock_guard<std::mutex> lock(mutex);
  if (++loggedIn > mostLoggedIn) mostLoggedIn = loggedIn;
  // One let in before a refusal, logged in after it: the server takes
  // that many.
  if (limit > 0 && loggedIn > limit) limit = loggedIn;
}

void ConnectionGate::Leave(bool wasLoggedIn) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    --open;
    if (wasLoggedIn) --loggedIn;
  }
  room.notify_one();
}

bool ConnectionGate::Refused(bool* lowered) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    --open;
    if (loggedIn > 0) {
      if (lowered != nullptr) *lowered = limit == 0 || loggedIn < limit;
      limit = loggedIn;
      return true;
    }
  }
  room.notify_one();
  return false;
}

int ConnectionGate::Limit() const {
  std::lock_guard<std::mutex> lock(mutex);
  return limit;
}

int ConnectionGate::MostLoggedIn() const {
  std::lock_guard<std::mutex> lock(mutex);
  return mostLoggedIn;
}
