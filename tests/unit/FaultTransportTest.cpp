// The key pulled out in the middle of an exchange, in-process: from the virtual PC/SC reader and
// from each HID framing, before the key took the command or after it did the work. Every case
// ends promptly with a failed exchange that says why, the transport able to connect again once
// the key is back, and the key's credentials as they should be.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"
#include "device/DeviceBackends.h"
#include "device/HidDiscovery.h"
#include "device/KeyModels.h"
#include "device/PcscInterface.h"
#include "device/VidPidConfig.h"
#include "device/VnCosHidInterface.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "oath/OathAnswers.h"
#include "oath/OathCommands.h"
#include "tests/support/FaultInjectingCard.h"
#include "tests/support/TestKeys.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const Bytes& kSecret = test_keys::kRfcSecret;
constexpr auto kPromptly = 15s;
constexpr const char* kReader = "Fault Test Reader 00 00";
constexpr std::uint16_t kVid = 0x1209;
const std::wstring kKbName = L"VORTAN HID DEVICE KB 0";
const std::wstring kU2fName = L"VORTAN HID DEVICE U2F 1";

using test_keys::Command;
using test_keys::KeyWithTwoCredentials;
using test_keys::kRfcCodes6;
using test_keys::NamesOf;

// Select, list, calculate "alpha" on an open transport: what the key still holds, as the panel reads it.
struct KeyView {
  std::vector<std::string> names;
  std::string alphaCode;
};

KeyView ReadKey(IDeveiceInterface& device) {
  KeyView view;
  CApduResponse response;
  if (!device.Exchange(Command(BuildSelectOath()), response)) return view;
  if (device.Exchange(Command(BuildList()), response)) {
    for (const auto& entry : ParseListResponse(response.Data.data(), response.Data.size())) {
      view.names.emplace_back(entry.Name.begin(), entry.Name.end());
    }
  }
  if (device.Exchange(Command(BuildCalculate("alpha")), response)) {
    const auto calc = ParseCalcAnswer(response.Data.data(), response.Data.size());
    if (calc) view.alphaCode = FormatCode(*calc);
  }
  return view;
}

struct PullOutCase {
  const char* what;
  Bytes command;
  std::uint8_t pulledAt;
  bool keyFirst;
  std::vector<std::string> namesAfter;
  std::uint32_t alphaCountsAfter;  // calculations of "alpha" the key has counted by then
};

std::vector<PullOutCase> PullOutCases(bool withGetResponse) {
  std::vector<PullOutCase> cases = {
      {"put, before the key took it", BuildPut(oath::kInsPut, "gamma", kSecret, 6, ""), oath::kInsPut, false,
       {"alpha", "beta"}, 0},
      {"put, after the key wrote it", BuildPut(oath::kInsPut, "gamma", kSecret, 6, ""), oath::kInsPut, true,
       {"alpha", "beta", "gamma"}, 0},
      {"delete, after the key deleted", BuildDelete("beta"), oath::kInsDelete, true, {"alpha"}, 0},
      {"reset, before the key took it", BuildReset(), oath::kInsReset, false, {"alpha", "beta"}, 0},
      {"calculate, answer lost", BuildCalculate("alpha"), oath::kInsCalculate, true, {"alpha", "beta"}, 1},
  };
  if (withGetResponse) cases.push_back({"list, during GET RESPONSE", BuildList(), 0xC0, true, {"alpha", "beta"}, 0});
  return cases;
}

TEST(FaultPcscPullOut, AKeyPulledOutOfTheReaderMidExchangeFailsWithTheReasonAndComesBackWhole) {
  for (const bool useT0 : {false, true}) {
    for (const auto& c : PullOutCases(useT0)) {
      SCOPED_TRACE(std::string(c.what) + (useT0 ? " (T=0)" : " (T=1)"));
      auto api = std::make_shared<VirtualPcscApi>();
      ASSERT_TRUE(api->AddReader(kReader));
      auto key = KeyWithTwoCredentials(useT0);
      auto card = std::make_shared<FaultInjectingCard>(key);
      ASSERT_TRUE(api->InsertCard(kReader, card));

      CPcscInterface reader(kReader, api);
      ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
      CApduResponse response;
      ASSERT_TRUE(reader.Exchange(Command(BuildSelectOath()), response));
      card->Arm(FaultInjectingCard::OnInstruction(c.pulledAt), [&] { api->RemoveCard(kReader); }, c.keyFirst);

      const auto start = Clock::now();
      EXPECT_FALSE(reader.Exchange(Command(c.command), response));
      EXPECT_LT(Clock::now() - start, kPromptly);
      ASSERT_TRUE(card->Fired());
      const std::string reason = reader.GetLastErrorText();
      EXPECT_EQ(reason, api->ErrorText(SCARD_W_REMOVED_CARD));
      EXPECT_FALSE(reader.IsOpen());
      EXPECT_FALSE(reader.Open()) << "no card, no connection";

      ASSERT_TRUE(api->InsertCard(kReader, card));
      ASSERT_TRUE(reader.Open()) << reader.GetLastErrorText();
      const KeyView view = ReadKey(reader);
      EXPECT_EQ(view.names, c.namesAfter);
      EXPECT_EQ(NamesOf(key->Credentials()), c.namesAfter);
      EXPECT_EQ(view.alphaCode, kRfcCodes6[c.alphaCountsAfter]) << "the secret is intact";
      EXPECT_TRUE(reader.Close());
    }
  }
}

class FaultHidPullOut : public ::testing::Test {
 protected:
  int Enumerate() {
    std::vector<std::wstring> names;
    return EnumerateHidDevices(*api_, *backends_.models, names);
  }

  std::shared_ptr<VirtualHidApi> api_ = std::make_shared<VirtualHidApi>();
  DeviceBackends backends_ = MakeDeviceBackends(nullptr, api_, {VidPidEntry::Make(kVid, 0)});
};

TEST_F(FaultHidPullOut, AKeyPulledOutMidExchangeOverEachFramingEndsPromptlyAndComesBackWhole) {
  for (const std::wstring& name : {kKbName, kU2fName}) {
    for (const auto& c : PullOutCases(false)) {
      SCOPED_TRACE(std::string(c.what) + (name == kKbName ? " (feature reports)" : " (U2FHID)"));
      auto key = KeyWithTwoCredentials(false);
      auto card = std::make_shared<FaultInjectingCard>(key);
      VirtualHidKeyOptions options;
      options.vendorId = kVid;
      const auto id = api_->AddKey(card, options);
      ASSERT_EQ(Enumerate(), 2);

      VnCosHidInterface hid(backends_, name);
      // A gone feature-report device is polled until the limit: a short one keeps the test quick.
      hid.SetExchangeTimeout(2s);
      ASSERT_TRUE(hid.Open()) << hid.FailureReason();
      CApduResponse response;
      ASSERT_TRUE(hid.Exchange(Command(BuildSelectOath()), response)) << hid.FailureReason();
      card->Arm(FaultInjectingCard::OnInstruction(c.pulledAt), [&] { api_->Unplug(id); }, c.keyFirst);

      const auto start = Clock::now();
      EXPECT_FALSE(hid.Exchange(Command(c.command), response));
      EXPECT_LT(Clock::now() - start, kPromptly);
      EXPECT_TRUE(card->Fired());
      EXPECT_FALSE(hid.FailureReason().empty());
      EXPECT_TRUE(hid.Close());

      // Plugged in again: the key is found under its name and answers with what it holds.
      api_->PlugIn(id);
      ASSERT_EQ(Enumerate(), 2);
      ASSERT_TRUE(hid.Open()) << hid.FailureReason();
      const KeyView view = ReadKey(hid);
      EXPECT_EQ(view.names, c.namesAfter);
      EXPECT_EQ(NamesOf(key->Credentials()), c.namesAfter);
      EXPECT_EQ(view.alphaCode, kRfcCodes6[c.alphaCountsAfter]);
      hid.Close();
      api_->Unplug(id);
    }
  }
}

}  // namespace
