#include "imap/imap_uploader.h"

#include <stdlib.h>

#include "imap/imap_date.h"
#include "imap/imap_folder.h"
#include "provider/provider_signals.h"

namespace {

// How long the folder's count must hold still after a broken connection:
// longer than the server may take to store the batch it was sent last.
const int kSettleMs = 1000;

// Bytes collected before a write, and the largest literal sent without
// the server's go-ahead under LITERAL+ (a bigger one waits, so that a
// server that refuses it need not read it first).
const size_t kWriteSize = 256 * 1024;
const size_t kNonSyncLimit = 1 << 20;
const size_t kLiteralMinusLimit = 4096;  // what LITERAL- allows

// The UIDs of an APPENDUID code ("APPENDUID 7 3:5,9"), in order.
std::vector<uint32_t> AppendedUids(const ImapResponse& response) {
  std::vector<uint32_t> uids;
  if (response.CodeName() != "APPENDUID") return uids;
  const size_t set = response.code.find(' ', response.code.find(' ') + 1);
  if (set == std::string::npos) return uids;
  const char* p = response.code.c_str() + set + 1;
  while (*p) {
    char* end;
    const unsigned long first = strtoul(p, &end, 10);
    unsigned long last = first;
    if (end == p) break;
    if (*end == ':') {
      p = end + 1;
      last = strtoul(p, &end, 10);
      if (end == p) break;
    }
    for (unsigned long u = first; u <= last && uids.size() < 100000; ++u)
      uids.push_back(static_cast<uint32_t>(u));
    p = *end == ',' ? end + 1 : end;
    if (*end != ',') break;
  }
  return uids;
}

}  // namespace

ImapUploader::ImapUploader(const ImapAccount& account,
                           const UploadSettings& settings,
                           ResultHandler onResult, const ImapLinks& links)
    : account(account),
      settings(settings),
      onResult(onResult),
      links(links),
      clock(links.clock ? links.clock : SystemClock()) {}

ImapUploader::~ImapUploader() {}

void ImapUploader::Pause(int ms) {
  clock->WaitUntil(clock->NowMs() + ms, nullptr);
}

Status ImapUploader::Connect() {
  session.reset(new ImapSession(links));
  Status status = session->Open(account);
  if (!status.IsOk()) return status;
  std::string separator;
  if (!(status = ReadSeparator(session.get(), &separator)).IsOk())
    return status;
  std::string why;
  if (!MailboxName(path, separator, &mailbox, &why))
    return Status::Of(StatusKind::kBadInput, why);
  bool created = false;
  status = EnsureFolder(session.get(), mailbox, &created);
  if (!status.IsOk()) return status;
  return ReadFolderIndex(session.get(), mailbox, &index, &indexed);
}

Status ImapUploader::AwaitQuietFolder() {
  // The server may still be storing what the broken connection had sent
  // in full: the folder is read again until its count holds still.
  for (int round = 0; round < 20; ++round) {
    Pause(kSettleMs);
    size_t count = 0;
    Status status = CountMessages(session.get(), mailbox, &count);
    if (!status.IsOk() || count == indexed) return status;
    status = ReadFolderIndex(session.get(), mailbox, &index, &indexed);
    if (!status.IsOk()) return status;
  }
  return Status::Ok();
}

Status ImapUploader::Open(const std::vector<std::string>& path) {
  this->path = path;
  // A connection that breaks while it is being set up is tried again; one
  // that cannot be made at all is a plain error.
  for (int tries = 0;; ++tries) {
    const Status status = Connect();
    if (status.IsOk() || !IsNetworkFailure(status) ||
        status.Kind() == StatusKind::kUnreachable || tries >= settings.tries)
      return status;
    Pause(settings.firstPauseMs << tries);
    ++reconnects;
  }
}

void ImapUploader::Report(const Pending& message, UploadOutcome outcome,
                          uint32_t uid, const std::string& text) {
  switch (outcome) {
    case UploadOutcome::kUploaded:
      ++tally.delivered;
      tally.deliveredBytes += message.key.size;
      if (message.nulsAsBlanks) ++tally.nulsAsBlanks;
      break;
    case UploadOutcome::kAlreadyThere:
      ++tally.alreadyThere;
      break;
    case UploadOutcome::kRefused:
      ++tally.refused;
      tally.refusals.push_back("message " + std::to_string(message.label) +
                               ": " + text);
      break;
  }
  if (!onResult) return;
  UploadResult result;
  result.number = message.number;
  result.outcome = outcome;
  result.uid = uid;
  result.serverText = text;
  onResult(result);
}

Status ImapUploader::Add(ImapMessage message) {
  if (!fatal.IsOk()) return fatal;
  Pending pending;
  pending.number = added++;
  pending.label =
      message.label != 0 ? message.label : static_cast<uint32_t>(added);
  pending.key.messageId = NormalizedMessageId(message.messageId);
  pending.key.date = message.internalDate;
  pending.key.size = message.bytes.size();
  if (index.Take(pending.key)) {
    settled.push_back(pending.key);
    Report(pending, UploadOutcome::kAlreadyThere, 0, "");
    return Status::Ok();
  }
  std::string whose;
  const uint64_t limit = SizeLimit(&whose);
  if (limit != 0 && message.bytes.size() > limit) {
    Report(pending, UploadOutcome::kRefused, 0,
           "not sent: " + std::to_string(message.bytes.size()) +
               " bytes, more than the " + std::to_string(limit) + " " + whose);
    return Status::Ok();
  }
  pending.bytes = std::move(message.bytes);
  if (pending.bytes.find('\0') != std::string::npos) {
    if (settings.binary && session && session->Has("BINARY")) {
      pending.binary = true;
    } else {
      // Same size: the skip rule still finds it in a later run.
      for (char& c : pending.bytes)
        if (c == '\0') c = ' ';
      pending.nulsAsBlanks = true;
    }
  }
  queuedBytes += pending.bytes.size();
  queue.push_back(std::move(pending));
  return Pump(false);
}

Status ImapUploader::Finish() {
  const Status status = Pump(true);
  if (status.IsOk() && session) {
    ImapResponse done;
    session->Run("LOGOUT", nullptr, &done);
    session->Close();
  }
  return status;
}

Status ImapUploader::Pump(bool finish) {
  for (;;) {
    // At the daily limit, what was sent before the refusal may still have
    // gone in: its answers are read, so that the run says how much did.
    if (!fatal.IsOk() && fatal.Kind() == StatusKind::kDailyLimit && session &&
        !inFlight.empty() && ReadOne() == NetStatus::kOk)
      continue;
    if (!fatal.IsOk()) return fatal;
    if (!session) return Status::Of(StatusKind::kOther, "no folder is open");
    const bool multi = settings.multiappend && session->Has("MULTIAPPEND");
    const size_t batch = multi ? settings.batchMessages : 1;
    const bool full =
        queue.size() >= batch || queuedBytes >= settings.batchBytes;
    const bool crowded =
        inFlight.size() >= (multi ? 2 : settings.inFlightCommands) ||
        inFlightBytes >= settings.inFlightBytes;
    const bool due = !queue.empty() && (full || finish || queue.front().alone);
    // The server asked for a pause: what is on its way is answered first.
    const bool paused = resumeAt != 0 && clock->NowMs() < resumeAt;
    if (due && paused && inFlight.empty()) {
      clock->WaitUntil(resumeAt, nullptr);
      continue;
    }
    NetStatus status = NetStatus::kOk;
    Command command;
    if (due && !crowded && !paused) {
      // A batch, cut before a message that must go alone.
      do {
        command.bytes += queue.front().bytes.size();
        command.messages.push_back(std::move(queue.front()));
        queue.pop_front();
      } while (!queue.empty() && !command.messages.front().alone &&
               !queue.front().alone && command.messages.size() < batch &&
               command.bytes + queue.front().bytes.size() <=
                   settings.batchBytes);
      queuedBytes -= command.bytes;
      status = SendCommand(command);
    } else if (!inFlight.empty() &&
               (crowded || finish || paused || session->ReadableNow())) {
      status = ReadOne();
    } else {
      status = FlushOut();
      if (status == NetStatus::kOk) return Status::Ok();
    }
    if (status != NetStatus::kOk) {
      // A connection ended with the provider's daily limit is not opened
      // again.
      if (!fatal.IsOk()) return fatal;
      const Status recovered = Recover(status, &command.messages);
      if (!recovered.IsOk()) {
        fatal = recovered;
        return recovered;
      }
    }
  }
}

Status ImapUploader::Recover(NetStatus cause, std::vector<Pending>* partial) {
  // What was sent but not confirmed may or may not have arrived.
  std::vector<Pending> unsure;
  for (Command& command : inFlight)
    for (Pending& message : command.messages)
      unsure.push_back(std::move(message));
  for (Pending& message : *partial) unsure.push_back(std::move(message));
  inFlight.clear();
  inFlightBytes = 0;
  out.clear();
  session.reset();
  Status status;
  do {
    if (failedTries >= settings.tries) {
      return Status::Of(
          NetworkStatus(cause, "").Kind(),
          "the connection broke (" + std::string(NetStatusText(cause)) +
              ") and " + std::to_string(failedTries) +
              " new connections in a row got no further (" + status.Text() +
              "); of " + std::to_string(added) + " messages given, " +
              std::to_string(tally.delivered) + " uploaded, " +
              std::to_string(tally.alreadyThere) + " already there, " +
              std::to_string(tally.refused) + " refused");
    }
    Pause(settings.firstPauseMs << failedTries);
    ++failedTries;
    ++reconnects;
    status = Connect();
    if (status.IsOk() && !unsure.empty()) status = AwaitQuietFolder();
    if (!status.IsOk() && !IsNetworkFailure(status)) return status;
  } while (!status.IsOk());
  // The folder read afresh: what the run has settled is in it, and so is
  // each unsure message that did arrive.
  for (const MessageKey& key : settled) index.Take(key);
  std::vector<Pending> again;
  for (Pending& message : unsure) {
    if (index.Take(message.key)) {
      settled.push_back(message.key);
      Report(message, UploadOutcome::kUploaded, 0, "");
    } else {
      again.push_back(std::move(message));
    }
  }
  for (auto m = again.rbegin(); m != again.rend(); ++m) {
    queuedBytes += m->bytes.size();
    queue.push_front(std::move(*m));
  }
  return Status::Ok();
}

// The APPEND commands: writing them, with literals that wait for the
// server's go-ahead only where the protocol demands it, and taking in the
// answers.

bool ImapUploader::NonSynchronizing(const Pending& message) const {
  if (!settings.literalPlus) return false;
  if (session->Has("LITERAL+")) return message.bytes.size() <= kNonSyncLimit;
  return session->Has("LITERAL-") && message.bytes.size() <= kLiteralMinusLimit;
}

NetStatus ImapUploader::FlushOut() {
  if (out.empty()) return NetStatus::kOk;
  const NetStatus status = session->Send(out);
  out.clear();
  return status;
}

NetStatus ImapUploader::Put(const std::string& text) {
  if (text.size() >= kWriteSize) {
    const NetStatus status = FlushOut();
    return status == NetStatus::kOk ? session->Send(text) : status;
  }
  out += text;
  return out.size() >= kWriteSize ? FlushOut() : NetStatus::kOk;
}

NetStatus ImapUploader::SendCommand(Command& command) {
  command.tag = session->NextTag();
  std::string line = command.tag + " APPEND " + QuotedMailbox(mailbox);
  for (const Pending& message : command.messages) {
    const bool nonSync = NonSynchronizing(message);
    line += " (\\Seen) \"" + FormatImapDate(message.key.date) + "\" " +
            (message.binary ? "~{" : "{") +
            std::to_string(message.bytes.size()) + (nonSync ? "+}" : "}") +
            "\r\n";
    NetStatus status = Put(line);
    line.clear();
    if (status == NetStatus::kOk && !nonSync) {
      ImapResponse refusal;
      bool refused = false;
      status = AwaitContinuation(command.tag, &refusal, &refused);
      if (status == NetStatus::kOk && refused) {
        Complete(&command, refusal);
        command.messages.clear();
        return NetStatus::kOk;
      }
    }
    if (status == NetStatus::kOk) status = Put(message.bytes);
    if (status != NetStatus::kOk) return status;
  }
  const NetStatus status = Put("\r\n");
  if (status != NetStatus::kOk) return status;
  inFlightBytes += command.bytes;
  inFlight.push_back(std::move(command));
  command.messages.clear();
  return NetStatus::kOk;
}

NetStatus ImapUploader::AwaitContinuation(const std::string& tag,
                                          ImapResponse* refusal,
                                          bool* refused) {
  NetStatus status = FlushOut();
  while (status == NetStatus::kOk) {
    ImapResponse r;
    if ((status = session->Read(&r)) != NetStatus::kOk) break;
    if (r.kind == ImapResponse::kContinuation) return NetStatus::kOk;
    if (r.kind == ImapResponse::kTagged && r.tag == tag) {
      *refusal = r;
      *refused = true;
      return NetStatus::kOk;
    }
    if (r.kind == ImapResponse::kTagged) Answered(r);
    if (r.kind == ImapResponse::kUntagged) Untagged(r);
  }
  return status;
}

NetStatus ImapUploader::ReadOne() {
  NetStatus status = FlushOut();
  ImapResponse r;
  if (status == NetStatus::kOk) status = session->Read(&r);
  if (status == NetStatus::kOk && r.kind == ImapResponse::kTagged) Answered(r);
  if (status == NetStatus::kOk && r.kind == ImapResponse::kUntagged)
    Untagged(r);
  return status;
}

void ImapUploader::Untagged(const ImapResponse& response) {
  // Gmail may end the connection at its daily limit with a BYE.
  std::vector<Pending> none;
  if (response.word == "BYE") ProviderSaid(response, &none);
}

void ImapUploader::Answered(const ImapResponse& response) {
  for (auto c = inFlight.begin(); c != inFlight.end(); ++c) {
    if (c->tag != response.tag) continue;
    Command command = std::move(*c);
    inFlight.erase(c);
    inFlightBytes -= command.bytes;
    Complete(&command, response);
    return;
  }
}

void ImapUploader::Requeue(std::vector<Pending>* messages) {
  for (auto m = messages->rbegin(); m != messages->rend(); ++m) {
    queuedBytes += m->bytes.size();
    queue.push_front(std::move(*m));
  }
  messages->clear();
}

uint64_t ImapUploader::SizeLimit(std::string* whose) const {
  const std::string announced = session ? session->Value("APPENDLIMIT") : "";
  if (!announced.empty() && announced.size() < 19 &&
      announced.find_first_not_of("0123456789") == std::string::npos &&
      std::stoull(announced) > 0) {
    *whose = "the server takes (its APPENDLIMIT)";
    return std::stoull(announced);
  }
  if (!account.provider) return 0;
  *whose = std::string("bytes ") + account.provider->title + " takes";
  return account.provider->maxMessageBytes;
}

bool ImapUploader::ProviderSaid(const ImapResponse& response,
                                std::vector<Pending>* messages) {
  if (SaysDailyLimit(account.provider, response.CodeName(), response.text)) {
    // Neither refused nor lost: the run ends, and a later one sends them.
    messages->clear();
    fatal = Status::Of(StatusKind::kDailyLimit,
                       std::string(account.provider->title) +
                           "'s daily limit was reached (" +
                           ServerSays(response) + ")");
    return true;
  }
  int64_t ms = 0;
  if (response.word == "OK" || !SuggestedBackoffMs(response.text, &ms))
    return false;
  Requeue(messages);
  resumeAt = std::max(resumeAt, clock->NowMs() + ms);
  if (!toldPause && account.notices) {
    toldPause = true;
    Notice notice;
    notice.kind = NoticeKind::kThrottled;
    notice.seconds = static_cast<uint64_t>((ms + 999) / 1000);
    notice.text = ServerSays(response);
    notice.where = mailbox;
    account.notices->Tell(notice);
  }
  return true;
}

void ImapUploader::Complete(Command* command, const ImapResponse& response) {
  if (ProviderSaid(response, &command->messages)) return;
  if (response.word == "OK") {
    const std::vector<uint32_t> uids = AppendedUids(response);
    for (size_t i = 0; i < command->messages.size(); ++i) {
      settled.push_back(command->messages[i].key);
      Report(command->messages[i], UploadOutcome::kUploaded,
             i < uids.size() ? uids[i] : 0, "");
    }
    failedTries = 0;
  } else if (response.CodeName() == "TRYCREATE") {
    fatal =
        Status::Of(StatusKind::kNotFound,
                   "folder " + mailbox + " is gone: " + ServerSays(response));
  } else if (command->messages.size() > 1) {
    // The server takes a batch whole or not at all: each message goes
    // again alone, so that the refusal is told for the one it concerns.
    for (auto m = command->messages.rbegin(); m != command->messages.rend();
         ++m) {
      m->alone = true;
      queuedBytes += m->bytes.size();
      queue.push_front(std::move(*m));
    }
  } else {
    for (const Pending& message : command->messages)
      Report(message, UploadOutcome::kRefused, 0, ServerSays(response));
  }
}
