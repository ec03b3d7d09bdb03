#include "run/event_log.h"

#include <nlohmann/json.hpp>

#include "io/paths.h"

// Keys in the order written: "event" first.
using Json = nlohmann::ordered_json;

namespace {

const char* ScanName(ScanKind scan) {
  switch (scan) {
    case ScanKind::kNormal:
      return "normal";
    case ScanKind::kAlternative:
      return "alternative";
    case ScanKind::kRecovered:
      return "recovered";
  }
  return "";
}

const char* OutcomeName(ConversionOutcome outcome) {
  switch (outcome) {
    case ConversionOutcome::kConverted:
      return "converted";
    case ConversionOutcome::kNotRecognised:
      return "not-recognised";
    case ConversionOutcome::kNothingFound:
      return "nothing-found";
    case ConversionOutcome::kCantOpenBase:
      return "cant-open-base";
    case ConversionOutcome::kCantReadBase:
      return "cant-read-base";
    case ConversionOutcome::kCantCreateOutput:
      return "cant-create-output";
    case ConversionOutcome::kCantWriteOutput:
      return "cant-write-output";
    case ConversionOutcome::kCancelled:
      return "cancelled";
  }
  return "";
}

const char* StateName(TreeBaseState state) {
  switch (state) {
    case TreeBaseState::kNoBase:
      return "no-base";
    case TreeBaseState::kWaiting:
      return "waiting";
    case TreeBaseState::kDone:
      return "done";
    case TreeBaseState::kNotStarted:
      return "not-started";
    case TreeBaseState::kDoneBefore:
      return "done-before";
  }
  return "";
}

const char* NoticeName(NoticeKind kind) {
  switch (kind) {
    case NoticeKind::kInfo:
      return "info";
    case NoticeKind::kOpenInBrowser:
      return "open-in-browser";
    case NoticeKind::kDeviceCode:
      return "device-code";
    case NoticeKind::kSignedIn:
      return "signed-in";
    case NoticeKind::kUploadSize:
      return "upload-size";
    case NoticeKind::kThrottled:
      return "throttled";
    case NoticeKind::kConnectionsCut:
      return "connections-cut";
    case NoticeKind::kDailyLimit:
      return "daily-limit";
  }
  return "";
}

Json StatusJson(const Status& status) {
  return Json{{"kind", StatusKindName(status.Kind())},
              {"code", status.Code()},
              {"text", status.Text()}};
}

// Where a base lies and goes, as every base's event tells it.
Json BaseJson(const char* event, const BaseEvent& base) {
  const TreeFolder& f = *base.folder;
  return Json{{"event", event},     {"index", base.index},
              {"path", f.path},     {"base", f.baseName},
              {"output", f.output}, {"size", f.baseSize}};
}

}  // namespace

std::unique_ptr<EventLog> EventLog::Create(FileSystem* fs,
                                           const std::string& path,
                                           Status* error) {
  std::unique_ptr<EventLog> log(new EventLog);
  std::string name;
  DWORD code = OpenHolder(fs, path, &log->holder, &name);
  if (code == ERROR_SUCCESS) {
    code = fs->CreateNewFile(*log->holder, name, &log->file);
    // An earlier log (or a link by that name) goes; nothing is written
    // through what was there.
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) {
      code = fs->RemoveFile(*log->holder, name);
      if (code == ERROR_SUCCESS)
        code = fs->CreateNewFile(*log->holder, name, &log->file);
    }
  }
  if (code != ERROR_SUCCESS) {
    *error = Status::System(code).Within("can't create the log " + path);
    return nullptr;
  }
  return log;
}

template <typename Object>
void EventLog::Write(const Object& object) {
  if (!file || !failure.IsOk()) return;
  // A name that is no valid UTF-8 must not stop the log: each bad byte
  // becomes U+FFFD.
  const std::string line =
      object.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  DWORD error = file->Write(line.data(), line.size());
  // Each line handed on as it is told, for whoever reads along.
  if (error == ERROR_SUCCESS) error = file->Flush();
  if (error != ERROR_SUCCESS) failure = Status::System(error);
}

Status EventLog::Close() {
  if (file) {
    const DWORD error = file->Close();
    file.reset();
    if (failure.IsOk() && error != ERROR_SUCCESS)
      failure = Status::System(error);
  }
  return failure;
}

void EventLog::EarlierRun(const EarlierRunInfo& e) {
  const char* state = e.state == EarlierRunInfo::State::kNotBegun ? "not-begun"
                      : e.state == EarlierRunInfo::State::kCutOff
                          ? "cut-off"
                          : "went-through";
  Write(Json{{"event", "earlier-run"},
             {"state", state},
             {"source", e.source},
             {"destination", e.destination},
             {"doneBefore", e.doneBefore},
             {"status", e.status}});
}

void EventLog::Planned(const RunPlan& p) {
  Json folders = Json::array();
  if (p.folders != nullptr) {
    for (const TreeFolder& f : *p.folders) {
      Json folder{{"path", f.path},
                  {"base", f.baseName},
                  {"size", f.baseSize},
                  {"state", StateName(f.state)}};
      if (!f.skippedName.empty()) folder["skipped"] = f.skippedName;
      if (f.listError != 0)
        folder["listError"] = StatusJson(Status::System(f.listError));
      folders.push_back(std::move(folder));
    }
  }
  Write(Json{{"event", "planned"},
             {"tree", p.tree},
             {"source", p.source},
             {"destination", p.destination},
             {"kind", p.kind != nullptr ? p.kind->name : ""},
             {"jobs", p.jobs},
             {"bases", p.basesToConvert},
             {"bytes", p.bytesToConvert},
             {"tallied", p.tallied},
             {"folders", std::move(folders)}});
}

void EventLog::BaseStarted(const BaseEvent& base) {
  Write(BaseJson("base-started", base));
}

void EventLog::ScanStarting(const BaseEvent& base, ScanKind scan) {
  Write(
      Json{{"event", "scan"}, {"index", base.index}, {"scan", ScanName(scan)}});
}

void EventLog::Progress(const RunProgress& p) {
  Write(Json{{"event", "progress"},
             {"basesDone", p.basesDone},
             {"basesTotal", p.basesTotal},
             {"bytesDone", p.bytesDone},
             {"bytesTotal", p.bytesTotal},
             {"percent", p.percent},
             {"messages", p.messagesDone},
             {"uploaded", p.uploaded},
             {"alreadyThere", p.alreadyThere},
             {"refused", p.refused},
             {"seconds", p.seconds}});
}

void EventLog::Warning(const RunWarning& w) {
  Write(Json{
      {"event", "warning"}, {"index", w.index}, {"kind", "unusable-record"}});
}

void EventLog::BaseFinished(const BaseEvent& base) {
  const ConversionResult& r = base.folder->result;
  Json object = BaseJson("base-finished", base);
  object["outcome"] = OutcomeName(r.outcome);
  if (!r.failure.IsOk()) object["failure"] = StatusJson(r.failure);
  object["messages"] = r.messages;
  object["scan"] = ScanName(r.scan);
  object["recovered"] = r.recovered;
  object["empty"] = r.emptyBase;
  object["bytesRead"] = r.bytesRead;
  object["bytesWritten"] = r.bytesWritten;
  if (r.tallied)
    object["tally"] = Json{{"uploaded", r.tally.delivered},
                           {"alreadyThere", r.tally.alreadyThere},
                           {"refused", r.tally.refused},
                           {"refusals", r.tally.refusals}};
  Write(object);
}

void EventLog::Told(const Notice& n) {
  Write(Json{{"event", "notice"},
             {"kind", NoticeName(n.kind)},
             {"text", n.text},
             {"where", n.where},
             {"url", n.url},
             {"code", n.code},
             {"bytes", n.bytes},
             {"seconds", n.seconds},
             {"count", n.count}});
}

void EventLog::Error(const Status& error) {
  Json object{{"event", "error"}};
  object.update(StatusJson(error));
  Write(object);
}

void EventLog::Finished(const RunReport& r) {
  Json object{{"event", "finished"},      {"status", r.status},
              {"cancelled", r.cancelled}, {"planned", r.planned},
              {"stopped", r.stopped},     {"seconds", r.seconds}};
  if (r.stopped) object["stopReason"] = r.stopReason.Text();
  if (r.inventory.asked) {
    Json inventory{{"name", r.inventory.name},
                   {"made", r.inventory.made},
                   {"rows", r.inventory.rows}};
    if (!r.inventory.failure.IsOk())
      inventory["error"] = StatusJson(r.inventory.failure);
    object["inventory"] = std::move(inventory);
  }
  Write(object);
}
