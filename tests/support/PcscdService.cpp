#include "tests/support/PcscdService.h"

#include <PCSC/winscard.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "device/PcscApi.h"
#include "device/PcscReaderList.h"

namespace tokvane::integration {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// vpcd's readers usually show up within a second; a loaded CI machine gets more.
constexpr auto kStartLimit = 20s;
// A pcscd that runs without the vpcd reader may just be starting up.
constexpr auto kRunningWithoutReaderLimit = 3s;
constexpr auto kStopLimit = 5s;
constexpr auto kPollPause = 50ms;

std::string FindPcscd() {
  std::vector<std::string> directories;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream stream(path);
    for (std::string entry; std::getline(stream, entry, ':');) {
      if (!entry.empty()) directories.push_back(entry);
    }
  }
  // Debian installs it in sbin, which is not on every user's PATH.
  for (const char* directory : {"/usr/sbin", "/sbin", "/usr/local/sbin"}) directories.emplace_back(directory);
  for (const auto& directory : directories) {
    const std::string candidate = directory + "/pcscd";
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::string DescribeExit(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

}  // namespace

PcscdService& PcscdService::Instance() {
  static PcscdService instance;
  return instance;
}

PcscdService::~PcscdService() { Shutdown(); }

PcscdService::Probe PcscdService::ProbeNow() {
  const auto api = SystemPcscApi();
  std::vector<std::string> names;
  ListPcscReaderNamesNarrow(names, api);
  if (std::find(names.begin(), names.end(), kVpcdReader) != names.end()) return Probe::ReaderListed;
  // No reader listed: a service that is still starting, or none at all.
  SCARDCONTEXT context = 0;
  if (api->EstablishContext(&context) != SCARD_S_SUCCESS) return Probe::NoService;
  api->ReleaseContext(context);
  return Probe::ReaderMissing;
}

bool PcscdService::Ensure() {
  if (decided_) return available_;
  decided_ = true;

  switch (ProbeNow()) {
    case Probe::ReaderListed:
      available_ = true;
      return true;
    case Probe::ReaderMissing:
      if (WaitForReader(kRunningWithoutReaderLimit, false)) return true;
      return Unavailable(std::string("a pcscd is running but does not list \"") + kVpcdReader +
                         "\" (was it started without the vpcd driver, package vsmartcard-vpcd?)");
    case Probe::NoService:
      break;
  }
  if (!StartChild()) return false;
  return WaitForReader(kStartLimit, true);
}

bool PcscdService::Unavailable(std::string reason) {
  available_ = false;
  reason_ = std::move(reason);
  return false;
}

bool PcscdService::StartChild() {
  const std::string pcscd = FindPcscd();
  if (pcscd.empty()) return Unavailable("pcscd is not installed (Debian package pcscd)");

  logPath_ = (std::filesystem::temp_directory_path() /
              ("tokvane-pcscd-" + std::to_string(::getpid()) + ".log")).string();
  // Everything the child needs is prepared before fork: after it only exec-safe calls run.
  const char* argv[] = {"pcscd", "--foreground", nullptr};
  const pid_t parent = ::getpid();
  const int logFd = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);

  const pid_t child = ::fork();
  if (child == 0) {
    // If this process dies without stopping it, the pcscd it started goes too.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    if (nullFd >= 0) ::dup2(nullFd, STDIN_FILENO);
    if (logFd >= 0) {
      ::dup2(logFd, STDOUT_FILENO);
      ::dup2(logFd, STDERR_FILENO);
    }
    ::execv(pcscd.c_str(), const_cast<char* const*>(argv));
    ::_exit(127);
  }
  if (logFd >= 0) ::close(logFd);
  if (nullFd >= 0) ::close(nullFd);
  if (child < 0) return Unavailable(std::string("could not start pcscd: fork failed: ") + std::strerror(errno));
  child_ = child;
  return true;
}

bool PcscdService::WaitForReader(std::chrono::milliseconds limit, bool watchChild) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (ProbeNow() == Probe::ReaderListed) {
      available_ = true;
      return true;
    }
    if (watchChild && child_ > 0) {
      int status = 0;
      if (::waitpid(child_, &status, WNOHANG) == child_) {
        child_ = -1;
        // Another process may have started one at the same moment; ours then gives way.
        if (WaitForReader(kRunningWithoutReaderLimit, false)) return true;
        return Unavailable("could not start pcscd: it ended at start (" + DescribeExit(status) +
                           "); its output is in " + logPath_);
      }
    }
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(kPollPause);
  }
  if (!watchChild) return false;
  StopChild();
  return Unavailable(std::string("pcscd started but did not list \"") + kVpcdReader + "\" within " +
                     std::to_string(std::chrono::duration_cast<std::chrono::seconds>(limit).count()) +
                     " s (is the vpcd driver, package vsmartcard-vpcd, installed?); its output is in " +
                     logPath_);
}

void PcscdService::StopChild() {
  if (child_ <= 0) return;
  ::kill(child_, SIGTERM);
  const auto deadline = Clock::now() + kStopLimit;
  int status = 0;
  while (::waitpid(child_, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) {
      // It did not end on request: end it for certain and reap it.
      ::kill(child_, SIGKILL);
      ::waitpid(child_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(kPollPause);
  }
  child_ = -1;
}

bool PcscdService::StopForRestart() {
  if (child_ <= 0) return false;
  StopChild();
  decided_ = false;
  available_ = false;
  reason_ = "pcscd was stopped";
  return true;
}

void PcscdService::Shutdown() {
  if (child_ <= 0) return;
  StopChild();
  available_ = false;
  reason_ = "pcscd was stopped";
  // The log is kept only to explain a failed start.
  std::error_code ignored;
  std::filesystem::remove(logPath_, ignored);
}

}  // namespace tokvane::integration
