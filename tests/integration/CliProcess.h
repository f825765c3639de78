#pragma once
// Runs a program as a child process for the CLI's end-to-end tests: arguments, standard input
// given up front, standard output and error collected, exit status, and a time limit after which
// the child is killed (a test never waits for ever on a hung key).
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tokvane::integration {

struct ProcessResult {
  bool timedOut = false;
  int exitCode = -1;  // -1 when the child did not exit normally
  std::string out;
  std::string err;
};

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = {},
                         std::chrono::milliseconds limit = std::chrono::seconds(30),
                         const std::vector<std::string>& extraEnvironment = {});

// A child left running in the background (a virtual key serving pcscd), killed and reaped when
// the object goes. `inChild` runs in the child before the program starts (limits, another user).
class BackgroundProcess {
 public:
  BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                    const std::function<void()>& inChild = {});
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // Sends SIGTERM, then SIGKILL after `grace`; true when the child had exited by itself or on TERM.
  bool Stop(std::chrono::milliseconds grace = std::chrono::seconds(5));
  // Standard output and error of the child so far (for failure messages).
  std::string Output() const;

 private:
  pid_t pid_ = -1;
  std::string logPath_;
};

}  // namespace tokvane::integration
