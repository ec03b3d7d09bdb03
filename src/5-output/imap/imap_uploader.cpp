#include "imap/imap_uploader.h"

#include <chrono>
#include <thread>

#include "imap/imap_folder.h"

namespace {

// How long the folder's count must hold still after a broken connection:
// longer than the server may take to store the batch it was sent last.
const int kSettleMs = 1000;

}  // namespace

ImapUploader::ImapUploader(const ImapAccount& account,
                           const UploadSettings& settings,
                           ResultHandler onResult)
    : account_(account), settings_(settings), onResult_(onResult) {}

ImapUploader::~ImapUploader() {}

ImapError ImapUploader::Connect() {
  session_.reset(new ImapSession);
  ImapError error = session_->Open(account_);
  if (!error.Ok()) return error;
  if (!(error = ReadSeparator(session_.get(), &separator_)).Ok()) return error;
  std::string why;
  if (!MailboxName(path_, separator_, &mailbox_, &why))
    return ImapError::Fault(ImapFault::kFolder, why);
  bool created = false;
  error = EnsureFolder(session_.get(), mailbox_, &created);
  if (!error.Ok()) return error;
  created_ |= created;
  return ReadFolderIndex(session_.get(), mailbox_, &index_, &indexed_);
}

ImapError ImapUploader::AwaitQuietFolder() {
  // The server may still be storing what the broken connection had sent
  // in full: the folder is read again until its count holds still.
  for (int round = 0; round < 20; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    size_t count = 0;
    ImapError error = CountMessages(session_.get(), mailbox_, &count);
    if (!error.Ok() || count == indexed_) return error;
    error = ReadFolderIndex(session_.get(), mailbox_, &index_, &indexed_);
    if (!error.Ok()) return error;
  }
  return ImapError();
}

ImapError ImapUploader::Open(const std::vector<std::string>& path) {
  path_ = path;
  // A connection that breaks while it is being set up is tried again; one
  // that cannot be made at all is a plain error.
  for (int tries = 0;; ++tries) {
    const ImapError error = Connect();
    if (error.Ok() || !error.dropped || tries >= settings_.tries) return error;
    std::this_thread::sleep_for(
        std::chrono::milliseconds(settings_.firstPauseMs << tries));
    ++totals_.reconnects;
  }
}

void ImapUploader::Report(const Pending& message, UploadOutcome outcome,
                          uint32_t uid, const std::string& text) {
  UploadResult result;
  result.number = message.number;
  result.outcome = outcome;
  result.uid = uid;
  result.serverText = text;
  result.nulsAsBlanks = message.nulsAsBlanks;
  switch (outcome) {
    case UploadOutcome::kUploaded:
      ++totals_.uploaded;
      break;
    case UploadOutcome::kAlreadyThere:
      ++totals_.alreadyThere;
      break;
    case UploadOutcome::kRefused:
      ++totals_.refused;
      break;
  }
  if (message.nulsAsBlanks && outcome == UploadOutcome::kUploaded)
    ++totals_.nulsAsBlanks;
  if (onResult_) onResult_(result);
}

ImapError ImapUploader::Add(ImapMessage message) {
  if (!fatal_.Ok()) return fatal_;
  Pending pending;
  pending.number = added_++;
  pending.key.messageId = NormalizedMessageId(message.messageId);
  pending.key.date = message.internalDate;
  pending.key.size = message.bytes.size();
  if (index_.Take(pending.key)) {
    settled_.push_back(pending.key);
    Report(pending, UploadOutcome::kAlreadyThere, 0, "");
    return ImapError();
  }
  pending.bytes = std::move(message.bytes);
  if (pending.bytes.find('\0') != std::string::npos) {
    if (settings_.binary && session_ && session_->Has("BINARY")) {
      pending.binary = true;
    } else {
      // Same size: the skip rule still finds it in a later run.
      for (char& c : pending.bytes)
        if (c == '\0') c = ' ';
      pending.nulsAsBlanks = true;
    }
  }
  queuedBytes_ += pending.bytes.size();
  queue_.push_back(std::move(pending));
  return Pump(false);
}

ImapError ImapUploader::Finish() {
  const ImapError error = Pump(true);
  if (error.Ok() && session_) {
    ImapResponse done;
    session_->Run("LOGOUT", nullptr, &done);
    session_->Close();
  }
  return error;
}

ImapError ImapUploader::Pump(bool finish) {
  for (;;) {
    if (!fatal_.Ok()) return fatal_;
    if (!session_)
      return ImapError::Fault(ImapFault::kServer, "no folder is open");
    const bool multi = settings_.multiappend && session_->Has("MULTIAPPEND");
    const size_t batch = multi ? settings_.batchMessages : 1;
    const bool full =
        queue_.size() >= batch || queuedBytes_ >= settings_.batchBytes;
    const bool crowded =
        inFlight_.size() >= (multi ? 2 : settings_.inFlightCommands) ||
        inFlightBytes_ >= settings_.inFlightBytes;
    NetStatus status = NetStatus::kOk;
    Command command;
    if (!queue_.empty() && (full || finish || queue_.front().alone) &&
        !crowded) {
      // A batch, cut before a message that must go alone.
      do {
        command.bytes += queue_.front().bytes.size();
        command.messages.push_back(std::move(queue_.front()));
        queue_.pop_front();
      } while (!queue_.empty() && !command.messages.front().alone &&
               !queue_.front().alone && command.messages.size() < batch &&
               command.bytes + queue_.front().bytes.size() <=
                   settings_.batchBytes);
      queuedBytes_ -= command.bytes;
      status = SendCommand(command);
    } else if (!inFlight_.empty() &&
               (crowded || finish || session_->ReadableNow())) {
      status = ReadOne();
    } else {
      status = FlushOut();
      if (status == NetStatus::kOk) return ImapError();
    }
    if (status != NetStatus::kOk) {
      const ImapError error = Recover(status, &command.messages);
      if (!error.Ok()) {
        fatal_ = error;
        return error;
      }
    }
  }
}

ImapError ImapUploader::Recover(NetStatus cause,
                                std::vector<Pending>* partial) {
  // What was sent but not confirmed may or may not have arrived.
  std::vector<Pending> unsure;
  for (Command& command : inFlight_)
    for (Pending& message : command.messages)
      unsure.push_back(std::move(message));
  for (Pending& message : *partial) unsure.push_back(std::move(message));
  inFlight_.clear();
  inFlightBytes_ = 0;
  out_.clear();
  session_.reset();
  ImapError error;
  do {
    if (failedTries_ >= settings_.tries) {
      return ImapError::Fault(
          ImapFault::kGaveUp,
          "the connection broke (" + std::string(NetStatusText(cause)) +
              ") and " + std::to_string(failedTries_) +
              " new connections in a row got no further (" + error.text +
              "); of " + std::to_string(added_) + " messages given, " +
              std::to_string(totals_.uploaded) + " uploaded, " +
              std::to_string(totals_.alreadyThere) + " already there, " +
              std::to_string(totals_.refused) + " refused");
    }
    std::this_thread::sleep_for(
        std::chrono::milliseconds(settings_.firstPauseMs << failedTries_));
    ++failedTries_;
    ++totals_.reconnects;
    error = Connect();
    if (error.Ok() && !unsure.empty()) error = AwaitQuietFolder();
    if (!error.Ok() && !error.Retryable()) return error;
  } while (!error.Ok());
  // The folder read afresh: what the run has settled is in it, and so is
  // each unsure message that did arrive.
  for (const MessageKey& key : settled_) index_.Take(key);
  std::vector<Pending> again;
  for (Pending& message : unsure) {
    if (index_.Take(message.key)) {
      settled_.push_back(message.key);
      Report(message, UploadOutcome::kUploaded, 0, "");
    } else {
      again.push_back(std::move(message));
    }
  }
  for (auto m = again.rbegin(); m != again.rend(); ++m) {
    queuedBytes_ += m->bytes.size();
    queue_.push_front(std::move(*m));
  }
  return ImapError();
}
