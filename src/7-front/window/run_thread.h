// The survey and the run on threads of their own, so that the window never
// waits: each event of theirs is copied (the run's records live only
// during the call) and reaches the window's thread through its queue, in
// the order told, where it changes the model and then tells the window
// what to draw anew.
#ifndef KORVANE_WINDOW_RUN_THREAD_H_
#define KORVANE_WINDOW_RUN_THREAD_H_

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "run/run_request.h"
#include "window/ui_queue.h"
#include "window/window_model.h"

// What changed in the model, for the window to draw.
enum class ModelChange {
  kSurveyFolders,  // the survey's folders, all of them
  kSurveyFolder,   // one of them: index
  kSurveyEnd,
  kRunPlanned,
  kRunProgress,  // the figures, the folder in progress
  kRunNotes,     // a notice or an error
  kRunEnd,
  kSignIn,  // the sign-in's page, code or outcome
};

class RunThreads {
 public:
  typedef std::function<void(ModelChange change, size_t index)> Changed;
  // model and queue outlive this; changed runs on the window's thread.
  RunThreads(WindowModel* model, UiQueue* queue, Changed changed);
  // Stops what is going and waits for it.
  ~RunThreads();
  RunThreads(const RunThreads&) = delete;
  RunThreads& operator=(const RunThreads&) = delete;

  // Surveys the model's source for ticket (WindowModel::ChooseSource); a
  // survey still going is stopped, its events dropped.
  void StartSurvey(uint64_t ticket);
  // Runs the model's request (after a Start); a survey going is stopped.
  void StartRun(const std::string& caFile);
  // Asks the run to stop: it finishes what it must and ends as a cut-off
  // run does.
  void StopRun();
  // Signs in to the model's account (WindowModel::SignInStarted first);
  // StopSignIn gives it up.
  void StartSignIn(const std::string& caFile);
  void StopSignIn();

 private:
  struct Job {
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    std::thread thread;
  };
  Job* NewJob();

  WindowModel* model;
  UiQueue* queue;
  Changed changed;
  std::list<Job> jobs;
  Job* survey = nullptr;
  Job* run = nullptr;
  Job* signIn = nullptr;
};

#endif  // KORVANE_WINDOW_RUN_THREAD_H_
