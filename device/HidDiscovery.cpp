#include "device/HidDiscovery.h"

#include <algorithm>

#include "device/VidPidConfig.h"

namespace {

// Both handles of one interface. The read open fails for a keyboard collection: such an
// interface is driven through feature reports on its one handle ("KB"); any other gets a
// reading handle too and speaks U2FHID ("U2F").
struct OpenedInterface {
  UniqueHidHandle write;
  UniqueHidHandle read;

  bool IsKeyboard() const { return !read.IsValid(); }
  std::wstring Kind() const { return IsKeyboard() ? L"KB" : L"U2F"; }
};

// The handles belong to `api`, which outlives the walk; the aliasing pointer owns nothing.
std::shared_ptr<HidApi> Borrow(HidApi& api) { return std::shared_ptr<HidApi>(std::shared_ptr<HidApi>{}, &api); }

bool OpenInterface(HidApi& api, const std::string& path, OpenedInterface& opened, HidOpenFailure& failure) {
  opened.write = UniqueHidHandle(Borrow(api), api.OpenForWrite(path));
  if (!opened.write.IsValid()) {
    failure = api.LastOpenFailure();
    return false;
  }
  opened.read = UniqueHidHandle(Borrow(api), api.OpenForRead(path));
  failure = HidOpenFailure::None;
  return true;
}

bool IsConfiguredVendor(const std::vector<VidPidEntry>& list, std::uint16_t vid) {
  return std::any_of(list.begin(), list.end(), [vid](VidPidEntry entry) { return entry.Vid() == vid; });
}

// A product the udev rules grant access to: a listed pair, or any product of an entry without one.
// Another device of a shared vendor ID that refuses us is none of the operator's business.
bool IsConfiguredProduct(const std::vector<VidPidEntry>& list, std::uint16_t vid, std::uint16_t pid) {
  return std::any_of(list.begin(), list.end(), [vid, pid](VidPidEntry entry) {
    return entry.Vid() == vid && (entry.Pid() == 0 || entry.Pid() == pid);
  });
}

}  // namespace

std::wstring MakeHidReaderName(const std::wstring& kind, int number) {
  return std::wstring(kHidReaderNameMarker) + L" " + kind + L" " + std::to_wstring(number);
}

bool IsHidReaderName(const std::wstring& readerName) { return readerName.find(kHidReaderNameMarker) != std::wstring::npos; }

int EnumerateHidDevices(HidApi& api, KeyModels& models, std::vector<std::wstring>& names) {
  const std::vector<VidPidEntry> list = models.Entries();
  bool modelChosen = false;
  std::uint16_t modelVid = 0;
  std::uint16_t modelPid = 0;
  int count = 0;
  std::vector<std::string> denied;

  for (const HidInterfaceInfo& info : api.Enumerate()) {
    if (modelChosen) {
      if (info.vendorId != modelVid || info.productId != modelPid) continue;
    } else if (!IsConfiguredVendor(list, info.vendorId)) {
      // Only the vendor decides the first match: a configured PID does not narrow it.
      continue;
    }
    OpenedInterface opened;
    HidOpenFailure failure = HidOpenFailure::None;
    if (!OpenInterface(api, info.path, opened, failure)) {
      if (failure == HidOpenFailure::PermissionDenied && IsConfiguredProduct(list, info.vendorId, info.productId)) {
        denied.push_back(info.path);
      }
      continue;
    }
    if (!modelChosen) {
      modelChosen = true;
      modelVid = info.vendorId;
      modelPid = info.productId;
      models.LockOn(modelVid, modelPid);
    }
    names.push_back(MakeHidReaderName(opened.Kind(), count++));
  }

  models.SetPermissionDeniedPaths(std::move(denied));
  return count;
}

bool FindHidDeviceByName(HidApi& api, const KeyModels& models, const std::wstring& name, HidHandle& writeHandle,
                         HidHandle& readHandle, HidOpenFailure* whyNotFound) {
  const VidPidEntry model = models.CurrentModel();
  const std::uint16_t vid = model.Vid();
  const std::uint16_t pid = model.Pid();
  int count = 0;
  if (whyNotFound != nullptr) *whyNotFound = HidOpenFailure::None;
  for (const HidInterfaceInfo& info : api.Enumerate()) {
    if (info.vendorId != vid || info.productId != pid) continue;
    OpenedInterface opened;
    HidOpenFailure failure = HidOpenFailure::None;
    if (!OpenInterface(api, info.path, opened, failure)) {
      if (whyNotFound != nullptr && failure == HidOpenFailure::PermissionDenied) *whyNotFound = failure;
      continue;
    }
    if (MakeHidReaderName(opened.Kind(), count++) != name) continue;
    writeHandle = opened.write.Release();
    readHandle = opened.IsKeyboard() ? writeHandle : opened.read.Release();
    return true;
  }
  return false;
}
