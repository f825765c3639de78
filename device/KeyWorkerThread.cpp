#include "device/KeyWorkerThread.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "core/Translate.h"

KeyWorkerThread::KeyWorkerThread(FailureReport onFailure)
    : onFailure_(std::move(onFailure)), thread_([this] { Loop(); }) {}

KeyWorkerThread::~KeyWorkerThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void KeyWorkerThread::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
  }
  wake_.notify_all();
}

void KeyWorkerThread::Wake() {
  // Taking the lock orders the caller's change of `answered` before the waiter's next look.
  { std::lock_guard<std::mutex> lock(mutex_); }
  wake_.notify_all();
}

void KeyWorkerThread::RunGuarded(std::function<void()>& task) {
  try {
    task();
  } catch (const std::exception& failure) {
    // A task's failure is its own: the queue behind it still runs, and the failure is told.
    if (onFailure_) {
      onFailure_(failure.what());
    } else {
      std::fprintf(stderr, "tokvane: a key worker task failed: %s\n", failure.what());
    }
  } catch (...) {
    if (onFailure_) {
      onFailure_(tokvane::Tr("an unknown error"));
    } else {
      std::fprintf(stderr, "tokvane: a key worker task failed with an unknown error\n");
    }
  }
  // Whatever the task holds (a transport among it) goes here, on the worker.
  task = nullptr;
}

void KeyWorkerThread::Loop() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and nothing left to run
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    RunGuarded(task);
  }
}

void KeyWorkerThread::ServeUntil(const std::function<bool()>& answered) {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return answered() || !queue_.empty(); });
      if (answered()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    RunGuarded(task);
  }
}
