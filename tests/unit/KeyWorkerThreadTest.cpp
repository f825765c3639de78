// The key worker thread: one queue, run in order on one thread other than the caller's, a failing
// task ending only itself, and everything queued run before the thread ends.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <stdexcept>
#include <thread>
#include <vector>

#include "device/KeyWorkerThread.h"

TEST(KeyWorkerThread, RunsEveryTaskInOrderOnItsOwnThreadEvenAfterOneThrows) {
  std::mutex mutex;
  std::vector<int> ran;
  std::vector<std::thread::id> threads;
  {
    KeyWorkerThread worker;
    EXPECT_FALSE(worker.IsCurrentThread());
    for (int i = 0; i < 50; ++i) {
      worker.Post([&, i] {
        if (i == 10) throw std::runtime_error("a task that fails");
        std::lock_guard lock(mutex);
        ran.push_back(i);
        threads.push_back(std::this_thread::get_id());
        EXPECT_TRUE(worker.IsCurrentThread());
      });
    }
  }  // the destructor runs what is still queued before the thread ends
  ASSERT_EQ(ran.size(), 49u);
  for (std::size_t i = 0; i < ran.size(); ++i) EXPECT_EQ(ran[i], static_cast<int>(i < 10 ? i : i + 1));
  for (const std::thread::id id : threads) {
    EXPECT_EQ(id, threads.front());
    EXPECT_NE(id, std::this_thread::get_id());
  }
}

// A task that waits for the operator lets the tasks queued behind it run meanwhile (a listing, the
// close of a key that went), and goes on once answered; a throw is reported, not swallowed.
TEST(KeyWorkerThread, AWaitingTaskServesTheQueueUntilAnsweredAndFailuresAreReported) {
  std::mutex mutex;
  std::vector<std::string> seen;
  auto note = [&](std::string what) {
    std::lock_guard lock(mutex);
    seen.push_back(std::move(what));
  };
  std::atomic<bool> answered{false};
  {
    KeyWorkerThread worker([&](const std::string& what) { note("failed: " + what); });
    worker.Post([&] {
      note("asks");
      worker.ServeUntil([&] { return answered.load(); });
      note("answered");
    });
    worker.Post([&] { note("listing"); });
    worker.Post([&] { throw std::runtime_error("bad answer"); });
    worker.Post([&] {
      note("closing");
      answered = true;
      worker.Wake();
    });
    worker.Post([&] { note("after"); });
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"asks", "listing", "failed: bad answer", "closing", "answered", "after"}));
}
