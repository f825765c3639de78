#pragma once
// The seconds left of the key's touch window, counted down on the terminal while the command that
// waits for the touch is on its way. Only a terminal gets it: a pipe, a file or a script reading
// standard error gets the touch prompt alone, as before.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

#include "device/DeviceInterface.h"
#include "oath/UserPresence.h"

namespace cli {

// How the countdown shows on standard error.
struct TouchCountdownStyle {
  bool terminal = false;                   // standard error is a terminal: otherwise no countdown
  // The key's touch window.
  int seconds = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(kUserPresenceWindow).count());
  std::chrono::milliseconds second{1000};  // one step of the count (tests make it short)
};


// Rewrites one line of `terminal` ("\r" and the text) with the seconds left, from `seconds` down
// to 1, one step each `second`, on a thread of its own. The thread ends by itself when the window
// is over, or earlier when the countdown is destroyed; destruction waits for it and clears the
// line, so nothing is written after the destructor has returned.
class TouchCountdown {
 public:
  TouchCountdown(std::ostream& terminal, int seconds, std::chrono::milliseconds second);
  ~TouchCountdown();
  TouchCountdown(const TouchCountdown&) = delete;
  TouchCountdown& operator=(const TouchCountdown&) = delete;

 private:
  void Run();

  std::ostream& terminal_;
  const int seconds_;
  const std::chrono::milliseconds second_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;           // guarded by mutex_
  std::size_t shownWidth_ = 0;  // guarded by mutex_: what the line holds now
  std::thread thread_;          // last: starts once everything above is set
};

class CliReporter;

// The transport of a CLI command, passing everything through to `inner`. After
// CountDownNextExchange, the next exchange (the command guarded by a touch) runs under the
// reporter's countdown (none unless standard error is a terminal); the count is over and its line
// cleared before the exchange returns, so the answer is reported on a clean line.
class CountdownDevice final : public IDeveiceInterface {
 public:
  CountdownDevice(IDeveiceInterface& inner, CliReporter& reporter) : inner_(inner), reporter_(reporter) {}

  // Armed until the next exchange; a connection opened or closed meanwhile disarms it, since the
  // guarded command goes out on the connection on which the key was asked about the touch.
  void CountDownNextExchange() { armed_ = true; }

  bool Open() override;
  bool IsOpen() override { return inner_.IsOpen(); }
  bool Close() override;
  bool Exchange(const CApduCommand& command, CApduResponse& response) override;
  std::string GetLastErrorText() override { return inner_.GetLastErrorText(); }
  void SetName(const std::wstring& name) override { inner_.SetName(name); }
  std::wstring GetName() override { return inner_.GetName(); }

 private:
  IDeveiceInterface& inner_;
  CliReporter& reporter_;
  bool armed_ = false;
};

}  // namespace cli
