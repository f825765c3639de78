// Discovery of the configured keys' HID interfaces over virtual interfaces: the pseudo-reader
// names, the model lock-on, the lookup of a name, and the record of nodes the user may not open.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>

#include "device/HidDiscovery.h"
#include "device/KeyModels.h"
#include "device/VidPidConfig.h"
#include "keysim/VirtualHidApi.h"
#include "tests/support/TestKeys.h"

namespace {

constexpr std::uint16_t kVid = 0x1209;
constexpr std::uint16_t kOtherVendor = 0x05AC;

VirtualHidKeyOptions Key(std::uint16_t vid, std::uint16_t pid, std::uint8_t interfaces) {
  VirtualHidKeyOptions options;
  options.vendorId = vid;
  options.productId = pid;
  options.interfaces = interfaces;
  return options;
}

constexpr std::uint8_t kKbAndU2f = kVirtualOtpInterface | kVirtualU2fInterface;

class HidDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    api = std::make_shared<VirtualHidApi>();
    models = std::make_shared<KeyModels>(std::vector<VidPidEntry>{VidPidEntry::Make(kVid, 0)});
  }

  VirtualHidApi::KeyId AddKey(VirtualHidKeyOptions options) { return api->AddKey(std::make_shared<test_keys::EchoCard>(), std::move(options)); }

  std::vector<std::wstring> Enumerate() {
    std::vector<std::wstring> names;
    const int count = EnumerateHidDevices(*api, *models, names);
    EXPECT_EQ(count, static_cast<int>(names.size()));
    return names;
  }

  // Looks the name up; on success checks the handle pair and closes it again.
  bool Find(const std::wstring& name, bool* twoHandles = nullptr) {
    HidHandle write = kInvalidHidHandle;
    HidHandle read = kInvalidHidHandle;
    if (!FindHidDeviceByName(*api, *models, name, write, read)) return false;
    EXPECT_NE(write, kInvalidHidHandle);
    EXPECT_NE(read, kInvalidHidHandle);
    if (twoHandles != nullptr) *twoHandles = write != read;
    api->Close(write);
    if (read != write) api->Close(read);
    return true;
  }

  std::uint16_t LockedPid() const { return models->CurrentModel().Pid(); }

  std::shared_ptr<VirtualHidApi> api;
  std::shared_ptr<KeyModels> models;
};

TEST_F(HidDiscoveryTest, AKeyboardAndAFidoInterfaceAreNamedByKindAndNumberedInWalkOrder) {
  AddKey(Key(kVid, 0x0042, kKbAndU2f));
  EXPECT_EQ(Enumerate(), (std::vector<std::wstring>{L"VORTAN HID DEVICE KB 0", L"VORTAN HID DEVICE U2F 1"}));
  EXPECT_EQ(models->CurrentModel(), VidPidEntry::Make(kVid, 0x0042));

  bool twoHandles = true;
  EXPECT_TRUE(Find(L"VORTAN HID DEVICE KB 0", &twoHandles));
  EXPECT_FALSE(twoHandles) << "a keyboard interface is driven through its one handle";
  EXPECT_TRUE(Find(L"VORTAN HID DEVICE U2F 1", &twoHandles));
  EXPECT_TRUE(twoHandles);
  EXPECT_FALSE(Find(L"VORTAN HID DEVICE U2F 0"));
  EXPECT_FALSE(Find(L"VORTAN HID DEVICE KB 1"));
  EXPECT_FALSE(Find(L"vortan hid device KB 0"));
  EXPECT_FALSE(Find(L"VORTAN HID DEVICE KB 0 "));
}

TEST_F(HidDiscoveryTest, NamesAreAppendedAndEveryEnumerationCountsFromZero) {
  AddKey(Key(kVid, 1, kVirtualU2fInterface));
  std::vector<std::wstring> names{L"Virtual PCD 00 00"};
  EXPECT_EQ(EnumerateHidDevices(*api, *models, names), 1);
  EXPECT_EQ(EnumerateHidDevices(*api, *models, names), 1);
  EXPECT_EQ(names, (std::vector<std::wstring>{L"Virtual PCD 00 00", L"VORTAN HID DEVICE U2F 0", L"VORTAN HID DEVICE U2F 0"}));
  EXPECT_FALSE(IsHidReaderName(names[0]));
  EXPECT_TRUE(IsHidReaderName(names[1]));
}

struct LockOnCase {
  const char* name;
  std::vector<VidPidEntry> configured;
  std::vector<VirtualHidKeyOptions> keys;  // in walk order
  std::vector<std::wstring> expected;
  std::uint16_t lockedPid;
};

TEST_F(HidDiscoveryTest, TheFirstInterfaceOfAConfiguredVendorChoosesTheModel) {
  const std::vector<LockOnCase> cases{
      {"two models: only the first met is listed",
       {VidPidEntry::Make(kVid, 0)},
       {Key(kVid, 1, kKbAndU2f), Key(kVid, 2, kKbAndU2f)},
       {L"VORTAN HID DEVICE KB 0", L"VORTAN HID DEVICE U2F 1"},
       1},
      {"the other model when it comes first",
       {VidPidEntry::Make(kVid, 0)},
       {Key(kVid, 2, kVirtualU2fInterface), Key(kVid, 1, kKbAndU2f)},
       {L"VORTAN HID DEVICE U2F 0"},
       2},
      {"a PID differing from every configured one is accepted when first",
       {VidPidEntry::Make(kVid, 0x9999)},
       {Key(kVid, 1, kVirtualOtpInterface)},
       {L"VORTAN HID DEVICE KB 0"},
       1},
      {"a configured PID does not pass over the first model met",
       {VidPidEntry::Make(kVid, 2)},
       {Key(kVid, 1, kVirtualOtpInterface), Key(kVid, 2, kVirtualU2fInterface)},
       {L"VORTAN HID DEVICE KB 0"},
       1},
      {"two keys of one model are numbered together",
       {VidPidEntry::Make(kVid, 0)},
       {Key(kVid, 1, kVirtualU2fInterface), Key(kOtherVendor, 1, kKbAndU2f), Key(kVid, 1, kKbAndU2f)},
       {L"VORTAN HID DEVICE U2F 0", L"VORTAN HID DEVICE KB 1", L"VORTAN HID DEVICE U2F 2"},
       1},
      {"other vendors come after any entry",
       {VidPidEntry::Make(0x1111, 0), VidPidEntry::Make(kVid, 0)},
       {Key(kOtherVendor, 7, kKbAndU2f), Key(kVid, 3, kVirtualU2fInterface)},
       {L"VORTAN HID DEVICE U2F 0"},
       3},
  };
  for (const LockOnCase& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    models->SetEntries(c.configured);
    for (const auto& key : c.keys) AddKey(key);
    EXPECT_EQ(Enumerate(), c.expected);
    EXPECT_EQ(models->CurrentModel(), VidPidEntry::Make(kVid, c.lockedPid));
    for (const std::wstring& name : c.expected) EXPECT_TRUE(Find(name));
  }
}

TEST_F(HidDiscoveryTest, NoInterfaceIsListedWithoutAConfiguredVendorAndTheModelStaysAsItWas) {
  AddKey(Key(kOtherVendor, 1, kKbAndU2f));
  models->LockOn(kVid, 0x0077);
  EXPECT_TRUE(Enumerate().empty());
  models->SetEntries({});
  AddKey(Key(kVid, 1, kKbAndU2f));
  EXPECT_TRUE(Enumerate().empty());
  EXPECT_EQ(LockedPid(), 0x0077);
}

TEST_F(HidDiscoveryTest, LookingUpTheSecondNameAfterTheFirstInterfaceWasUnpluggedFails) {
  const auto keyboardOnly = AddKey(Key(kVid, 1, kVirtualOtpInterface));
  AddKey(Key(kVid, 1, kVirtualU2fInterface));
  EXPECT_EQ(Enumerate(), (std::vector<std::wstring>{L"VORTAN HID DEVICE KB 0", L"VORTAN HID DEVICE U2F 1"}));
  api->Unplug(keyboardOnly);
  EXPECT_FALSE(Find(L"VORTAN HID DEVICE U2F 1"));
  EXPECT_TRUE(Find(L"VORTAN HID DEVICE U2F 0"));
}

TEST_F(HidDiscoveryTest, AKeyPluggedInAgainWithAnotherInterfaceSetIsListedByItsNewSet) {
  const auto key = AddKey(Key(kVid, 1, kKbAndU2f));
  EXPECT_EQ(Enumerate().size(), 2u);
  api->SetInterfaces(key, kVirtualU2fInterface);
  api->Unplug(key);
  EXPECT_TRUE(Enumerate().empty());
  api->PlugIn(key);
  EXPECT_EQ(Enumerate(), std::vector<std::wstring>{L"VORTAN HID DEVICE U2F 0"});
}

TEST_F(HidDiscoveryTest, NodesOfConfiguredKeysThatMayNotBeOpenedAreRecordedAndSkipped) {
  VirtualHidKeyOptions locked = Key(kVid, 1, kKbAndU2f);
  locked.permissionDenied = true;
  VirtualHidKeyOptions foreignLocked = Key(kOtherVendor, 1, kVirtualU2fInterface);
  foreignLocked.permissionDenied = true;
  AddKey(foreignLocked);
  AddKey(locked);
  AddKey(Key(kVid, 2, kVirtualU2fInterface));

  // The locked key does not choose the model: the first key that can be opened does.
  EXPECT_EQ(Enumerate(), std::vector<std::wstring>{L"VORTAN HID DEVICE U2F 0"});
  EXPECT_EQ(LockedPid(), 2);
  EXPECT_TRUE(models->PermissionDenied());
  const std::vector<std::string> denied = models->PermissionDeniedPaths();
  EXPECT_EQ(denied.size(), 2u) << "the configured key's two nodes, not the other vendor's";
  const std::vector<HidInterfaceInfo> all = api->Enumerate();
  for (const std::string& path : denied) {
    auto info = std::find_if(all.begin(), all.end(), [&](const HidInterfaceInfo& i) { return i.path == path; });
    ASSERT_NE(info, all.end());
    EXPECT_EQ(info->vendorId, kVid);
    EXPECT_EQ(info->productId, 1);
  }

  SetUp();
  AddKey(Key(kVid, 1, kKbAndU2f));
  EXPECT_EQ(Enumerate().size(), 2u);
  EXPECT_FALSE(models->PermissionDenied());

  // With products listed, the rules grant only those: another product of the shared vendor ID
  // that refuses us is no reason to point the operator at the rules.
  SetUp();
  models->SetEntries({VidPidEntry::Make(kVid, 1)});
  VirtualHidKeyOptions unrelated = Key(kVid, 7, kVirtualU2fInterface);
  unrelated.permissionDenied = true;
  AddKey(unrelated);
  AddKey(Key(kVid, 1, kVirtualU2fInterface));
  EXPECT_EQ(Enumerate().size(), 1u);
  EXPECT_FALSE(models->PermissionDenied());
  AddKey(locked);
  Enumerate();
  EXPECT_TRUE(models->PermissionDenied()) << "a listed product that refuses us still counts";
}

TEST_F(HidDiscoveryTest, TwoSetsOfKeyModelsKeepTheirOwnListLockOnAndDeniedPaths) {
  VirtualHidKeyOptions locked = Key(kVid, 1, kVirtualU2fInterface);
  locked.permissionDenied = true;
  AddKey(locked);
  AddKey(Key(kVid, 2, kVirtualU2fInterface));
  AddKey(Key(kOtherVendor, 3, kVirtualU2fInterface));
  KeyModels other({VidPidEntry::Make(kOtherVendor, 0)});

  EXPECT_EQ(Enumerate().size(), 1u);
  std::vector<std::wstring> names;
  EXPECT_EQ(EnumerateHidDevices(*api, other, names), 1);
  EXPECT_EQ(models->CurrentModel(), VidPidEntry::Make(kVid, 2));
  EXPECT_EQ(other.CurrentModel(), VidPidEntry::Make(kOtherVendor, 3));
  EXPECT_TRUE(models->PermissionDenied());
  EXPECT_FALSE(other.PermissionDenied()) << "the other vendor's walk met no node it may not open";
  EXPECT_EQ(models->Entries(), std::vector<VidPidEntry>{VidPidEntry::Make(kVid, 0)});
}

// The hidraw implementation on the machine the tests run on: there may be no HID device at all.
// It only lists (nothing is opened): a key plugged into the machine is never touched.
TEST(HidrawApiTest, EnumeratesEachPathOnceAndFailsCleanlyOnNodesThatAreNotThere) {
  const std::shared_ptr<HidApi> system = SystemHidApi();
  const std::vector<HidInterfaceInfo> interfaces = system->Enumerate();
  std::set<std::string> paths;
  for (const HidInterfaceInfo& info : interfaces) EXPECT_TRUE(paths.insert(info.path).second) << info.path;

  for (const char* path : {"/dev/hidraw-not-there", "/nonexistent/dir/hidraw0"}) {
    EXPECT_EQ(system->OpenForWrite(path), kInvalidHidHandle);
    EXPECT_EQ(system->LastOpenFailure(), HidOpenFailure::Other);
    EXPECT_EQ(system->OpenForRead(path), kInvalidHidHandle);
  }
  HidReportLengths lengths;
  std::uint8_t report[65] = {};
  EXPECT_FALSE(system->GetReportLengths(12345, lengths));
  EXPECT_EQ(system->ReadTimeout(12345, report, sizeof report, 0), -1);
  EXPECT_EQ(system->Write(12345, report, sizeof report), -1);
  EXPECT_FALSE(system->Flush(12345));
  system->Close(12345);
}

}  // namespace
