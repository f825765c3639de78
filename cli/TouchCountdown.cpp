#include "cli/TouchCountdown.h"

#include <algorithm>

#include "cli/CliReporter.h"

namespace cli {

TouchCountdown::TouchCountdown(std::ostream& terminal, int seconds, std::chrono::milliseconds second)
    : terminal_(terminal), seconds_(seconds), second_(second), thread_([this] { Run(); }) {}

TouchCountdown::~TouchCountdown() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
  // The answer is reported next: it starts on an empty line.
  if (shownWidth_ > 0) terminal_ << '\r' << std::string(shownWidth_, ' ') << '\r' << std::flush;
}

void TouchCountdown::Run() {
  const auto start = std::chrono::steady_clock::now();
  std::unique_lock<std::mutex> lock(mutex_);
  for (int step = 0; step < seconds_ && !stop_; ++step) {
    const std::string text = TouchCountdownText(seconds_ - step);
    terminal_ << '\r' << text;
    // A shorter text leaves no tail of the longer one before it.
    if (text.size() < shownWidth_) terminal_ << std::string(shownWidth_ - text.size(), ' ') << '\r' << text;
    terminal_ << std::flush;
    shownWidth_ = std::max(shownWidth_, text.size());
    // Bounded: at most one step, or until the answer has come.
    wake_.wait_until(lock, start + second_ * (step + 1), [this] { return stop_; });
  }
}

bool CountdownDevice::Open() {
  armed_ = false;
  return inner_.Open();
}

bool CountdownDevice::Close() {
  armed_ = false;
  return inner_.Close();
}

bool CountdownDevice::Exchange(const CApduCommand& command, CApduResponse& response) {
  if (!armed_) return inner_.Exchange(command, response);
  armed_ = false;
  const std::unique_ptr<TouchCountdown> countdown = reporter_.CountDownTouch();
  return inner_.Exchange(command, response);
}

}  // namespace cli
