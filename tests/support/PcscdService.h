#pragma once
// Makes sure a pcscd with the vpcd reader driver is running for this process: reuses one that
// already lists the vpcd reader, otherwise starts Debian's pcscd in the foreground as a child and
// stops it again at the end. Free of GoogleTest, so benchmarks can use it as well.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tokvane::integration {

// The two readers vpcd always offers, card or not; a served card appears in the first.
inline constexpr const char* kVpcdReader = "Virtual PCD 00 00";
inline constexpr const char* kVpcdSecondReader = "Virtual PCD 00 01";

class PcscdService {
 public:
  // The process-wide instance; its destruction at exit stops a pcscd it started.
  static PcscdService& Instance();

  // True when a pcscd listing kVpcdReader runs. The first call decides (and may take some
  // seconds); later calls return the same outcome. Call it from the main thread: a pcscd it
  // starts is told to end when the thread that started it ends.
  bool Ensure();
  bool Available() const { return available_; }
  // Why the service is unavailable; empty while it is.
  const std::string& Reason() const { return reason_; }
  bool StartedHere() const { return child_ > 0; }
  // Stops a pcscd this process started (no pcscd left behind); a reused one is left alone.
  void Shutdown();
  // Stops a pcscd this process started, as when the service goes away under a running program;
  // the next Ensure starts a new one. False (nothing done) when the running pcscd is not ours.
  bool StopForRestart();

  ~PcscdService();
  PcscdService(const PcscdService&) = delete;
  PcscdService& operator=(const PcscdService&) = delete;

 private:
  PcscdService() = default;

  enum class Probe { NoService, ReaderListed, ReaderMissing };
  static Probe ProbeNow();
  bool WaitForReader(std::chrono::milliseconds limit, bool watchChild);
  bool StartChild();
  void StopChild();
  bool Unavailable(std::string reason);

  bool decided_ = false;
  bool available_ = false;
  std::string reason_;
  pid_t child_ = -1;
  std::string logPath_;
};

}  // namespace tokvane::integration
