// The built programs together: tokvane-keysim serves the virtual key to pcscd through vpcd, and
// tokvane-cli runs as a child process against it, with its secret on standard input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tests/integration/CliRunner.h"
#include "tests/integration/PcscdHarness.h"
#include "tests/support/TestKeys.h"

namespace tokvane::integration {
namespace {

using namespace std::chrono_literals;

using test_keys::kRfcCodes6;
// The RFC secret as a person would paste it, with spaces.
const std::string kSecretHex = "31 32 33 34 35 36 37 38 39 30 31 32 33 34 35 36 37 38 39 30";

class CliProgramTest : public PcscdTest {
 protected:
  void SetUp() override {
    PcscdTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_FALSE(CliProgram().empty()) << "the build did not say where tokvane-cli is";
    ASSERT_FALSE(KeysimProgram().empty()) << "the build did not say where tokvane-keysim is";
    state_ = std::filesystem::path(::testing::TempDir()) / ("cli-program-" + std::to_string(::getpid()) + ".state");
    std::filesystem::remove(state_);
  }
  void TearDown() override {
    if (!state_.empty()) std::filesystem::remove(state_);
  }

  std::unique_ptr<BackgroundProcess> StartKeysim() const {
    return std::make_unique<BackgroundProcess>(KeysimProgram(), std::vector<std::string>{"--state", state_.string()});
  }

  std::filesystem::path state_;
};

TEST_F(CliProgramTest, TheCliProgramWorksTheKeyThatTheKeysimProgramServes) {
  auto keysim = StartKeysim();
  ASSERT_TRUE(keysim->Started());
  ASSERT_TRUE(WaitForCardState(kVpcdReader, true, 15s)) << keysim->Output();

  const CliResult added = RunCliProgram({"oath", "add", "mail"}, kSecretHex + "\n");
  ASSERT_EQ(added.code, 0) << added.err;
  EXPECT_EQ(added.out, "Credential 'mail' written (6 digits).\n");
  EXPECT_EQ(added.err, "");

  for (std::uint32_t count = 0; count < 2; ++count) {
    const CliResult code = RunCliProgram({"oath", "code", "mail"});
    ASSERT_EQ(code.code, 0) << code.err;
    EXPECT_EQ(code.out, kRfcCodes6[count] + "\n");
  }

  const CliResult list = RunCliProgram({"--json", "oath", "list"});
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(list.out, "{\"reader\":\"Virtual PCD 00 00\",\"credentials\":[{\"name\":\"mail\",\"default\":true}],"
                      "\"default\":\"mail\"}\n");

  EXPECT_EQ(RunCliProgram({"oath", "code", "nosuch"}).code, 1);
  EXPECT_EQ(RunCliProgram({"--reader", "Virtual PCD 00 07", "info"}).code, 2);
  EXPECT_EQ(RunCliProgram({"oath", "add", "t"}, "otpauth://totp/t?secret=GEZDGNBV").code, 2);
  const CliResult help = RunCliProgram({"oath", "add", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_EQ(help.out.rfind("Usage: tokvane-cli oath add NAME", 0), 0u) << help.out;

  EXPECT_TRUE(keysim->Stop()) << keysim->Output();
  keysim.reset();
  ASSERT_TRUE(WaitForCardState(kVpcdReader, false, 10s));
  const CliResult gone = RunCliProgram({"oath", "code", "mail"});
  EXPECT_EQ(gone.code, 3) << gone.err;
  EXPECT_EQ(gone.err.rfind(std::string("tokvane-cli: cannot connect to '") + kVpcdReader + "'", 0), 0u) << gone.err;

  // The key kept its state: served again, it goes on counting where it stopped.
  keysim = StartKeysim();
  ASSERT_TRUE(WaitForCardState(kVpcdReader, true, 15s)) << keysim->Output();
  EXPECT_EQ(RunCliProgram({"oath", "code", "mail"}).out, kRfcCodes6[2] + "\n");
  EXPECT_TRUE(keysim->Stop()) << keysim->Output();
  keysim.reset();
  EXPECT_TRUE(WaitForCardState(kVpcdReader, false, 10s));
}

}  // namespace
}  // namespace tokvane::integration
