// The APPEND commands of ImapUploader: writing them, with literals that
// wait for the server's go-ahead only where the protocol demands it, and
// taking in the answers.
#include <stdlib.h>

#include "imap/imap_date.h"
#include "imap/imap_folder.h"
#include "imap/imap_uploader.h"

namespace {

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

bool ImapUploader::NonSynchronizing(const Pending& message) const {
  if (!settings_.literalPlus) return false;
  if (session_->Has("LITERAL+")) return message.bytes.size() <= kNonSyncLimit;
  return session_->Has("LITERAL-") &&
         message.bytes.size() <= kLiteralMinusLimit;
}

NetStatus ImapUploader::FlushOut() {
  if (out_.empty()) return NetStatus::kOk;
  const NetStatus status = session_->Send(out_);
  out_.clear();
  return status;
}

NetStatus ImapUploader::Put(const std::string& text) {
  if (text.size() >= kWriteSize) {
    const NetStatus status = FlushOut();
    return status == NetStatus::kOk ? session_->Send(text) : status;
  }
  out_ += text;
  return out_.size() >= kWriteSize ? FlushOut() : NetStatus::kOk;
}

NetStatus ImapUploader::SendCommand(Command& command) {
  command.tag = session_->NextTag();
  std::string line = command.tag + " APPEND " + QuotedMailbox(mailbox_);
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
  inFlightBytes_ += command.bytes;
  inFlight_.push_back(std::move(command));
  command.messages.clear();
  return NetStatus::kOk;
}

NetStatus ImapUploader::AwaitContinuation(const std::string& tag,
                                          ImapResponse* refusal,
                                          bool* refused) {
  NetStatus status = FlushOut();
  while (status == NetStatus::kOk) {
    ImapResponse r;
    if ((status = session_->Read(&r)) != NetStatus::kOk) break;
    if (r.kind == ImapResponse::kContinuation) return NetStatus::kOk;
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
  if (status == NetStatus::kOk) status = session_->Read(&r);
  if (status == NetStatus::kOk && r.kind == ImapResponse::kTagged) Answered(r);
  return status;
}

void ImapUploader::Answered(const ImapResponse& response) {
  for (auto c = inFlight_.begin(); c != inFlight_.end(); ++c) {
    if (c->tag != response.tag) continue;
    Command command = std::move(*c);
    inFlight_.erase(c);
    inFlightBytes_ -= command.bytes;
    Complete(&command, response);
    return;
  }
}

void ImapUploader::Complete(Command* command, const ImapResponse& response) {
  if (response.word == "OK") {
    const std::vector<uint32_t> uids = AppendedUids(response);
    for (size_t i = 0; i < command->messages.size(); ++i) {
      settled_.push_back(command->messages[i].key);
      Report(command->messages[i], UploadOutcome::kUploaded,
             i < uids.size() ? uids[i] : 0, "");
    }
    failedTries_ = 0;
  } else if (response.CodeName() == "TRYCREATE") {
    fatal_.fault = ImapFault::kFolder;
    fatal_.text = "folder " + mailbox_ + " is gone: " + ServerSays(response);
  } else if (command->messages.size() > 1) {
    // The server takes a batch whole or not at all: each message goes
    // again alone, so that the refusal is told for the one it concerns.
    for (auto m = command->messages.rbegin(); m != command->messages.rend();
         ++m) {
      m->alone = true;
      queuedBytes_ += m->bytes.size();
      queue_.push_front(std::move(*m));
    }
  } else {
    for (const Pending& message : command->messages)
      Report(message, UploadOutcome::kRefused, 0, ServerSays(response));
  }
}
