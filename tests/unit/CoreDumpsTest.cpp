// Turning core dumps off, in a child process so that the test program itself stays as it was.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "app/CoreDumps.h"

namespace {

// What the child found, as its exit code: one bit per thing still wrong.
enum ChildFinding : int {
  kReportedFailure = 1,
  kStillDumpable = 2,
  kCoreLimitNotZero = 4,
};

int DisableAndInspect() {
  int findings = 0;
  std::string reason;
  if (!DisableCoreDumps(reason) || !reason.empty()) findings |= kReportedFailure;
  if (::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0) != 0) findings |= kStillDumpable;
  rlimit limit{};
  if (::getrlimit(RLIMIT_CORE, &limit) != 0 || limit.rlim_cur != 0 || limit.rlim_max != 0) {
    findings |= kCoreLimitNotZero;
  }
  return findings;
}

TEST(CoreDumps, AfterTheCallTheProcessIsNotDumpableAndMayWriteNoCore) {
  // A fresh child starts dumpable with whatever limit it inherited, so the call has work to do.
  ASSERT_EQ(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 1);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(DisableAndInspect());
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "findings (1 failure reported, 2 dumpable, 4 core limit): "
                                     << WEXITSTATUS(status);
}

}  // namespace
