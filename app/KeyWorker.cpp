#include "app/KeyWorker.h"

#include <exception>
#include <memory>
#include <utility>

#include "ui/SkinTexts.h"

KeyWorker::KeyWorker()
    : thread_([this](const std::string& what) {
        if (closing_) return;
        QMetaObject::invokeMethod(
            this, [this, text = QString::fromStdString(what)] { emit taskFailed(text); }, Qt::QueuedConnection);
      }) {}

KeyWorker::~KeyWorker() { SetClosing(); }

void KeyWorker::SetClosing() {
  closing_ = true;
  thread_.Wake();
}

void KeyWorker::Start(std::function<void()> work, std::function<void()> apply) {
  if (closing_) return;
  ++pending_;
  if (pending_ == 1) emit busyChanged(true);
  UpdateStepRunning();
  thread_.Post([this, work = std::move(work), apply = std::move(apply)]() mutable {
    QString failure;
    try {
      work();
    } catch (const std::exception& thrown) {
      failure = QString::fromLocal8Bit(thrown.what());
      if (failure.isEmpty()) failure = TrQ("an unknown error");
    } catch (...) {
      failure = TrQ("an unknown error");
    }
    // What the work held (a transport among it) is let go of here, on the worker.
    work = nullptr;
    if (closing_) return;
    QMetaObject::invokeMethod(
        this,
        [this, apply = std::move(apply), failure] {
          // A task that threw applies nothing of what it may have half learnt.
          if (!failure.isEmpty()) {
            emit taskFailed(failure);
          } else if (apply && !closing_) {
            apply();
          }
          Finish();
        },
        Qt::QueuedConnection);
  });
}

void KeyWorker::Post(std::function<void()> work) { thread_.Post(std::move(work)); }

void KeyWorker::Finish() {
  --pending_;
  UpdateStepRunning();
  if (pending_ == 0) emit busyChanged(false);
}

void KeyWorker::UpdateStepRunning() {
  const bool running = pending_ > 0 && operatorWaits_ == 0;
  if (running == stepShown_) return;
  stepShown_ = running;
  emit stepRunning(running);
}

void KeyWorker::OperatorWaitBegins() {
  ++operatorWaits_;
  UpdateStepRunning();
}

void KeyWorker::OperatorWaitEnds() {
  --operatorWaits_;
  UpdateStepRunning();
}

void KeyWorker::PostToGui(std::function<void()> onGui) {
  if (closing_) return;
  QMetaObject::invokeMethod(
      this,
      [this, onGui = std::move(onGui)] {
        if (!closing_) onGui();
      },
      Qt::QueuedConnection);
}

bool KeyWorker::WaitForGui(const std::function<void()>& onGui) {
  if (closing_) return false;
  auto answered = std::make_shared<std::atomic<bool>>(false);
  QMetaObject::invokeMethod(
      this,
      [this, onGui, answered] {
        if (!closing_) onGui();
        answered->store(true);
        thread_.Wake();
      },
      Qt::QueuedConnection);
  thread_.ServeUntil([&] { return answered->load() || closing_.load(); });
  return answered->load() && !closing_;
}
