#pragma once
// The one thread that talks to keys for the window: every open, exchange, close, listing and
// probe is queued here and run in order, so the thread that paints never waits on a key and two
// steps never reach a transport at once. Qt-free; the window's waiting side is app/KeyWorker.
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class KeyWorkerThread {
 public:
  KeyWorkerThread();
  // Runs what is still queued, then ends the thread.
  ~KeyWorkerThread();
  KeyWorkerThread(const KeyWorkerThread&) = delete;
  KeyWorkerThread& operator=(const KeyWorkerThread&) = delete;

  // Queues `task` behind every task queued before it. A task that throws ends only itself.
  void Post(std::function<void()> task);
  bool IsCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::thread thread_;
};
