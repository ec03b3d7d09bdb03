// The login: SASL PLAIN, LOGIN where that is all, or an OAuth2 token
// (OAUTHBEARER, XOAUTH2). Only ever on a TLS stream (ImapSession::Connect
// has made one); no secret goes into an error.
#include "imap/imap_session.h"

ImapError ImapSession::Authenticate(const std::string& mechanism,
                                    const std::string& initial) {
  const std::string tag = NextTag();
  const std::string response = Base64(initial);
  const bool inline_ = Has("SASL-IR");
  NetStatus status = Send(tag + " AUTHENTICATE " + mechanism +
                          (inline_ ? " " + response : "") + "\r\n");
  bool sent = inline_;
  int challenges = 0;
  ImapResponse r;
  while (status == NetStatus::kOk && (status = Read(&r)) == NetStatus::kOk) {
    if (r.kind == ImapResponse::kContinuation) {
      // The first asks for the response; after it, a challenge is the
      // server's reason for failing (OAuth2), answered to end the exchange.
      if (!sent) {
        status = Send(response + "\r\n");
        sent = true;
      } else {
        ++challenges;
        status = Send(challenges > 2               ? "*\r\n"
                      : mechanism == "OAUTHBEARER" ? "AQ==\r\n"
                                                   : "\r\n");
      }
      continue;
    }
    if (r.kind != ImapResponse::kTagged || r.tag != tag) continue;
    if (r.word == "OK") return ImapError();
    return ImapError::Fault(
        ImapFault::kLogin,
        "login as this user refused (" + mechanism + "): " + ServerSays(r));
  }
  return NetworkError(status, "AUTHENTICATE");
}

ImapError ImapSession::Login(const ImapAccount& account) {
  const ImapCredentials& credentials = account.credentials;
  ImapError error;
  if (credentials.kind == ImapCredentials::kOAuth2Token) {
    if (Has("AUTH=OAUTHBEARER") && !(account.xoauth2 && Has("AUTH=XOAUTH2"))) {
      error = Authenticate("OAUTHBEARER",
                           "n,a=" + account.user + ",\x01host=" + account.host +
                               "\x01port=" + std::to_string(account.port) +
                               "\x01"
                               "auth=Bearer " +
                               credentials.secret + "\x01\x01");
    } else if (Has("AUTH=XOAUTH2")) {
      error = Authenticate("XOAUTH2", "user=" + account.user +
                                          "\x01"
                                          "auth=Bearer " +
                                          credentials.secret + "\x01\x01");
    } else {
      return ImapError::Fault(ImapFault::kNoLoginMethod,
                              account.host +
                                  " takes no OAuth2 token (neither "
                                  "OAUTHBEARER nor XOAUTH2 is offered)");
    }
  } else if (Has("AUTH=PLAIN")) {
    error =
        Authenticate("PLAIN", std::string(1, '\0') + account.user +
                                  std::string(1, '\0') + credentials.secret);
  } else if (!Has("LOGINDISABLED")) {
    std::string user, password;
    if (!QuoteArgument(account.user, &user) ||
        !QuoteArgument(credentials.secret, &password))
      return ImapError::Fault(
          ImapFault::kNoLoginMethod,
          account.host +
              " offers only LOGIN, which cannot carry "
              "this user name or password (not plain ASCII)");
    ImapResponse done;
    error = Run("LOGIN " + user + " " + password, nullptr, &done);
    if (error.Ok() && done.word != "OK")
      return ImapError::Fault(
          ImapFault::kLogin, "login as this user refused: " + ServerSays(done));
  } else {
    return ImapError::Fault(
        ImapFault::kNoLoginMethod,
        account.host + " offers no way to log in with a password");
  }
  if (!error.Ok()) return error;
  // What a server offers may grow after the login.
  return RefreshCapabilities();
}
