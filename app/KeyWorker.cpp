#include "app/KeyWorker.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <condition_variable>
#include <mutex>
#include <utility>

namespace {

// What the GUI thread and the worker share about one step.
struct StepState {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  // Set and read on the GUI thread only.
  QEventLoop* loop = nullptr;
};

}  // namespace

KeyWorker::KeyWorker() = default;

KeyWorker::~KeyWorker() = default;

void KeyWorker::Post(std::function<void()> step) { thread_.Post(std::move(step)); }

bool KeyWorker::Run(const std::function<void()>& step) {
  if (thread_.IsCurrentThread()) {
    step();
    return true;
  }
  if (closing_) return false;

  const std::chrono::milliseconds touchWindow = std::exchange(touchWindow_, std::chrono::milliseconds(0));
  Enter();
  if (touchWindow.count() > 0) emit touchWaitStarted(touchWindow);

  auto state = std::make_shared<StepState>();
  thread_.Post([state, &step, this] {
    try {
      step();
    } catch (...) {
      // A step reports its failures as results; anything else ends only the step.
    }
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      state->done = true;
    }
    state->finished.notify_all();
    // Wakes the GUI thread's loop. The receiver outlives every step (its destructor joins the
    // worker), and a loop that has already ended is not touched.
    QMetaObject::invokeMethod(
        this,
        [state] {
          if (state->loop != nullptr) state->loop->quit();
        },
        Qt::QueuedConnection);
  });

  const auto isDone = [&state] {
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->done;
  };
  if (!isDone()) {
    QEventLoop loop;
    state->loop = &loop;
    loop.exec();
    state->loop = nullptr;
  }
  if (!isDone()) {
    // Only the application's quit ends the loop early: the window is closing. This step may
    // finish (each is bounded by its transport's limits); none starts after it.
    closing_ = true;
    std::unique_lock<std::mutex> lock(state->mutex);
    state->finished.wait(lock, [&state] { return state->done; });
  }

  if (touchWindow.count() > 0) emit touchWaitEnded();
  Leave();
  return true;
}

void KeyWorker::Enter() {
  const bool wasBusy = IsBusy();
  ++steps_;
  if (!wasBusy) emit busyChanged(true);
  if (steps_ == 1) emit stepRunning(true);
}

void KeyWorker::Leave() {
  --steps_;
  if (steps_ == 0) emit stepRunning(false);
  if (!IsBusy()) emit busyChanged(false);
}

KeyWorker::ActionScope::ActionScope(KeyWorker& worker) : worker_(worker) {
  const bool wasBusy = worker_.IsBusy();
  ++worker_.actions_;
  if (!wasBusy) emit worker_.busyChanged(true);
}

KeyWorker::ActionScope::~ActionScope() {
  --worker_.actions_;
  // A touch expected for a command the action did not send after all is not carried over.
  if (worker_.actions_ == 0) worker_.touchWindow_ = std::chrono::milliseconds(0);
  if (!worker_.IsBusy()) emit worker_.busyChanged(false);
}
