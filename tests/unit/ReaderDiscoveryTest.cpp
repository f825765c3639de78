// Reader discovery against the virtual key behind both seams: the names, the kinds, the interfaces
// present, the option preset, the target choice, the wake-up exchange and the fix-it hint.
#include <PCSC/pcsclite.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "device/DeviceBackends.h"
#include "device/HidApi.h"
#include "device/PcscApi.h"
#include "device/PcscInterface.h"
#include "device/ReaderDiscovery.h"
#include "device/VidPidConfig.h"
#include "device/VnCosHidInterface.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "oath/OathCommands.h"
#include "tests/support/ScriptedPcscApi.h"

namespace {

using Names = std::vector<std::string>;
using namespace std::chrono_literals;

constexpr const char* kKb = "VORTAN HID DEVICE KB 0";
constexpr const char* kU2f = "VORTAN HID DEVICE U2F 1";
constexpr const char* kCardReader = "Key CCID 00 00";
constexpr const char* kEmptyReader = "Empty Reader 00 00";

TEST(ReaderNames, NamesMissingFromKeepsOrderRepeatsAndCase) {
  struct Case {
    Names a;
    Names b;
    Names missing;
  };
  const std::vector<Case> cases{
      {{}, {"x"}, {}},
      {{"x", "y"}, {}, {"x", "y"}},
      {{"c", "a", "b"}, {"a"}, {"c", "b"}},
      {{"a", "b", "a"}, {"b"}, {"a", "a"}},             // repeated names of a stay repeated
      {{"Reader"}, {"reader"}, {"Reader"}},            // case matters
      {{"Reader 0"}, {"Reader 00"}, {"Reader 0"}},     // a prefix is not the same name
      {{"same", "same"}, {"same"}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(readers::NamesMissingFrom(c.a, c.b), c.missing);
}

TEST(ReaderNames, TheHidMarkerMayStandAnywhereAndCaseMatters) {
  EXPECT_TRUE(readers::HasHidMarker(std::string("VORTAN HID DEVICE KB 0")));
  EXPECT_TRUE(readers::HasHidMarker(std::string("prefix VORTAN HID DEVICE")));
  EXPECT_TRUE(readers::HasHidMarker(std::wstring(L"xVORTAN HID DEVICEy")));
  EXPECT_FALSE(readers::HasHidMarker(std::string("vortan hid device KB 0")));
  EXPECT_FALSE(readers::HasHidMarker(std::string("VORTAN HID DEVIC")));
  EXPECT_FALSE(readers::HasHidMarker(std::wstring(L"Virtual PCD 00 00")));
}

TEST(InterfacePreset, EverySetHasItsModeByte) {
  struct Case {
    readers::PresentInterfaces present;
    std::uint8_t mode;
  };
  using namespace readers;
  const std::vector<Case> cases{
      {kPresentCcid | kPresentOtp | kPresentU2f, 0x70},
      {kPresentCcid | kPresentOtp, 0x50},
      {kPresentCcid | kPresentU2f, 0x60},
      {kPresentOtp | kPresentU2f, 0x30},
      {kPresentCcid, 0x40},
      {kPresentOtp, 0x10},
      {kPresentU2f, 0x20},
      {0, 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.present));
    EXPECT_EQ(ModeByteOf(c.present), c.mode);
  }
}

TEST(TargetChoice, U2fThenCcidThenOtpTakenFromTheAddedNames) {
  using namespace readers;
  const AddedKinds all{"otp", "u2f", "ccid"};
  const AddedKinds noU2fAdded{"otp", "", "ccid"};
  struct Case {
    PresentInterfaces present;
    AddedKinds added;
    std::string target;
  };
  const std::vector<Case> cases{
      {kPresentCcid | kPresentOtp | kPresentU2f, all, "u2f"},
      {kPresentCcid | kPresentOtp, all, "ccid"},
      {kPresentOtp, all, "otp"},
      {0, all, ""},
      // The U2F kind wins even when no U2F name was added: nothing is chosen.
      {kPresentCcid | kPresentU2f, noU2fAdded, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseTarget(c.present, c.added), c.target);
}

// The virtual key, its smart-card reader and its HID interfaces, as the backends of discovery.
class VirtualKeySeams : public ::testing::Test {
 protected:
  VirtualHidApi::KeyId AddHidKey(std::uint8_t interfaces, bool permissionDenied = false) {
    VirtualHidKeyOptions options;
    options.vendorId = tokvane::build::kMakerVendorId;
    options.interfaces = interfaces;
    options.permissionDenied = permissionDenied;
    return hid->AddKey(key, options);
  }
  void AddCardReader() {
    ASSERT_TRUE(pcsc->AddReader(kCardReader));
    ASSERT_TRUE(pcsc->InsertCard(kCardReader, key));
  }

  std::shared_ptr<VirtualKey> key = std::make_shared<VirtualKey>();
  std::shared_ptr<VirtualPcscApi> pcsc = std::make_shared<VirtualPcscApi>();
  std::shared_ptr<VirtualHidApi> hid = std::make_shared<VirtualHidApi>();
  DeviceBackends backends = MakeDeviceBackends(pcsc, hid);
};

TEST_F(VirtualKeySeams, ListingGivesSmartCardReadersFirstThenHidInterfaces) {
  AddHidKey(kVirtualOtpInterface | kVirtualU2fInterface);
  AddCardReader();
  ASSERT_TRUE(pcsc->AddReader(kEmptyReader));
  const readers::Listing listing = readers::ListAll(backends);
  EXPECT_EQ(listing.names, (Names{kCardReader, kEmptyReader, kKb, kU2f}));
  EXPECT_FALSE(listing.smartCardServiceMissing);
  EXPECT_FALSE(listing.hidPermissionDenied);
  EXPECT_EQ(readers::FixItHint(listing), "");
}

TEST_F(VirtualKeySeams, KindProbesTellKeyboardFromU2fAndAGoneInterfaceCountsAsKeyboard) {
  const auto id = AddHidKey(kVirtualOtpInterface | kVirtualU2fInterface);
  readers::ListAll(backends);  // locks the model on to the key, as every refresh does first
  for (const auto& name : {std::string(kKb), std::string(kU2f)}) {
    const bool isKb = name == kKb;
    SCOPED_TRACE(name);
    EXPECT_EQ(readers::IsOtpHidName(backends, name), isKb);
    EXPECT_EQ(readers::IsU2fHidName(backends, name), !isKb);
    const std::wstring wide(name.begin(), name.end());
    EXPECT_EQ(readers::IsOtpHidName(backends, wide), isKb);
    EXPECT_EQ(readers::IsU2fHidName(backends, wide), !isKb);
  }
  EXPECT_FALSE(readers::IsOtpHidName(backends, std::string(kCardReader)));
  EXPECT_FALSE(readers::IsU2fHidName(backends, std::string(kCardReader)));

  // The handles alone tell: no INIT (or any other report) reaches the key.
  EXPECT_EQ(hid->ReportsReceived(id), 0u);

  // One refresh's probe opens each name once and keeps its answer, even when asked again after
  // the key has gone; a fresh probe sees the key gone.
  readers::KindProbe probe(backends);
  EXPECT_TRUE(probe.IsU2f(kU2f));
  hid->Unplug(id);
  EXPECT_TRUE(probe.IsU2f(kU2f));
  EXPECT_FALSE(probe.IsOtp(kU2f));
  EXPECT_TRUE(readers::IsOtpHidName(backends, std::string(kU2f)));
  EXPECT_FALSE(readers::IsU2fHidName(backends, std::string(kU2f)));
  // Probing leaves nothing open: the key can be opened again at once.
  hid->PlugIn(id);
  VnCosHidInterface transport(backends, L"VORTAN HID DEVICE U2F 1");
  EXPECT_TRUE(transport.Open());
}

TEST_F(VirtualKeySeams, PresentInterfacesCoverTheWholeListAndNeedACardForCcid) {
  ASSERT_TRUE(pcsc->AddReader(kEmptyReader));
  EXPECT_EQ(readers::ComputePresentInterfaces(backends, readers::ListAll(backends).names), 0);
  AddCardReader();
  EXPECT_EQ(readers::ComputePresentInterfaces(backends, readers::ListAll(backends).names), readers::kPresentCcid);
  AddHidKey(kVirtualU2fInterface);
  EXPECT_EQ(readers::ComputePresentInterfaces(backends, readers::ListAll(backends).names), readers::kPresentCcid | readers::kPresentU2f);
  // Nothing of the probing reaches the key's applets.
  EXPECT_TRUE(key->ReceivedApdus().empty());
}

TEST_F(VirtualKeySeams, ProbingAddedNamesRemembersTheLastOfEachKind) {
  AddHidKey(kVirtualOtpInterface | kVirtualU2fInterface);
  AddCardReader();
  ASSERT_TRUE(pcsc->AddReader(kEmptyReader));
  const Names names = readers::ListAll(backends).names;
  const readers::AddedKinds kinds = readers::ProbeAdded(backends, names, 0ms);
  EXPECT_EQ(kinds.lastOtp, kKb);
  EXPECT_EQ(kinds.lastU2f, kU2f);
  EXPECT_EQ(kinds.lastCcid, kCardReader);  // the empty reader does not open
}

TEST_F(VirtualKeySeams, WakeUpSelectsTheAppletThenSendsTheCardOsCommand) {
  AddCardReader();
  readers::WakeUpPcscReader(backends, kCardReader, 0ms);
  EXPECT_EQ(key->ReceivedApdus(), (std::vector<std::vector<std::uint8_t>>{BuildSelectOath(), BuildE3P1Command()}));
  // The reader is free again afterwards.
  CPcscInterface reader(kCardReader, pcsc);
  EXPECT_TRUE(reader.Open());
}

TEST_F(VirtualKeySeams, WakeUpReachesNoHidInterface) {
  AddHidKey(kVirtualOtpInterface | kVirtualU2fInterface);
  readers::ListAll(backends);
  readers::WakeUpPcscReader(backends, kU2f, 0ms);
  readers::WakeUpPcscReader(backends, kKb, 0ms);
  EXPECT_TRUE(key->ReceivedApdus().empty());
}

TEST_F(VirtualKeySeams, AKeyWhoseNodeMayNotBeOpenedIsNamedInTheHint) {
  AddHidKey(kVirtualOtpInterface | kVirtualU2fInterface, true);
  const readers::Listing listing = readers::ListAll(backends);
  EXPECT_TRUE(listing.names.empty());
  EXPECT_TRUE(listing.hidPermissionDenied);
  const std::string hint = readers::FixItHint(listing);
  EXPECT_NE(hint.find("udev rules"), std::string::npos);
  EXPECT_NE(hint.find("docs/hid.md"), std::string::npos);
  EXPECT_EQ(hint.find("pcscd"), std::string::npos);
}

TEST_F(VirtualKeySeams, TransportFollowsTheMarker) {
  const readers::Transport hidTransport = readers::CreateTransport(backends, L"VORTAN HID DEVICE U2F 1");
  ASSERT_NE(hidTransport.device, nullptr);
  EXPECT_TRUE(hidTransport.isHid);
  EXPECT_NE(dynamic_cast<VnCosHidInterface*>(hidTransport.device.get()), nullptr);
  EXPECT_EQ(hidTransport.device->GetName(), L"VORTAN HID DEVICE U2F 1");

  const readers::Transport cardTransport = readers::CreateTransport(backends, L"Key CCID 00 00");
  ASSERT_NE(cardTransport.device, nullptr);
  EXPECT_FALSE(cardTransport.isHid);
  EXPECT_NE(dynamic_cast<CPcscInterface*>(cardTransport.device.get()), nullptr);
  EXPECT_EQ(cardTransport.device->GetName(), L"Key CCID 00 00");
}

// The service's answers when it is not running, and one that runs without readers.
TEST(SmartCardService, MissingServiceIsToldApartFromNoReaders) {
  struct Case {
    const char* what;
    LONG establish;
    LONG list;
    bool missing;
  };
  const std::vector<Case> cases{
      {"no service at the context", SCARD_E_NO_SERVICE, SCARD_S_SUCCESS, true},
      {"no service at the listing", SCARD_S_SUCCESS, SCARD_E_NO_SERVICE, true},
      {"running without readers", SCARD_S_SUCCESS, SCARD_E_NO_READERS_AVAILABLE, false},
      {"another failure", SCARD_E_NO_MEMORY, SCARD_S_SUCCESS, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto scripted = std::make_shared<ScriptedPcscApi>();
    scripted->establishResult = c.establish;
    scripted->listResult = c.list;
    const readers::Listing listing = readers::ListAll(MakeDeviceBackends(scripted, std::make_shared<VirtualHidApi>()));
    EXPECT_TRUE(listing.names.empty());
    EXPECT_EQ(listing.smartCardServiceMissing, c.missing);
    EXPECT_EQ(readers::FixItHint(listing).find("pcscd") != std::string::npos, c.missing);
    EXPECT_TRUE(scripted->Balanced());
  }
}

}  // namespace
