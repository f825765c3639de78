// The HID transport against the virtual interfaces of a virtual key: both framings carry the
// same APDUs, and every hostile device ends the exchange with false in bounded time.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

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
#include "tests/support/TestKeys.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kVid = 0x1209;
const std::wstring kKbName = L"VORTAN HID DEVICE KB 0";
const std::wstring kU2fName = L"VORTAN HID DEVICE U2F 1";

// Answers every command with the command bytes themselves and 90 00.
class EchoCard : public VirtualCard {
 public:
  std::vector<std::uint8_t> Atr() override { return {0x3B, 0x00}; }
  void PowerOn() override {}
  void PowerOff() override {}
  void Reset() override {}
  std::vector<std::uint8_t> ProcessApdu(const std::vector<std::uint8_t>& command) override {
    std::vector<std::uint8_t> answer = command;
    answer.push_back(0x90);
    answer.push_back(0x00);
    return answer;
  }
};

CApduCommand CommandOfLength(std::size_t length) {
  std::vector<std::uint8_t> bytes{0x80, 0xE3, 0x00, 0x00, 0x03};
  if (length > 5) {
    bytes = {0x00, 0xD0, 0x00, 0x00, static_cast<std::uint8_t>(length - 5)};
    for (std::size_t i = 5; i < length; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 7));
  }
  CApduCommand command;
  command.Parse(bytes.data(), bytes.size());
  return command;
}

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

TEST_F(HidVirtualKeyTest, EachOpenOfTheU2fInterfaceGetsItsOwnChannel) {
  PlugInKey();
  VnCosHidInterface hid(backends, kU2fName);
  ASSERT_TRUE(hid.Open());
  const auto first = hid.ChannelId;
  EXPECT_NE(first, VnCosHidInterface::kInitialChannelId);
  hid.Close();
  ASSERT_TRUE(hid.Open());
  EXPECT_NE(hid.ChannelId, first);
  CApduResponse response;
  EXPECT_TRUE(hid.Exchange(CommandOfLength(5), response));
}

struct HostileCase {
  const char* name;
  std::wstring interfaceName;
  VirtualHidFault fault;
  std::size_t commandLength;  // long enough that the answer needs a continuation packet
  const char* reason;
};

TEST_F(HidVirtualKeyTest, HostileDevicesEndTheExchangeWithFalseInBoundedTime) {
  const std::vector<HostileCase> cases{
      {"wrong continuation sequence", kU2fName, VirtualHidFault::WrongSequence, 70, "The key's answer came with a wrong sequence number."},
      {"length past the response area", kU2fName, VirtualHidFault::LengthPastResponseArea, 5, "The key's answer is longer than the 1032-byte response area."},
      {"feature length byte past the report", kKbName, VirtualHidFault::FeatureLengthPastReport, 5, "The key's answer length points past its feature report."},
      {"U2F device that never answers", kU2fName, VirtualHidFault::NeverAnswers, 5, "The key did not answer the command in time."},
      {"KB device that never answers", kKbName, VirtualHidFault::NeverAnswers, 5, "The key did not answer in its feature report in time."},
      {"U2F device unplugged mid-exchange", kU2fName, VirtualHidFault::UnplugMidExchange, 70, "Reading the key's answer failed: the key may have been pulled out."},
      // The key took the command before it went: it is not offered again.
      {"KB device unplugged mid-exchange", kKbName, VirtualHidFault::UnplugMidExchange, 5,
       "The key took the command, but its input reports could not be cleared afterwards; the command was not sent "
       "again."},
      {"U2F zero-length reports for ever", kU2fName, VirtualHidFault::ZeroLengthForever, 5, "The key did not answer the command in time."},
      {"KB length 0 for ever", kKbName, VirtualHidFault::ZeroLengthForever, 5, "The key did not answer in its feature report in time."},
  };
  constexpr auto kLimit = 400ms;
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    const auto key = PlugInKey();
    VnCosHidInterface hid(backends, c.interfaceName);
    hid.SetExchangeTimeout(kLimit);
    ASSERT_TRUE(hid.Open()) << hid.FailureReason();
    api->SetFault(key, c.fault);

    const auto start = std::chrono::steady_clock::now();
    CApduResponse response;
    EXPECT_FALSE(hid.Exchange(CommandOfLength(c.commandLength), response));
    EXPECT_EQ(hid.FailureReason(), c.reason);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kLimit + 1500ms);
    EXPECT_EQ(response.DataLength, 0);
    EXPECT_EQ(response.StatusWord(), 0);
    EXPECT_TRUE(hid.Close());
  }
}

TEST_F(HidVirtualKeyTest, AnUnpluggedKeyCannotBeOpenedByItsOldName) {
  const auto key = PlugInKey();
  api->Unplug(key);
  for (const std::wstring& name : {kKbName, kU2fName}) {
    VnCosHidInterface hid(backends, name);
    EXPECT_FALSE(hid.Open());
    EXPECT_FALSE(hid.IsOpen());
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

// ---- The OATH session of a virtual key over PC/SC, feature reports and U2FHID ----

// One exchange as the panels see it: did an answer come back, and which.
struct Step {
  bool answered = false;
  std::vector<std::uint8_t> data;
  std::uint16_t sw = 0;
  bool operator==(const Step&) const = default;
};

Step Send(IDeveiceInterface& device, const std::vector<std::uint8_t>& bytes) {
  CApduCommand command;
  command.Parse(bytes.data(), bytes.size());
  CApduResponse response;
  Step step;
  step.answered = device.Exchange(command, response);
  step.data = response.Data;
  step.sw = response.StatusWord();
  return step;
}

const std::vector<std::uint8_t>& kSecret = test_keys::kRfcSecret;

// Every command of the credentials panel, in an order that exercises each of them.
std::vector<std::vector<std::uint8_t>> OathSession() {
  return {
      BuildSelectOath(),
      BuildGetCosVersion(),
      BuildGetAppletVersion(),
      BuildPut(oath::kInsPut, "alpha", kSecret, 6, ""),
      BuildPut(oath::kInsPut, "beta", kSecret, 8, "TKV1"),
      BuildList(),
      BuildCalculate("alpha"),
      BuildCalculate("alpha"),
      BuildCalculate("beta"),
      BuildSetDefault("beta"),
      BuildGetDefault(),
      BuildDelete("alpha"),
      BuildList(),
      BuildCalculate("alpha"),
      BuildReset(),
      BuildList(),
      BuildSelectFido(),
  };
}

// A device opened and closed around every command, as the panels do.
std::vector<Step> RunSession(IDeveiceInterface& device) {
  std::vector<Step> steps;
  for (const auto& command : OathSession()) {
    if (!device.IsOpen() && !device.Open()) return steps;
    steps.push_back(Send(device, command));
    // The OATH applet stays selected across a HID close; a PC/SC close powers the card down,
    // so each PC/SC action selects the applet again first, as the panels do.
    device.Close();
    if (dynamic_cast<CPcscInterface*>(&device) != nullptr) {
      device.Open();
      Send(device, BuildSelectOath());
    }
  }
  device.Close();
  return steps;
}

class HidOathSessionTest : public HidVirtualKeyTest {
 protected:
  // A key behind the HID seam whose interfaces follow its own interface mode.
  std::shared_ptr<VirtualKey> PlugInVirtualKey(VirtualKeyConfig config = {}) {
    auto key = std::make_shared<VirtualKey>(std::move(config));
    VirtualHidKeyOptions options;
    options.vendorId = kVid;
    std::weak_ptr<VirtualKey> weak = key;
    options.interfaceSource = [weak] {
      auto k = weak.lock();
      return k ? k->PresentInterfaces() : std::uint8_t{0};
    };
    options.onPlugIn = [weak] {
      if (auto k = weak.lock()) k->PlugIn();
    };
    hidKey = api->AddKey(key, options);
    return key;
  }

  std::vector<std::wstring> Names() {
    std::vector<std::wstring> names;
    EnumerateHidDevices(*api, *backends.models, names);
    return names;
  }

  VirtualHidApi::KeyId hidKey = 0;
};

TEST_F(HidOathSessionTest, TheSameSessionGivesTheSameAnswersOverPcscFeatureReportsAndU2fHid) {
  // PC/SC: a fresh key in the in-process reader.
  auto pcscKey = std::make_shared<VirtualKey>();
  auto pcsc = std::make_shared<VirtualPcscApi>();
  ASSERT_TRUE(pcsc->AddReader("Virtual PCD 00 00"));
  ASSERT_TRUE(pcsc->InsertCard("Virtual PCD 00 00", pcscKey));
  CPcscInterface reader("Virtual PCD 00 00", pcsc);
  const std::vector<Step> overPcsc = RunSession(reader);
  ASSERT_EQ(overPcsc.size(), OathSession().size()) << reader.GetLastErrorText();

  // Each framing talks to a fresh key of its own, so every counter starts where the PC/SC one did.
  for (const std::wstring& name : {kKbName, kU2fName}) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    SetUp();
    PlugInVirtualKey();
    ASSERT_EQ(Names(), (std::vector<std::wstring>{kKbName, kU2fName}));
    VnCosHidInterface hid(backends, name);
    const std::vector<Step> overHid = RunSession(hid);
    ASSERT_EQ(overHid.size(), overPcsc.size());
    for (std::size_t i = 0; i < overPcsc.size(); ++i) EXPECT_EQ(overHid[i], overPcsc[i]) << "step " << i;
  }

  // The session did what it says: the codes of RFC 4226 and oathtool, and the status words of
  // a credential that was there and one that was deleted.
  for (const Step& step : overPcsc) EXPECT_TRUE(step.answered);
  const auto first = ParseCalcAnswer(overPcsc[6].data.data(), overPcsc[6].data.size());
  const auto second = ParseCalcAnswer(overPcsc[7].data.data(), overPcsc[7].data.size());
  const auto beta = ParseCalcAnswer(overPcsc[8].data.data(), overPcsc[8].data.size());
  ASSERT_TRUE(first && second && beta);
  EXPECT_EQ(FormatCode(*first), test_keys::kRfcCodes6[0]);
  EXPECT_EQ(FormatCode(*second), test_keys::kRfcCodes6[1]);
  EXPECT_EQ(FormatCode(*beta), test_keys::Oathtool(test_keys::kRfcSecretHex, 8, 0x544B5631));  // IMF "TKV1"
  EXPECT_EQ(ParseListResponse(overPcsc[5].data.data(), overPcsc[5].data.size()).size(), 2u);
  EXPECT_EQ(overPcsc[10].data, (std::vector<std::uint8_t>{'b', 'e', 't', 'a'}));
  EXPECT_NE(overPcsc[13].sw, 0x9000) << "calculate of a deleted credential";
  EXPECT_TRUE(overPcsc[15].data.empty());
}

TEST_F(HidOathSessionTest, AMissedTouchIsAnAnswerNotAFailureOverBothFramings) {
  VirtualKeyConfig config;
  config.cosVersion = {0x43, 0x01, 0x00};
  config.touch = TouchMode::Never;
  ASSERT_TRUE(CosVersionNeedsTouch(config.cosVersion[0], config.cosVersion[1]));
  PlugInVirtualKey(config);
  ASSERT_EQ(Names().size(), 2u);
  for (const std::wstring& name : {kKbName, kU2fName}) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    VnCosHidInterface hid(backends, name);
    ASSERT_TRUE(hid.Open());
    EXPECT_EQ(Send(hid, BuildSelectOath()).sw, 0x9000);
    const Step put = Send(hid, BuildPut(oath::kInsPut, "alpha", kSecret, 6, ""));
    EXPECT_TRUE(put.answered) << hid.FailureReason();
    EXPECT_EQ(put.sw, 0x6984);
  }
}

TEST_F(HidOathSessionTest, AModeChangeTakesEffectWhenTheKeyIsPluggedInAgain) {
  auto key = PlugInVirtualKey();
  ASSERT_EQ(Names(), (std::vector<std::wstring>{kKbName, kU2fName}));
  {
    VnCosHidInterface hid(backends, kU2fName);
    ASSERT_TRUE(hid.Open());
    EXPECT_EQ(Send(hid, BuildSetInterfaceMode(card_os::kInterfaceU2f | card_os::kInterfaceCcid)).sw, 0x9000);
  }
  EXPECT_EQ(Names().size(), 2u) << "nothing changes before the key is plugged in again";
  api->Unplug(hidKey);
  EXPECT_TRUE(Names().empty());
  api->PlugIn(hidKey);
  EXPECT_EQ(Names(), std::vector<std::wstring>{L"VORTAN HID DEVICE U2F 0"});
  VnCosHidInterface hid(backends, L"VORTAN HID DEVICE U2F 0");
  ASSERT_TRUE(hid.Open());
  EXPECT_EQ(Send(hid, BuildSelectOath()).sw, 0x9000);
}

}  // namespace
