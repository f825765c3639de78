#include "tests/integration/CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

extern char** environ;

namespace tokvane::integration {

namespace {

using Clock = std::chrono::steady_clock;

class Pipe {
 public:
  Pipe() { ok_ = ::pipe2(fds_, O_CLOEXEC) == 0; }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  bool Ok() const { return ok_; }
  int Read() const { return fds_[0]; }
  int Write() const { return fds_[1]; }
  void CloseRead() { Close(fds_[0]); }
  void CloseWrite() { Close(fds_[1]); }

 private:
  static void Close(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int fds_[2] = {-1, -1};
  bool ok_ = false;
};

std::vector<char*> ArgumentVector(const std::string& program, const std::vector<std::string>& args,
                                  std::vector<std::string>& storage) {
  storage.clear();
  storage.push_back(program);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return argv;
}

std::vector<char*> Environment(const std::vector<std::string>& extra, std::vector<std::string>& storage) {
  storage.clear();
  // A variable given in `extra` takes the place of the inherited one: getenv finds the first.
  const auto overridden = [&extra](std::string_view entry) {
    const std::string_view name = entry.substr(0, entry.find('='));
    return std::any_of(extra.begin(), extra.end(), [name](const std::string& given) {
      return std::string_view(given).substr(0, given.find('=')) == name;
    });
  };
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (!overridden(*entry)) storage.emplace_back(*entry);
  }
  storage.insert(storage.end(), extra.begin(), extra.end());
  std::vector<char*> envp;
  for (auto& entry : storage) envp.push_back(entry.data());
  envp.push_back(nullptr);
  return envp;
}

int WaitStatusToExitCode(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                         std::chrono::milliseconds limit, const std::vector<std::string>& extraEnvironment) {
  ProcessResult result;
  Pipe in, out, err;
  if (!in.Ok() || !out.Ok() || !err.Ok()) return result;

  std::vector<std::string> argStorage, envStorage;
  auto argv = ArgumentVector(program, args, argStorage);
  auto envp = Environment(extraEnvironment, envStorage);

  const pid_t pid = ::fork();
  if (pid < 0) return result;
  if (pid == 0) {
    ::dup2(in.Read(), STDIN_FILENO);
    ::dup2(out.Write(), STDOUT_FILENO);
    ::dup2(err.Write(), STDERR_FILENO);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  in.CloseRead();
  out.CloseWrite();
  err.CloseWrite();

  // Input is small (a secret, a confirmation): the pipe buffer holds it.
  std::size_t written = 0;
  while (written < input.size()) {
    const ssize_t n = ::write(in.Write(), input.data() + written, input.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  in.CloseWrite();

  const auto deadline = Clock::now() + limit;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      result.timedOut = true;
      ::kill(pid, SIGKILL);
      break;
    }
    pollfd fds[2] = {{outOpen ? out.Read() : -1, POLLIN, 0}, {errOpen ? err.Read() : -1, POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
      if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        (i == 0 ? outOpen : errOpen) = false;
      }
    }
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = result.timedOut ? -1 : WaitStatusToExitCode(status);
  return result;
}

BackgroundProcess::BackgroundProcess(const std::string& program, const std::vector<std::string>& args,
                                     const std::function<void()>& inChild) {
  char pattern[] = "/tmp/tokvane-cli-test-XXXXXX";
  const int logFd = ::mkstemp(pattern);
  if (logFd < 0) return;
  logPath_ = pattern;
  std::vector<std::string> storage;
  auto argv = ArgumentVector(program, args, storage);
  pid_ = ::fork();
  if (pid_ == 0) {
    if (inChild) inChild();
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive a crashed test run (set after a user change, which clears it)
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
    ::dup2(logFd, STDOUT_FILENO);
    ::dup2(logFd, STDERR_FILENO);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(logFd);
}

BackgroundProcess::~BackgroundProcess() {
  Stop();
  if (!logPath_.empty()) ::unlink(logPath_.c_str());
}

bool BackgroundProcess::Stop(std::chrono::milliseconds grace) {
  if (pid_ <= 0) return true;
  ::kill(pid_, SIGTERM);
  const auto deadline = Clock::now() + grace;
  while (Clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return false;
}

std::string BackgroundProcess::Output() const {
  std::ifstream log(logPath_);
  std::stringstream text;
  text << log.rdbuf();
  return text.str();
}

}  // namespace tokvane::integration
