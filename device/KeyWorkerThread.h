#pragma once
// The one thread that talks to keys for the window: every open, exchange, close, listing and
// probe is queued here and run in order, so the thread that paints never waits on a key and two
// steps never reach a transport at once. Qt-free; the window's side is app/KeyWorker.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class KeyWorkerThread {
 public:
  // Told, on the worker, what a task threw; without it the text goes to standard error.
  using FailureReport = std::function<void(const std::string& what)>;

  explicit KeyWorkerThread(FailureReport onFailure = {});
  // Runs what is still queued, then ends the thread.
  ~KeyWorkerThread();
  KeyWorkerThread(const KeyWorkerThread&) = delete;
  KeyWorkerThread& operator=(const KeyWorkerThread&) = delete;

  // Queues `task` behind every task queued before it. A task that throws ends only itself.
  void Post(std::function<void()> task);
  bool IsCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  // Called by a task on the worker that waits for the operator: runs the tasks queued meanwhile
  // (a listing, the close of a key that was pulled out) until `answered` holds. The waiting task
  // is paused at a point where it looks at its device again before it sends anything. Wake is
  // called once `answered` may have changed.
  void ServeUntil(const std::function<bool()>& answered);
  void Wake();

 private:
  void Loop();
  void RunGuarded(std::function<void()>& task);

  FailureReport onFailure_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::thread thread_;
};
