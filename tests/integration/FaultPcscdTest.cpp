// Faults on the PC/SC path through the real pcscd and its vpcd reader: the key pulled out in the
// middle of an exchange, and the service stopped under an open connection and started again. Each
// ends with the transport usable again, a failure text worth logging, and the key's credentials as
// they should be. Answer chains past the response limit are PcscTransportTest's.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"
#include "device/PcscApi.h"
#include "device/PcscInterface.h"
#include "device/PcscReaderList.h"
#include "keysim/VirtualKey.h"
#include "oath/OathCommands.h"
#include "tests/integration/CliRunner.h"
#include "tests/integration/PcscdHarness.h"
#include "tests/support/FaultInjectingCard.h"
#include "tests/support/TestKeys.h"

namespace tokvane::integration {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using test_keys::Command;
using test_keys::KeyWithTwoCredentials;
using test_keys::kRfcCodes6;
const Bytes& kSecret = test_keys::kRfcSecret;
// Far above any real wait, far below a hang.
constexpr auto kPromptly = 15s;
constexpr const char* kNoError = "No error.";

bool SameCredentials(const std::vector<VirtualCredentialState>& a, const std::vector<VirtualCredentialState>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
    return x.name == y.name && x.counter == y.counter && x.digits == y.digits && x.isDefault == y.isDefault;
  });
}

class FaultPcscdTest : public PcscdTest {
 protected:
  // One exchange on an open reader; the answer, or nothing when the transport failed.
  static bool Send(CPcscInterface& reader, const Bytes& bytes, CApduResponse& response) {
    return reader.Exchange(Command(bytes), response);
  }
  // What the key lists ("* " marks the default) and a code of it, through pcscd by the CLI.
  static std::string Listing() { return RunCliInProcess({"oath", "list"}).out; }
  static std::string Code(const std::string& name) { return RunCliInProcess({"oath", "code", name}).out; }
};

struct PullOutCase {
  const char* what;
  bool useT0;
  Bytes command;
  std::uint8_t pulledAt;  // the instruction byte during which the key goes
  bool keyFirst;          // the key did the work before it went
  std::string listing;  // after the key is back; a credential written last becomes the default
};

TEST_F(FaultPcscdTest, AKeyPulledOutMidExchangeFailsPromptlyAndKeepsItsCredentials) {
  const std::string kTwo = "  alpha\n* beta\n";
  const PullOutCase cases[] = {
      {"put, before the key took it", false, BuildPut(oath::kInsPut, "gamma", kSecret, 6, ""), oath::kInsPut, false,
       kTwo},
      {"put, after the key wrote it", false, BuildPut(oath::kInsPut, "gamma", kSecret, 6, ""), oath::kInsPut, true,
       "  alpha\n  beta\n* gamma\n"},
      {"delete, before the key took it", false, BuildDelete("alpha"), oath::kInsDelete, false, kTwo},
      {"list under T=0, during GET RESPONSE", true, BuildList(), 0xC0, true, kTwo},
      {"calculate, answer lost", false, BuildCalculate("alpha"), oath::kInsCalculate, true, kTwo},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto key = KeyWithTwoCredentials(c.useT0);
    auto card = std::make_shared<FaultInjectingCard>(key);
    ServedCard served(card);
    ASSERT_TRUE(served.Insert()) << "pcscd did not show the key";
    const auto before = key->Credentials();

    CPcscInterface reader(kVpcdReader, SystemPcscApi());
    ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
    CApduResponse selected;
    ASSERT_TRUE(Send(reader, BuildSelectOath(), selected));
    card->Arm(FaultInjectingCard::OnInstruction(c.pulledAt), &FaultInjectingCard::ThrowPulledOut, c.keyFirst);

    const auto start = Clock::now();
    CApduResponse response;
    const bool answered = Send(reader, c.command, response);
    EXPECT_LT(Clock::now() - start, kPromptly);
    EXPECT_TRUE(card->Fired());
    // vpcd hands pcscd an empty answer when its card goes mid-command, so the exchange may come
    // back with no status word at all (00 00, the caller's failure path); otherwise it fails with
    // the service's reason. Never is the lost answer taken for a success.
    const std::string reason = reader.GetLastErrorText();
    if (answered) {
      EXPECT_EQ(response.StatusWord(), 0x0000) << response.ToHex();
      EXPECT_EQ(reason, kNoStatusWordText) << "the caller can tell that the key said nothing";
    } else {
      EXPECT_FALSE(reason.empty());
      EXPECT_NE(reason, kNoError) << "the log line must say why";
    }
    ASSERT_TRUE(WaitForCardState(kVpcdReader, false, kPromptly)) << "pcscd still shows the key";
    EXPECT_FALSE(reader.IsOpen());
    reader.Close();

    // Plugged in again, the same program goes on: the key answers, its credentials as expected.
    ASSERT_TRUE(served.Remove());
    ASSERT_TRUE(served.Insert());
    EXPECT_TRUE(reader.Open()) << reader.GetLastErrorText();
    reader.Close();
    EXPECT_EQ(Listing(), c.listing);
    const auto after = key->Credentials();
    if (c.command[1] == oath::kInsCalculate) {
      // The key counted the calculation whose answer never arrived, as a real key does.
      EXPECT_EQ(after.at(0).counter, before.at(0).counter + 1);
      EXPECT_EQ(Code("alpha"), kRfcCodes6[1] + "\n");
    } else {
      for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(after.at(i).name, before[i].name);
        EXPECT_EQ(after.at(i).counter, before[i].counter);
        EXPECT_EQ(after.at(i).digits, before[i].digits);
      }
      EXPECT_EQ(Code("alpha"), kRfcCodes6[0] + "\n");
    }
    if (c.listing != kTwo) {
      EXPECT_EQ(Code("gamma"), kRfcCodes6[0] + "\n") << "written whole";
    }
  }
}

TEST_F(FaultPcscdTest, TheServiceStoppedUnderAnOpenConnectionIsUsedAgainOnceItIsBack) {
  auto& service = PcscdService::Instance();
  if (!service.StartedHere()) {
    GTEST_SKIP() << "the running pcscd was not started by this run, so it is not ours to stop";
  }
  auto key = KeyWithTwoCredentials(false);
  const auto before = key->Credentials();
  ServedCard served(key);
  ASSERT_TRUE(served.Insert());

  CPcscInterface reader(kVpcdReader, SystemPcscApi());
  ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
  CApduResponse selected;
  ASSERT_TRUE(Send(reader, BuildSelectOath(), selected));

  ASSERT_TRUE(service.StopForRestart());
  const auto start = Clock::now();
  EXPECT_FALSE(reader.IsOpen());
  CApduResponse response;
  EXPECT_FALSE(Send(reader, BuildList(), response));
  const std::string exchangeReason = reader.GetLastErrorText();
  EXPECT_EQ(exchangeReason,
            "Service not available. (the smart-card service pcscd is not running: start it with "
            "'systemctl start pcscd' or run 'pcscd')");
  std::vector<std::string> names{"stale"};
  ListPcscReaderNamesNarrow(names, SystemPcscApi());
  EXPECT_TRUE(names.empty()) << "no service, no readers";
  EXPECT_FALSE(reader.Open());
  EXPECT_EQ(reader.GetLastErrorText(), exchangeReason) << "the text says what to start";
  EXPECT_LT(Clock::now() - start, kPromptly);

  ASSERT_TRUE(service.Ensure()) << service.Reason();
  // The key's vpcd session ended with the service; it connects again to the new one.
  served.Remove();
  ASSERT_TRUE(served.Insert());
  ListPcscReaderNamesNarrow(names, SystemPcscApi());
  EXPECT_NE(std::find(names.begin(), names.end(), kVpcdReader), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), kVpcdSecondReader), names.end());

  // The same transport object connects through a fresh context.
  ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
  ASSERT_TRUE(Send(reader, BuildSelectOath(), selected));
  EXPECT_EQ(selected.StatusWord(), 0x9000);
  EXPECT_TRUE(reader.Close());
  EXPECT_EQ(Listing(), "  alpha\n* beta\n");
  EXPECT_TRUE(SameCredentials(key->Credentials(), before));
}

}  // namespace
}  // namespace tokvane::integration
