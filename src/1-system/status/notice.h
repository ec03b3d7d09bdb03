// What a lower layer has to tell the user while a run goes on that is no
// failure: sign in at this address, the server asked to wait, fewer
// connections than asked for, a provider's daily limit. The layer that
// knows it (an account's sign-in, the uploader) tells a NoticeSink; the
// run hands each notice on to its front end (RunEvents::Told), which alone
// decides how to show it. Texts are raw: a server's words may hold any
// byte, and the front end escapes them. A notice never holds a secret.
#ifndef KORVANE_STATUS_NOTICE_H_
#define KORVANE_STATUS_NOTICE_H_

#include <stdint.h>

#include <string>

enum class NoticeKind {
  kInfo,  // text, and nothing more to it
  // A sign-in (text: the provider's name, where: the account): the page
  // to sign in on, url; count is 1 where the browser was started on it,
  // 0 where it could not be (then the user opens url).
  kOpenInBrowser,
  kDeviceCode,  // the same at url on any device, entering code, which is
                // good for seconds
  kSignedIn,    // the sign-in went through
  // Before the first upload into a provider's account (text: the
  // provider's name, where: its host): bytes to send; count: the days its
  // daily limit makes of it, 0 for no daily limit.
  kUploadSize,
  kThrottled,       // the server asked to wait: seconds, then it goes on;
                    // text: its words
  kConnectionsCut,  // the provider (text) allows count connections at
                    // once: no more jobs than that
  kDailyLimit,      // a provider's daily limit was reached: bytes went in
};

struct Notice {
  NoticeKind kind = NoticeKind::kInfo;
  std::string text;   // words of the program or the server
  std::string where;  // the place it concerns (a folder, a URL); "" for none
  std::string url;    // kOpenInBrowser, kDeviceCode
  std::string code;   // kDeviceCode: the code the user types (no secret)
  uint64_t bytes = 0;
  uint64_t seconds = 0;
  int count = 0;  // kConnectionsCut: connections; kUploadSize: days
};

class NoticeSink {
 public:
  virtual ~NoticeSink() {}
  // From any thread; returns at once (the notice is queued for the front
  // end, never shown from the caller's thread).
  virtual void Tell(const Notice& notice) = 0;
};

#endif  // KORVANE_STATUS_NOTICE_H_
