#include "imap/imap_credentials.h"

#include <stdlib.h>

namespace {

bool Variable(const char* name, std::string* value) {
  const char* text = getenv(name);
  if (!text || !*text) return false;
  *value = text;
  return true;
}

}  // namespace

CredentialsFound CredentialsFromEnvironment(ImapCredentials* credentials) {
  std::string token, password;
  const bool hasToken = Variable("KORVANE_OAUTH2_TOKEN", &token);
  const bool hasPassword = Variable("KORVANE_PASSWORD", &password);
  if (hasToken && hasPassword) return CredentialsFound::kAmbiguous;
  if (!hasToken && !hasPassword) return CredentialsFound::kNone;
  credentials->kind =
      hasToken ? ImapCredentials::kOAuth2Token : ImapCredentials::kPassword;
  credentials->secret = hasToken ? token : password;
  return CredentialsFound::kFound;
}

std::string CaFileFromEnvironment() {
  std::string file;
  Variable("KORVANE_CA_FILE", &file);
  return file;
}

int ImapTimeoutMsFromEnvironment() {
  std::string text;
  if (Variable("KORVANE_IMAP_TIMEOUT", &text)) {
    char* end = nullptr;
    const long seconds = strtol(text.c_str(), &end, 10);
    if (*end == '\0' && seconds >= 1 && seconds <= 3600)
      return static_cast<int>(seconds) * 1000;
  }
  return 60000;
}
