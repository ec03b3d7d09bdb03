#include "window/run_thread.h"

#include <memory>

#include "io/file_system.h"
#include "oauth2/sign_in.h"
#include "run/event_log.h"
#include "run/run.h"

namespace {

// The survey's events, for the source page, under the ticket of the
// source they belong to.
class SurveyEvents : public RunEvents {
 public:
  SurveyEvents(WindowModel* model, UiQueue* queue,
               const RunThreads::Changed* changed, uint64_t ticket)
      : model(model), queue(queue), changed(changed), ticket(ticket) {}

  // The tasks outlive this object: they take copies, never this.
  void Planned(const RunPlan& plan) override {
    planned = true;
    WindowModel* to = model;
    const RunThreads::Changed* tell = changed;
    const uint64_t number = ticket;
    const TreeFolders folders = *plan.folders;
    const bool tree = plan.tree;
    Post([to, tell, number, folders, tree] {
      if (to->SurveyPlanned(number, tree, folders))
        (*tell)(ModelChange::kSurveyFolders, 0);
    });
  }
  void BaseFinished(const BaseEvent& base) override {
    WindowModel* to = model;
    const RunThreads::Changed* tell = changed;
    const uint64_t number = ticket;
    const TreeFolder folder = *base.folder;
    const size_t index = base.index;
    Post([to, tell, number, folder, index] {
      if (to->SurveyScanned(number, index, folder))
        (*tell)(ModelChange::kSurveyFolder, index);
    });
  }
  void Error(const Status& error) override {
    if (failure.IsOk()) failure = error;
  }
  void Finished(const RunReport& report) override {
    Status told = failure;
    if (!planned && told.IsOk())
      told = Status::Of(StatusKind::kOther, "nothing could be looked at");
    if (planned && !report.cancelled) told = Status::Ok();
    if (report.cancelled) return;  // another source took its place
    WindowModel* to = model;
    const RunThreads::Changed* tell = changed;
    const uint64_t number = ticket;
    Post([to, tell, number, told] {
      if (to->SurveyFinished(number, told)) (*tell)(ModelChange::kSurveyEnd, 0);
    });
  }

 private:
  void Post(std::function<void()> task) { queue->Post(std::move(task)); }

  WindowModel* model;
  UiQueue* queue;
  const RunThreads::Changed* changed;
  uint64_t ticket;
  bool planned = false;
  Status failure;
};

// The report's lines, kept in memory until the user saves them.
class MemoryFile : public WritableFile {
 public:
  explicit MemoryFile(std::string* text) : text(text) {}
  DWORD Write(const void* bytes, size_t count) override {
    text->append(static_cast<const char*>(bytes), count);
    return ERROR_SUCCESS;
  }
  DWORD SetWriteTime(FILETIME) override { return ERROR_SUCCESS; }
  DWORD Flush() override { return ERROR_SUCCESS; }
  DWORD Close() override { return ERROR_SUCCESS; }

 private:
  std::string* text;
};

// The run's events, for the progress and done pages. The tasks outlive
// this object: they take copies (of the model's address too), never this.
class WindowRunEvents : public RunEvents {
 public:
  WindowRunEvents(WindowModel* model, UiQueue* queue,
                  const RunThreads::Changed* changed)
      : model(model), queue(queue), changed(changed) {}

  void EarlierRun(const EarlierRunInfo& earlier) override {
    Post([=, m = model] { m->RunEarlier(earlier); }, ModelChange::kRunNotes);
  }
  void Planned(const RunPlan& plan) override {
    const TreeFolders folders = *plan.folders;
    RunPlan copy = plan;
    copy.folders = nullptr;
    Post([=, m = model] { m->RunPlanned(copy, folders); },
         ModelChange::kRunPlanned);
  }
  void BaseStarted(const BaseEvent& base) override {
    const size_t index = base.index;
    Post([=, m = model] { m->RunBaseStarted(index); },
         ModelChange::kRunProgress);
  }
  void Progress(const RunProgress& progress) override {
    Post([=, m = model] { m->RunProgressed(progress); },
         ModelChange::kRunProgress);
  }
  void BaseFinished(const BaseEvent& base) override {
    const TreeFolder folder = *base.folder;
    const size_t index = base.index;
    Post([=, m = model] { m->RunBaseFinished(index, folder); },
         ModelChange::kRunProgress);
  }
  void Told(const Notice& notice) override {
    Post([=, m = model] { m->RunTold(notice); }, ModelChange::kRunNotes);
  }
  void Error(const Status& error) override {
    Post([=, m = model] { m->RunError(error); }, ModelChange::kRunNotes);
  }
  // Kept until the run has let go of everything (ExecuteRun returned), so
  // that a Start at once finds its files closed.
  void Finished(const RunReport& report) override {
    finalFolders = report.folders != nullptr ? *report.folders : TreeFolders();
    finalReport = report;
    finalReport.folders = nullptr;
  }
  void RunReturned(const std::string& logged) {
    const TreeFolders folders = finalFolders;
    const RunReport report = finalReport;
    Post(
        [=, m = model] {
          m->RunLogged(logged);
          m->RunFinished(report, folders);
        },
        ModelChange::kRunEnd);
  }

 private:
  void Post(std::function<void()> apply, ModelChange change) {
    const RunThreads::Changed* tell = changed;
    queue->Post([apply, tell, change] {
      apply();
      (*tell)(change, 0);
    });
  }

  WindowModel* model;
  UiQueue* queue;
  const RunThreads::Changed* changed;
  RunReport finalReport;
  TreeFolders finalFolders;
};

// The sign-in's questions, for the account page: what the browser shows,
// or a device's code; its waiting given up once the window says so.
class WindowSignInEvents : public SignInEvents {
 public:
  WindowSignInEvents(WindowModel* model, UiQueue* queue,
                     const RunThreads::Changed* changed,
                     const std::atomic<bool>* cancel)
      : model(model), queue(queue), changed(changed), cancel(cancel) {}

  void OpenPage(const std::string& url, bool opened) override {
    WindowModel* to = model;
    const RunThreads::Changed* tell = changed;
    queue->Post([to, tell, url, opened] {
      to->SignInPage(url, opened);
      (*tell)(ModelChange::kSignIn, 0);
    });
  }
  void EnterCode(const std::string& page, const std::string& code,
                 int64_t expiresIn) override {
    (void)expiresIn;
    WindowModel* to = model;
    const RunThreads::Changed* tell = changed;
    queue->Post([to, tell, page, code] {
      to->SignInCode(page, code);
      (*tell)(ModelChange::kSignIn, 0);
    });
  }
  bool KeepWaiting() override { return !*cancel; }

 private:
  WindowModel* model;
  UiQueue* queue;
  const RunThreads::Changed* changed;
  const std::atomic<bool>* cancel;
};

}  // namespace

RunThreads::RunThreads(WindowModel* model, UiQueue* queue, Changed changed)
    : model(model), queue(queue), changed(std::move(changed)) {}

RunThreads::~RunThreads() {
  for (Job& job : jobs) job.cancel = true;
  for (Job& job : jobs)
    if (job.thread.joinable()) job.thread.join();
}

RunThreads::Job* RunThreads::NewJob() {
  for (auto it = jobs.begin(); it != jobs.end();) {
    if (it->done) {
      if (&*it == survey) survey = nullptr;
      if (&*it == run) run = nullptr;
      if (&*it == signIn) signIn = nullptr;
      it->thread.join();
      it = jobs.erase(it);
    } else {
      ++it;
    }
  }
  jobs.emplace_back();
  return &jobs.back();
}

void RunThreads::StartSurvey(uint64_t ticket) {
  if (survey != nullptr) survey->cancel = true;
  Job* job = NewJob();
  survey = job;
  RunRequest request;
  request.source = model->Source();
  request.recover = true;
  request.cancel = &job->cancel;
  WindowModel* target = model;
  UiQueue* to = queue;
  const Changed* tell = &changed;
  job->thread = std::thread([job, request, ticket, target, to, tell]() mutable {
    // A folder is a tree to survey; anything else is taken for a base.
    std::unique_ptr<Folder> folder;
    request.tree =
        RealFileSystem()->OpenFolder(request.source, &folder) == ERROR_SUCCESS;
    folder.reset();
    SurveyEvents events(target, to, tell, ticket);
    SurveySource(request, &events);
    job->done = true;
  });
}

void RunThreads::StartRun(const std::string& caFile) {
  Job* job = NewJob();
  run = job;
  RunRequest request = model->Request();
  request.account.caFile = caFile;
  request.cancel = &job->cancel;
  WindowModel* target = model;
  UiQueue* to = queue;
  const Changed* tell = &changed;
  job->thread = std::thread([job, request, target, to, tell] {
    WindowRunEvents window(target, to, tell);
    // The events as --log writes them, for the report.
    std::string logged;
    EventLog log(std::unique_ptr<WritableFile>(new MemoryFile(&logged)));
    EventFanOut events({&window, &log});
    ExecuteRun(request, &events);
    log.Close();
    window.RunReturned(logged);
    job->done = true;
  });
}

void RunThreads::StartSignIn(const std::string& caFile) {
  StopSignIn();
  Job* job = NewJob();
  signIn = job;
  SignInRequest request;
  request.address = model->SignInUser();
  request.host = model->SignInHost();
  request.caFile = caFile;
  WindowModel* target = model;
  UiQueue* to = queue;
  const Changed* tell = &changed;
  job->thread = std::thread([job, request, target, to, tell] {
    WindowSignInEvents events(target, to, tell, &job->cancel);
    SignInResult result = SignIn(request, &events);
    if (!job->cancel) {
      const Status status = result.status;
      const std::string hint = result.hint;
      std::shared_ptr<AccessTokens> tokens = result.tokens;
      to->Post([target, tell, status, hint, tokens] {
        target->SignInDone(status, hint, tokens);
        (*tell)(ModelChange::kSignIn, 0);
      });
    }
    job->done = true;
  });
}

void RunThreads::StopSignIn() {
  if (signIn != nullptr) signIn->cancel = true;
}

void RunThreads::StopRun() {
  if (run != nullptr) run->cancel = true;
}
