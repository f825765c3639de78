// The HID transport against the virtual interfaces of a virtual key: both framings carry the
// same APDUs within the default time limit, and a missed touch is an answer. How each framing
// fails on a hostile device is HidFramingTest's.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "device/DeviceBackends.h"
#include "device/HidDiscovery.h"
#include "device/KeyModels.h"
#include "device/VidPidConfig.h"
#include "device/VnCosHidInterface.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "tests/support/TestKeys.h"

namespace {

using namespace std::chrono_literals;
using test_keys::CommandOfLength;
using test_keys::EchoCard;

constexpr std::uint16_t kVid = 0x1209;
const std::wstring kKbName = L"VORTAN HID DEVICE KB 0";
const std::wstring kU2fName = L"VORTAN HID DEVICE U2F 1";

class HidVirtualKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    api = std::make_shared<VirtualHidApi>();
    backends = MakeDeviceBackends(nullptr, api, {VidPidEntry::Make(kVid, 0)});
  }

  VirtualHidApi::KeyId PlugInKey(VirtualHidKeyOptions options = {}) {
    options.vendorId = kVid;
    const auto key = api->AddKey(std::make_shared<EchoCard>(), std::move(options));
    std::vector<std::wstring> names;
    EXPECT_EQ(EnumerateHidDevices(*api, *backends.models, names), 2);
    return key;
  }

  std::shared_ptr<VirtualHidApi> api;
  DeviceBackends backends;
};

TEST_F(HidVirtualKeyTest, BothFramingsCarryCommandsOfEveryPacketBoundary) {
  VirtualHidKeyOptions options;
  options.emptyFeaturePolls = 5;
  options.zeroLengthReports = 3;
  PlugInKey(options);
  for (const std::wstring& name : {kKbName, kU2fName}) {
    VnCosHidInterface hid(backends, name);
    ASSERT_TRUE(hid.Open()) << hid.FailureReason();
    for (std::size_t length : {5, 57, 58, 104, 116, 128}) {
      // A feature report carries at most 106 bytes each way.
      if (name == kKbName && length + 2 > VnCosHidInterface::kMaxFeaturePayload) continue;
      SCOPED_TRACE(length);
      const CApduCommand command = CommandOfLength(length);
      CApduResponse response;
      ASSERT_TRUE(hid.Exchange(command, response)) << hid.FailureReason();
      EXPECT_EQ(response.Data, command.Serialize());
      EXPECT_EQ(response.StatusWord(), 0x9000);
    }
    EXPECT_TRUE(hid.Close());
  }
}

TEST_F(HidVirtualKeyTest, AnAnswerThatTakesTheWholeTouchWindowStillArrivesWithTheDefaultLimit) {
  VirtualHidKeyOptions options;
  options.answerDelay = 3200ms;
  PlugInKey(options);
  for (const std::wstring& name : {kKbName, kU2fName}) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    VnCosHidInterface hid(backends, name);
    ASSERT_TRUE(hid.Open());
    CApduResponse response;
    EXPECT_TRUE(hid.Exchange(CommandOfLength(5), response)) << hid.FailureReason();
    EXPECT_EQ(response.StatusWord(), 0x9000);
  }
}

TEST_F(HidVirtualKeyTest, ASilentDeviceIsGivenUpWithinTheDefaultLimit) {
  const auto key = PlugInKey();
  VnCosHidInterface hid(backends, kU2fName);
  ASSERT_TRUE(hid.Open());
  api->SetFault(key, VirtualHidFault::NeverAnswers);
  const auto start = std::chrono::steady_clock::now();
  CApduResponse response;
  EXPECT_FALSE(hid.Exchange(CommandOfLength(5), response));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_GE(elapsed, 3s) << "the limit must outlast a touch";
  EXPECT_LT(elapsed, VnCosHidInterface::kDefaultExchangeTimeout + 1500ms);
}

}  // namespace
