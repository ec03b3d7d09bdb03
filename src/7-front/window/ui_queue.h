// What the worker threads hand the window: tasks that the window's own
// thread runs, in the order they were posted. The window is woken once for
// a batch (a posted message on Windows), so that a fast run cannot flood
// its message queue.
#ifndef KORVANE_WINDOW_UI_QUEUE_H_
#define KORVANE_WINDOW_UI_QUEUE_H_

#include <functional>
#include <mutex>
#include <vector>

class UiQueue {
 public:
  // wake is called on the posting thread when the queue was empty.
  explicit UiQueue(std::function<void()> wake) : wake(std::move(wake)) {}

  // From any thread.
  void Post(std::function<void()> task) {
    bool first;
    {
      std::lock_guard<std::mutex> lock(mutex);
      first = tasks.empty();
      tasks.push_back(std::move(task));
    }
    if (first && wake) wake();
  }

  // On the window's thread: runs what was posted so far.
  void Drain() {
    std::vector<std::function<void()>> batch;
    {
      std::lock_guard<std::mutex> lock(mutex);
      batch.swap(tasks);
    }
    for (auto& task : batch) task();
  }

 private:
  std::function<void()> wake;
  std::mutex mutex;
  std::vector<std::function<void()>> tasks;
};

#endif  // KORVANE_WINDOW_UI_QUEUE_H_
