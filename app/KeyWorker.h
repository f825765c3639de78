#pragma once
// The window's side of the key worker thread. Every step that reaches a key (open, exchange,
// close, listing, probe) is handed to the worker with Run, and the GUI thread keeps serving its
// event loop until the step is done: the window repaints, moves, resizes, scrolls its log and
// counts down a touch, while the action's code still reads as one sequence of steps, with its
// log lines and boxes exactly where they were.
//
// While an action runs the window is busy: it starts no second action and holds device changes
// until the action has ended. Once the program is closing no new step is started, so an action
// that is under way ends within the exchange it is in.
#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "device/KeyWorkerThread.h"

class KeyWorker : public QObject {
  Q_OBJECT

 public:
  KeyWorker();
  // Runs every step still queued (a transport's last close), then ends the thread.
  ~KeyWorker() override;

  // Runs `step` on the worker and returns once it has run, serving the GUI's events meanwhile.
  // False, without running it, once the program is closing. On the worker itself it simply runs.
  bool Run(const std::function<void()>& step);
  // Queues `step` without waiting for it (letting go of a transport).
  void Post(std::function<void()> step);

  // An operator action from its first step to its last: device changes are held and no other
  // action starts until the outermost scope ends.
  class ActionScope {
   public:
    explicit ActionScope(KeyWorker& worker);
    ~ActionScope();
    ActionScope(const ActionScope&) = delete;
    ActionScope& operator=(const ActionScope&) = delete;

   private:
    KeyWorker& worker_;
  };

  // An action or a step is under way.
  bool IsBusy() const { return actions_ + steps_ > 0; }
  // The application has been asked to quit while a step ran, or the window is going: no new
  // step starts.
  bool IsClosing() const { return closing_; }
  void SetClosing() { closing_ = true; }
  // Whether the calling thread is the worker.
  bool IsWorkerThread() const { return thread_.IsCurrentThread(); }

  // The next step waits for the operator's touch on the key for at most `window`: the window
  // shows a countdown while that step runs.
  void ExpectTouch(std::chrono::milliseconds window) { touchWindow_ = window; }

 signals:
  // Idle to busy (true) and back (false).
  void busyChanged(bool busy);
  // A step has started on the worker (true) or the last running one has ended (false).
  void stepRunning(bool running);
  // A step that waits for a touch has started; it ends with touchWaitEnded.
  void touchWaitStarted(std::chrono::milliseconds window);
  void touchWaitEnded();

 private:
  void Enter();
  void Leave();

  KeyWorkerThread thread_;
  int actions_ = 0;
  int steps_ = 0;
  bool closing_ = false;
  std::chrono::milliseconds touchWindow_{0};
};
