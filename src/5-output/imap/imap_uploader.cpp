#include "imap/imap_uploader.h"

#include <stdlib.h>

#include <algorithm>

#include "bytes/sha256.h"
#include "imap/imap_date.h"
#include "imap/imap_folder.h"
#include "provider/provider_signals.h"

namespace {

// How long the folder's count must hold still before its index counts:
// longer than the server may take to store the batch it was sent last.
const int kSettleMs = 1000;

// Bytes collected before a write, and the largest literal sent without
// the server's go-ahead under LITERAL+ (a bigger one waits, so that a
// server that refuses it need not read it first).
const size_t kWriteSize = 256 * 1024;
const size_t kNonSyncLimit = 1 << 20;
const size_t kLiteralMinusLimit = 4096;  // what LITERAL- allows

// Messages (and bytes) held for their candidates before their bytes are
// compared.
const size_t kHeldMessages = 100;
const size_t kHeldBytes = 8 << 20;

// The longest wait for the answers of what was sent, once stopped.
const int kStopMs = 10000;

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

std::string Sha256Hex(const std::string& bytes) {
  Sha256 sha;
  sha.Update(bytes.data(), bytes.size());
  return Sha256::Hex(sha.Finish());
}

std::string Seconds(int ms) { return std::to_string((ms + 999) / 1000) + " s"; }

}  // namespace

uint64_t ImapUploader::Pending::Size() const {
  return IdentityLine(identity).size() + bytes.size();
}

ImapUploader::ImapUploader(const ImapAccount& account,
                           const UploadSettings& settings,
                           ResultHandler onResult, const ImapLinks& links)
    : account(account),
      settings(settings),
      onResult(onResult),
      links(links),
      clock(links.clock ? links.clock : SystemClock()),
      gate(links.gate ? links.gate
                      : ConnectionGate::For(account.host, account.port,
                                            account.user)) {}

ImapUploader::~ImapUploader() { Disconnect(); }

void ImapUploader::Tell(const Notice& notice) {
  if (account.notices != nullptr) account.notices->Tell(notice);
}

bool ImapUploader::Cancelled() const {
  return links.cancel != nullptr && *links.cancel;
}

void ImapUploader::LeaveGate() {
  if (entered) gate->Leave(loggedIn);
  entered = loggedIn = false;
}

void ImapUploader::Disconnect() {
  session.reset();
  LeaveGate();
}

Status ImapUploader::ConnectOnce(const ImapAccount& attempt) {
  Disconnect();
  if (!gate->Enter(links.cancel))
    return Status::Of(StatusKind::kCancelled, "stopped before logging in");
  entered = true;
  session.reset(new ImapSession(links));
  Status status = session->Open(attempt);
  if (status.Kind() == StatusKind::kLimit) {
    // It leaves the gate as refused (Connect).
    session.reset();
    entered = false;
    return status;
  }
  if (!status.IsOk()) return status;
  gate->LoggedIn();
  loggedIn = true;
  std::string separator;
  if (!(status = ReadSeparator(session.get(), &separator)).IsOk())
    return status;
  std::string why;
  if (!MailboxName(path, separator, &mailbox, &why))
    return Status::Of(StatusKind::kBadInput, why);
  bool made = false;
  status = EnsureFolder(session.get(), mailbox, &made);
  if (!status.IsOk()) return status;
  created |= made;
  return ReadFolderIndex(session.get(), mailbox, &index, &indexed);
}

Status ImapUploader::Connect(const ImapAccount& attempt) {
  for (;;) {
    const Status status = ConnectOnce(attempt);
    // Refused for the limit with others of ours logged in: the gate
    // lowers it, and lets this one in once one of them has ended.
    bool lowered = false;
    if (status.Kind() != StatusKind::kLimit || !gate->Refused(&lowered))
      return status;
    tally.connectionLimit = gate->MostLoggedIn();
    if (lowered) {
      Notice notice;
      notice.kind = NoticeKind::kConnectionsCut;
      notice.text = status.Text();
      notice.where = account.host;
      notice.count = gate->Limit();
      Tell(notice);
    }
  }
}

Status ImapUploader::AwaitQuietFolder() {
  // The server may still be storing what a broken connection (or a run
  // cut off) had sent in full: the folder is read again until its count
  // holds still.
  for (int round = 0; round < 20; ++round) {
    if (!clock->WaitUntil(clock->NowMs() + kSettleMs, links.cancel))
      return Status::Of(StatusKind::kCancelled, "stopped");
    size_t count = 0;
    Status status = CountMessages(session.get(), mailbox, &count);
    if (!status.IsOk() || count == indexed) return status;
    status = ReadFolderIndex(session.get(), mailbox, &index, &indexed);
    if (!status.IsOk()) return status;
  }
  return Status::Ok();
}

Status ImapUploader::Reconnect(const Status& cause, bool unsure) {
  if (failedTries == 0) {
    firstCause = cause;
    // A dead server is given up on within the time limit of one more
    // response: two in all since the last answer.
    giveUpAt =
        clock->NowMs() + std::max(account.timeoutMs, 2 * settings.firstPauseMs);
  }
  Status last = cause;
  for (;;) {
    const int64_t pause = int64_t(settings.firstPauseMs) << failedTries;
    if (failedTries >= settings.tries || clock->NowMs() + pause >= giveUpAt) {
      const std::string tried =
          failedTries == 0   ? "no new connection was tried in time"
          : failedTries == 1 ? "a new connection got no further"
                             : std::to_string(failedTries) +
                                   " new connections in a row got no further";
      return Status::Of(firstCause.Kind(),
                        firstCause.Text() + "; " + tried +
                            (failedTries == 0 ? "" : " (" + last.Text() + ")"));
    }
    if (!clock->WaitUntil(clock->NowMs() + pause, links.cancel))
      return Status::Of(StatusKind::kCancelled, "stopped");
    ++failedTries;
    ++reconnects;
    ImapAccount attempt = account;
    attempt.timeoutMs = static_cast<int>(std::max<int64_t>(
        1, std::min<int64_t>(account.timeoutMs, giveUpAt - clock->NowMs())));
    last = Connect(attempt);
    if (last.IsOk() && unsure) last = AwaitQuietFolder();
    if (last.IsOk()) {
      session->SetTimeLimit(account.timeoutMs);
      return last;
    }
    if (!IsNetworkFailure(last) && last.Kind() != StatusKind::kLimit)
      return last;
  }
}

Status ImapUploader::Open(const std::vector<std::string>& path) {
  this->path = path;
  Status status = Connect(account);
  // A connection that breaks (or is refused for the server's limit)
  // while it is set up is tried again; one that cannot be made at all is
  // a plain error.
  if ((IsNetworkFailure(status) && status.Kind() != StatusKind::kUnreachable) ||
      status.Kind() == StatusKind::kLimit)
    status = Reconnect(status, false);
  failedTries = 0;
  // A folder made now holds nothing a run cut off could have sent.
  if (status.IsOk() && !created) status = AwaitQuietFolder();
  if (!status.IsOk()) fatal = status;
  return status;
}

void ImapUploader::Settle(const Pending& message, UploadOutcome outcome,
                          uint32_t uid, const std::string& text) {
  switch (outcome) {
    case UploadOutcome::kUploaded:
      ++tally.delivered;
      tally.deliveredBytes += message.Size();
      if (message.nulsAsBlanks) ++tally.nulsAsBlanks;
      settled.push_back(message.identity);
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

void ImapUploader::Queue(Pending message, bool front) {
  queuedBytes += message.bytes.size();
  if (front)
    queue.push_front(std::move(message));
  else
    queue.push_back(std::move(message));
}

Status ImapUploader::Add(ImapMessage message) {
  if (!fatal.IsOk()) return fatal;
  if (Cancelled()) return Stop();
  Pending pending;
  pending.number = added++;
  pending.label =
      message.label != 0 ? message.label : static_cast<uint32_t>(added);
  pending.identity =
      message.identity.empty() ? Sha256Hex(message.bytes) : message.identity;
  pending.messageId = ReadIndexFields(message.bytes).messageId;
  pending.date = message.internalDate;
  if (index.TakeIdentity(pending.identity)) {
    settled.push_back(pending.identity);
    Settle(pending, UploadOutcome::kAlreadyThere, 0, "");
    return Status::Ok();
  }
  std::string whose;
  const uint64_t limit = SizeLimit(&whose);
  const uint64_t size = IdentityLine(pending.identity).size() +
                        message.bytes.size();
  if (limit != 0 && size > limit) {
    Settle(pending, UploadOutcome::kRefused, 0,
           "not sent: " + std::to_string(size) + " bytes, more than the " +
               std::to_string(limit) + " " + whose);
    return Status::Ok();
  }
  pending.bytes = std::move(message.bytes);
  if (pending.bytes.find('\0') != std::string::npos) {
    if (settings.binary && session && session->Has("BINARY")) {
      pending.binary = true;
    } else {
      for (char& c : pending.bytes)
        if (c == '\0') c = ' ';
      pending.nulsAsBlanks = true;
    }
  }
  // Uploaded by an earlier version, without an identity? Only its bytes
  // can tell.
  pending.candidates =
      index.Candidates(pending.messageId, pending.bytes.size());
  if (!pending.candidates.empty()) {
    heldBytes += pending.bytes.size();
    held.push_back(std::move(pending));
    if (held.size() < kHeldMessages && heldBytes < kHeldBytes)
      return Status::Ok();
    const Status status = Confirm();
    if (!status.IsOk()) return fatal = status;
    return Pump(false);
  }
  Queue(std::move(pending), false);
  return Pump(false);
}

Status ImapUploader::Confirm() {
  // Nothing in flight: the folder is read on the same connection.
  Status status = Pump(false);
  while (status.IsOk() && !inFlight.empty()) {
    const NetStatus read = ReadOne();
    if (read != NetStatus::kOk) {
      std::vector<Pending> none;
      status = Recover(read, &none);
    }
  }
  if (!status.IsOk()) return status;
  std::vector<uint32_t> wanted;
  for (const Pending& m : held)
    for (const uint32_t uid : m.candidates)
      if (bodies.count(uid) == 0) wanted.push_back(uid);
  std::sort(wanted.begin(), wanted.end());
  wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
  if (!wanted.empty()) {
    Sha256 sha;
    session->WatchLiterals(
        [&sha](const char* bytes, size_t size) { sha.Update(bytes, size); });
    status = FetchByUid(session.get(), mailbox, wanted, "BODY.PEEK[]",
                        [&](uint32_t uid, const ImapResponse&) {
                          bodies[uid] = Sha256::Hex(sha.Finish());
                        });
    if (session) session->WatchLiterals(nullptr);
    if (!status.IsOk()) return status;
  }
  std::vector<Pending> decided;
  decided.swap(held);
  heldBytes = 0;
  for (Pending& m : decided) {
    // What the earlier version sent: the message file alone.
    const std::string mine = Sha256Hex(m.bytes);
    bool there = false;
    for (const uint32_t uid : m.candidates) {
      if (bodies[uid] == mine && index.TakeUid(uid)) {
        settledUids.push_back(uid);
        there = true;
        break;
      }
    }
    if (there)
      Settle(m, UploadOutcome::kAlreadyThere, 0, "");
    else
      Queue(std::move(m), false);
  }
  return Status::Ok();
}

Status ImapUploader::Finish() {
  Status status = fatal;
  if (status.IsOk() && Cancelled()) status = Stop();
  if (status.IsOk() && !held.empty()) status = Confirm();
  if (status.IsOk()) status = Pump(true);
  // Every upload is answered: the dates are checked where they can be.
  if (status.IsOk() && !datesToCheck.empty()) CheckDates();
  if (gate->Limit() > 0) tally.connectionLimit = gate->MostLoggedIn();
  if (status.IsOk() && session) {
    // Counted out before the server counts it out: never more of ours
    // counted logged in than the server has.
    LeaveGate();
    ImapResponse done;
    session->Run("LOGOUT", nullptr, &done);
  }
  Disconnect();
  return status;
}

Status ImapUploader::Stop() {
  if (!fatal.IsOk()) return fatal;
  // What was sent is answered before long; what was not stays unsent.
  if (session) session->SetTimeLimit(std::min(account.timeoutMs, kStopMs));
  const int64_t until = clock->NowMs() + kStopMs;
  uint64_t unanswered = 0;
  while (session && !inFlight.empty() && clock->NowMs() < until &&
         ReadOne() == NetStatus::kOk) {
  }
  for (const Command& command : inFlight) unanswered += command.messages.size();
  std::string text = "stopped by the user";
  if (unanswered > 0)
    text +=
        "; " + std::to_string(unanswered) +
        " messages sent got no answer (a rerun finds them, if they went in)";
  Disconnect();
  return fatal = Status::Of(StatusKind::kCancelled, text);
}

Status ImapUploader::CheckDates() {
  std::vector<std::pair<uint32_t, int64_t>> sent;
  sent.swap(datesToCheck);
  std::vector<uint32_t> uids;
  for (const auto& s : sent) uids.push_back(s.first);
  std::map<uint32_t, int64_t> kept;
  const Status status =
      FetchByUid(session.get(), mailbox, uids, "INTERNALDATE",
                 [&](uint32_t uid, const ImapResponse& r) {
                   const ImapValue* date = FetchItem(r, "INTERNALDATE");
                   int64_t seconds = 0;
                   if (date != nullptr && ParseImapDate(date->text, &seconds))
                     kept[uid] = seconds;
                 });
  if (!status.IsOk()) return status;
  for (const auto& s : sent) {
    const auto found = kept.find(s.first);
    if (found == kept.end() || found->second == s.second) continue;
    tally.warnings.push_back(
        "the server does not keep the dates it is given (" +
        FormatImapDate(s.second) + " became " + FormatImapDate(found->second) +
        "): mail programs will show the messages by the day they were "
        "uploaded; a rerun still knows them by their identity");
    Notice notice;
    notice.text = tally.warnings.back();
    notice.where = mailbox;
    Tell(notice);
    break;
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
    if (Cancelled()) return Stop();
    if (!session) return Status::Of(StatusKind::kOther, "no folder is open");
    const bool multi = settings.multiappend && session->Has("MULTIAPPEND");
    const size_t batch = multi ? settings.batchMessages : 1;
    const bool full =
        queue.size() >= batch || queuedBytes >= settings.batchBytes;
    // The first batch's dates are read back with nothing in flight.
    const bool crowded =
        inFlight.size() >= (multi ? 2 : settings.inFlightCommands) ||
        inFlightBytes >= settings.inFlightBytes || !datesToCheck.empty();
    const bool due = !queue.empty() && (full || finish || queue.front().alone);
    // The server asked for a pause: what is on its way is answered first.
    const bool paused = resumeAt != 0 && clock->NowMs() < resumeAt;
    if (due && paused && inFlight.empty() && datesToCheck.empty()) {
      if (!clock->WaitUntil(resumeAt, links.cancel)) return Stop();
      continue;
    }
    NetStatus status = NetStatus::kOk;
    Command command;
    if (!datesToCheck.empty() && inFlight.empty()) {
      // Only a connection that broke stops the run; a server that will
      // not tell is no fault of the upload's.
      const Status checked = CheckDates();
      if (IsNetworkFailure(checked)) {
        status = NetStatus::kClosed;
        brokeBecause = checked.Text();
      }
    } else if (due && !crowded && !paused) {
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
      if (!recovered.IsOk()) return fatal = recovered;
    }
  }
}

Status ImapUploader::Cause(NetStatus status) const {
  const StatusKind kind = NetworkStatus(status, "").Kind();
  if (session && !session->Bye().empty())
    return Status::Of(StatusKind::kConnectionLost,
                      "the server ended the connection: " + session->Bye());
  if (!brokeBecause.empty())
    return Status::Of(StatusKind::kConnectionLost, brokeBecause);
  switch (status) {
    case NetStatus::kTimedOut:
      return Status::Of(
          kind, "the server gave no answer in " + Seconds(account.timeoutMs));
    case NetStatus::kClosed:
      return Status::Of(kind, "the server closed the connection");
    case NetStatus::kReset:
      return Status::Of(kind, "the connection was reset");
    default:
      return Status::Of(
          kind, std::string("the connection failed: ") + NetStatusText(status));
  }
}

Status ImapUploader::Recover(NetStatus broke, std::vector<Pending>* partial) {
  const Status cause = Cause(broke);
  brokeBecause.clear();
  // What was sent but not confirmed may or may not have arrived.
  std::vector<Pending> unsure;
  for (Command& command : inFlight)
    for (Pending& message : command.messages)
      unsure.push_back(std::move(message));
  for (Pending& message : *partial) unsure.push_back(std::move(message));
  inFlight.clear();
  inFlightBytes = 0;
  out.clear();
  Disconnect();
  if (Cancelled()) return Stop();
  const Status status = Reconnect(cause, !unsure.empty());
  if (!status.IsOk()) {
    // Back where the counts of how far it got can see them.
    for (Pending& m : unsure) Queue(std::move(m), false);
    return status;
  }
  // The folder read afresh: what the run has settled is in it, and so is
  // each unsure message that did arrive.
  for (const std::string& identity : settled) index.TakeIdentity(identity);
  for (const uint32_t uid : settledUids) index.TakeUid(uid);
  std::vector<Pending> again;
  for (Pending& message : unsure) {
    if (index.TakeIdentity(message.identity))
      Settle(message, UploadOutcome::kUploaded, 0, "");
    else
      again.push_back(std::move(message));
  }
  for (auto m = again.rbegin(); m != again.rend(); ++m)
    Queue(std::move(*m), true);
  return Status::Ok();
}

// The APPEND commands: writing them, with literals that wait for the
// server's go-ahead only where the protocol demands it, and taking in the
// answers.

bool ImapUploader::NonSynchronizing(const Pending& message) const {
  if (!settings.literalPlus) return false;
  if (session->Has("LITERAL+")) return message.Size() <= kNonSyncLimit;
  return session->Has("LITERAL-") && message.Size() <= kLiteralMinusLimit;
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
  for (size_t i = 0; i < command.messages.size(); ++i) {
    const Pending& message = command.messages[i];
    const bool nonSync = NonSynchronizing(message);
    line += " (\\Seen) \"" + FormatImapDate(message.date) + "\" " +
            (message.binary ? "~{" : "{") + std::to_string(message.Size()) +
            (nonSync ? "+}" : "}") + "\r\n";
    NetStatus status = Put(line);
    line.clear();
    if (status == NetStatus::kOk && !nonSync) {
      ImapResponse refusal;
      bool refused = false;
      status = AwaitContinuation(command.tag, &refusal, &refused);
      if (status == NetStatus::kOk && refused) {
        if (refusal.word == "OK") {
          // Taken before it was all sent: no answer of this server is to
          // be trusted on this connection.
          brokeBecause =
              "the server answered a command before it had been sent in full";
          return NetStatus::kFailed;
        }
        Complete(&command, refusal);
        command.messages.clear();
        return NetStatus::kOk;
      }
    }
    if (status == NetStatus::kOk) status = Put(IdentityLine(message.identity));
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
    // A BYE: the server closes the connection, nothing more comes.
    if (r.word == "BYE") {
      Untagged(r);
      return NetStatus::kClosed;
    }
    if (r.kind == ImapResponse::kTagged && r.tag == tag) {
      *refusal = r;
      *refused = true;
      return NetStatus::kOk;
    }
    if (r.kind == ImapResponse::kTagged) Answered(r);
  }
  return status;
}

NetStatus ImapUploader::ReadOne() {
  NetStatus status = FlushOut();
  ImapResponse r;
  if (status == NetStatus::kOk) status = session->Read(&r);
  if (status != NetStatus::kOk) return status;
  if (r.word == "BYE") {
    Untagged(r);
    return NetStatus::kClosed;
  }
  if (r.kind == ImapResponse::kTagged) Answered(r);
  return status;
}

void ImapUploader::Untagged(const ImapResponse& response) {
  // Gmail may end the connection at its daily limit with a BYE.
  std::vector<Pending> none;
  if (response.word == "BYE") ProviderSaid(response, &none);
}

void ImapUploader::Requeue(std::vector<Pending>* messages) {
  for (auto m = messages->rbegin(); m != messages->rend(); ++m)
    Queue(std::move(*m), true);
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
  if (!toldPause) {
    toldPause = true;
    Notice notice;
    notice.kind = NoticeKind::kThrottled;
    notice.seconds = static_cast<uint64_t>((ms + 999) / 1000);
    notice.text = ServerSays(response);
    notice.where = mailbox;
    Tell(notice);
  }
  return true;
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

void ImapUploader::Complete(Command* command, const ImapResponse& response) {
  if (ProviderSaid(response, &command->messages)) return;
  if (response.word == "OK") {
    const std::vector<uint32_t> uids = AppendedUids(response);
    for (size_t i = 0; i < command->messages.size(); ++i)
      Settle(command->messages[i], UploadOutcome::kUploaded,
             i < uids.size() ? uids[i] : 0, "");
    // The first batch told its UIDs: its dates are read back.
    if (!datesChecked && uids.size() == command->messages.size()) {
      datesChecked = true;
      for (size_t i = 0; i < uids.size(); ++i)
        datesToCheck.emplace_back(uids[i], command->messages[i].date);
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
      Queue(std::move(*m), true);
    }
  } else {
    for (const Pending& message : command->messages)
      Settle(message, UploadOutcome::kRefused, 0, ServerSays(response));
  }
}
