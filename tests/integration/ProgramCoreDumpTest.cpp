// The built programs turn core dumps off as they start: seen from outside, through /proc, while
// each waits for something (the CLI for its secret, the virtual key for vpcd).
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/CliRunner.h"

namespace tokvane::integration {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uid_t kNobody = 65534;

// Gives the child a core limit the program has to lower itself. Run by root, the child runs as
// nobody: /proc shows an undumpable process as root's, which only tells something when the
// process is not root's anyway.
void RaiseCoreLimitAsAnotherUser() {
  if (::geteuid() == 0) {
    const rlimit unlimited{RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_CORE, &unlimited);
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
        ::setresuid(kNobody, kNobody, kNobody) != 0) {
      ::_exit(126);
    }
  } else {
    rlimit limit{};
    ::getrlimit(RLIMIT_CORE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_CORE, &limit);
  }
}

std::string ProcFile(pid_t pid, const char* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/" + name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// "soft hard" of the core size limit, as /proc/PID/limits shows it.
std::string CoreLimit(pid_t pid) {
  std::istringstream lines(ProcFile(pid, "limits"));
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("Max core file size", 0) != 0) continue;
    std::istringstream fields(line.substr(std::string("Max core file size").size()));
    std::string soft;
    std::string hard;
    fields >> soft >> hard;
    return soft + " " + hard;
  }
  return "?";
}

// The owner /proc gives the process's files: its own user while dumpable, root once it is not.
uid_t ProcOwner(pid_t pid) {
  struct stat info {};
  if (::stat(("/proc/" + std::to_string(pid) + "/status").c_str(), &info) != 0) return static_cast<uid_t>(-1);
  return info.st_uid;
}

struct Seen {
  bool started = false;
  std::string coreLimit;
  uid_t owner = 0;
};

// Waits for the program to be running (its name in /proc) and then for both marks; what was
// seen last either way.
Seen WatchUntilHardened(pid_t pid, const std::string& program) {
  const std::string name = std::filesystem::path(program).filename().string().substr(0, 15);
  const auto deadline = Clock::now() + 10s;
  Seen seen;
  while (Clock::now() < deadline) {
    std::string comm = ProcFile(pid, "comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    seen.started = seen.started || comm == name;
    if (seen.started) {
      seen.coreLimit = CoreLimit(pid);
      seen.owner = ProcOwner(pid);
      if (seen.coreLimit == "0 0" && seen.owner == 0) break;
    }
    std::this_thread::sleep_for(20ms);
  }
  return seen;
}

TEST(ProgramCoreDumps, EachProgramIsUndumpableWithNoCoreLimitSoonAfterStart) {
  ASSERT_FALSE(CliProgram().empty()) << "the build did not say where tokvane-cli is";
  ASSERT_FALSE(KeysimProgram().empty()) << "the build did not say where tokvane-keysim is";
  // The CLI waits on a FIFO nobody writes to for its secret; the key waits for a vpcd that is not there.
  std::string directory = (std::filesystem::temp_directory_path() / "tokvane-core-XXXXXX").string();
  ASSERT_NE(::mkdtemp(directory.data()), nullptr);
  const std::string fifo = directory + "/secret";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(fifo.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(directory.c_str(), 0755), 0);

  struct Case {
    std::string program;
    std::vector<std::string> args;
  };
  const std::vector<Case> cases = {
      {CliProgram(), {"--demo", "oath", "add", "probe", "--secret-file", fifo}},
      {KeysimProgram(), {"--port", "1"}},  // nothing listens there: the key keeps trying
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.program);
    BackgroundProcess child(c.program, c.args, RaiseCoreLimitAsAnotherUser);
    ASSERT_TRUE(child.Started());
    const Seen seen = WatchUntilHardened(child.Pid(), c.program);
    ASSERT_TRUE(seen.started) << "the program did not start";
    EXPECT_EQ(seen.coreLimit, "0 0");
    EXPECT_EQ(seen.owner, 0u) << "still dumpable";
    child.Stop(0ms);  // how the program ends is not looked at here
  }
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace tokvane::integration
