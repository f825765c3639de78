#pragma once
// The window's side of the key worker thread. An operator action, a listing or a probe is one task:
// its work runs on the worker, and what it learnt is applied on the GUI thread once it is done, so
// the GUI thread never waits on a key and never runs a loop of its own to wait for one.
//
// While a task is queued or running the worker is busy: the panels start no second action. A task
// that waits for the operator (a box) lets the worker run what is queued behind it meanwhile (see
// KeyWorkerThread::ServeUntil), so a key pulled out while a box is open is noticed at once.
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <functional>

#include "device/KeyWorkerThread.h"

class KeyWorker : public QObject {
  Q_OBJECT

 public:
  KeyWorker();
  // No result is applied any more; whatever is still queued (a transport's last close) runs, then
  // the thread ends. A task waiting for the operator is told no.
  ~KeyWorker() override;

  // Runs `work` on the worker, then `apply` on the GUI thread (unless the window is going).
  void Start(std::function<void()> work, std::function<void()> apply = {});
  // Queues `work` without counting it as busy and without a result (letting go of a transport).
  void Post(std::function<void()> work);

  // A task is queued, running, or its result not yet applied.
  bool IsBusy() const { return pending_ > 0; }
  int PendingTasks() const { return pending_; }
  // The window is going: tasks still queued find it so, and a wait for the operator ends.
  bool IsClosing() const { return closing_.load(); }
  void SetClosing();

  // On the worker, inside a task: runs `onGui` on the GUI thread and waits for it, serving the
  // tasks queued meanwhile. False, without waiting further, once the window is closing.
  bool WaitForGui(const std::function<void()>& onGui);
  // On the worker: runs `onGui` on the GUI thread after everything posted before it.
  void PostToGui(std::function<void()> onGui);

  // Called on the GUI thread around a box an action shows: the worker is then waiting for the
  // operator, not for the key.
  void OperatorWaitBegins();
  void OperatorWaitEnds();

 signals:
  // Idle to busy (true) and back (false).
  void busyChanged(bool busy);
  // The worker is at work on the key (true), or idle or waiting for the operator (false).
  void stepRunning(bool running);
  // The key waits for the operator's touch for at most `window`; it ends with touchWaitEnded.
  void touchWaitStarted(std::chrono::milliseconds window);
  void touchWaitEnded();
  // A task threw: it has ended, the program goes on.
  void taskFailed(const QString& what);

 private:
  void Finish();
  void UpdateStepRunning();

  std::atomic<bool> closing_{false};
  int pending_ = 0;
  int operatorWaits_ = 0;
  bool stepShown_ = false;
  // Last: its destructor runs what is queued while the members above still exist.
  KeyWorkerThread thread_;
};
