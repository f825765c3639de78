#pragma once
// Waiting for a condition another thread brings about: checked every millisecond until it holds,
// with a generous limit that only a broken program reaches.
#include <chrono>
#include <thread>

namespace test_wait {

template <typename Condition>
bool WaitUntil(Condition&& holds, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!holds()) {
    if (std::chrono::steady_clock::now() >= deadline) return holds();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace test_wait
