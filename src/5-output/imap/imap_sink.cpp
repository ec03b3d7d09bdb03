#include "imap/imap_sink.h"

#include <string.h>

#include <algorithm>
#include <system_error>

#include "framing/message_digest.h"
#include "imap/imap_credentials.h"
#include "imap/imap_date.h"
#include "imap/imap_url.h"

namespace {

// Messages handed on but not yet taken by the upload thread: at most this
// many bytes (and one message more, however big), so that the conversion
// runs ahead of the upload by no more than this.
const size_t kQueueBytes = 4 << 20;

}  // namespace

std::unique_ptr<MessageSink> ImapSink::Create(const std::string& name,
                                              const OutputOptions& options,
                                              Status* why) {
  ImapUrl url;
  std::string refusal;
  if (!ParseImapUrl(name, &url, &refusal)) {
    *why = Status::Of(StatusKind::kBadInput, refusal);
    return nullptr;
  }
  if (options.account == nullptr) {
    *why = Status::Of(StatusKind::kAccessDenied,
                      "no password or token to log in with");
    return nullptr;
  }
  ImapAccount account;
  account.host = url.host;
  account.port = url.port;
  account.implicitTls = url.implicitTls;
  account.user = url.user;
  account.credentials = options.account->credentials;
  account.caFile = options.account->caFile;
  account.timeoutMs = ImapTimeoutMsFromEnvironment();
  std::string unknown;
  account.provider = ProviderFromEnvironment(url.host, &unknown);
  account.notices = options.account->notices;
  std::string folder;
  for (const std::string& part : url.folder)
    folder += (folder.empty() ? "" : "/") + part;
  std::unique_ptr<ImapSink> sink(
      new ImapSink(folder.empty() ? "INBOX" : folder));
  ImapSink* const s = sink.get();
  ImapLinks links;
  links.cancel = options.cancel;
  sink->uploader.reset(
      new ImapUploader(account, UploadSettings(), nullptr, links));
  const Status status = sink->uploader->Open(url.folder);
  if (!status.IsOk()) {
    *why = status;
    return nullptr;
  }
  try {
    sink->worker = std::thread(&ImapSink::Work, s);
  } catch (const std::system_error&) {
    *why =
        Status::Of(StatusKind::kOther, "can't start a thread to upload with");
    return nullptr;
  }
  return std::unique_ptr<MessageSink>(sink.release());
}

ImapSink::~ImapSink() { Stop(); }

Status ImapSink::Begin(const MessageFacts& message) {
  current = ImapMessage();
  // CR LF line ends make it a little longer than stored.
  current.bytes.reserve(size_t(message.length) + message.length / 16 + 64);
  currentIndex = message.place.index;
  return Status::Ok();
}

Status ImapSink::WriteBytes(const void* bytes, size_t count) {
  current.bytes.append(static_cast<const char*>(bytes), count);
  handed += count;
  return Status::Ok();
}

Status ImapSink::End(const MessageFacts& message) {
  current.internalDate =
      UploadDate(message.envelopeTime, message.clockTime, current.bytes);
  current.identity = MessageFileDigest(&sha, message, false);
  std::unique_lock<std::mutex> lock(mutex);
  room.wait(lock, [this] { return failed || queuedBytes < kQueueBytes; });
  ++messages;
  // The upload gave up (or was stopped, and the conversion stops at its
  // next message): the rest is only counted, so that the failure can say
  // how many of how many went in.
  if (failed) return Status::Ok();
  current.label = currentIndex;
  queuedBytes += current.bytes.size();
  queue.push_back(std::move(current));
  // The thread waits only on an empty queue.
  if (queue.size() == 1) ready.notify_one();
  return Status::Ok();
}

Status ImapSink::Finish() { return Stop() ? Status::Ok() : failure; }

const DeliveryTally* ImapSink::Tally() const {
  // The thread counts until it ends: a conversion stopped before Finish
  // (cancelled) asks at once, and gets the counts once the answers to what
  // was sent are in.
  const_cast<ImapSink*>(this)->Stop();
  return &tally;
}

bool ImapSink::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    ending = true;
  }
  ready.notify_one();
  if (!worker.joinable()) return !failed;
  worker.join();
  // A provider's daily limit says how far it got in words of its own.
  if (!failed || tally.dailyLimit) return !failed;
  // How far it got, and what to do.
  const uint64_t in = tally.delivered + tally.alreadyThere;
  const uint64_t out = messages - std::min(messages, in + tally.refused);
  // Those sent without an answer may be in the folder too: a rerun finds
  // them.
  std::string text = failure.Text() + "; " + std::to_string(in) + " of " +
                     std::to_string(messages) +
                     (stopped ? " messages handed on" : " messages") +
                     " are in the folder for certain";
  if (tally.refused > 0)
    text += ", " + std::to_string(tally.refused) + " refused";
  if (out > 0) text += ": run korvane again to upload the rest";
  failure = Status::Of(failure.Kind(), text, failure.Code());
  return false;
}

void ImapSink::Work() {
  std::deque<ImapMessage> taken;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      ready.wait(lock, [this] { return !queue.empty() || ending; });
      if (queue.empty()) break;
      // All that waits, in one go: one lock per batch, not per message.
      taken.swap(queue);
      queuedBytes = 0;
    }
    room.notify_one();
    for (ImapMessage& message : taken) {
      const Status status = uploader->Add(std::move(message));
      if (!status.IsOk()) return Fail(status);
    }
    taken.clear();
  }
  const Status status = uploader->Finish();
  if (!status.IsOk()) return Fail(status);
  tally = uploader->Tally();
}

void ImapSink::Fail(const Status& status) {
  failure = status;
  tally = uploader->Tally();
  tally.dailyLimit = status.Kind() == StatusKind::kDailyLimit;
  gone = true;
  std::lock_guard<std::mutex> lock(mutex);
  failed = true;
  stopped = status.Kind() == StatusKind::kCancelled;
  room.notify_one();
}
