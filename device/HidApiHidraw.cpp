// The HidApi seam over hidapi's hidraw backend.
#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <string>

#include "core/Conversions.h"
#include "device/HidApi.h"
#include "device/HidReportDescriptor.h"

namespace {

// Reports of a FIDO interface whose descriptor cannot be read: 64 bytes behind the report ID.
constexpr std::uint16_t kDefaultFidoReportLength = 65;
// Enough to empty any hidraw queue (the kernel keeps 64 reports per reader); a device that keeps
// filling it faster than it drains is treated as a failed flush.
constexpr int kMaxFlushReads = 256;
constexpr std::size_t kMaxDescriptorSize = HID_MAX_DESCRIPTOR_SIZE;

thread_local HidOpenFailure lastOpenFailure = HidOpenFailure::None;

std::string SysfsDescriptorPath(const std::string& devicePath) {
  const auto slash = devicePath.find_last_of('/');
  const std::string node = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
  if (node.rfind("hidraw", 0) != 0) return {};
  return "/sys/class/hidraw/" + node + "/device/report_descriptor";
}

std::vector<std::uint8_t> ReadDescriptorFromSysfs(const std::string& devicePath) {
  const std::string sysfsPath = SysfsDescriptorPath(devicePath);
  if (sysfsPath.empty()) return {};
  std::ifstream in(sysfsPath, std::ios::binary);
  if (!in) return {};
  std::vector<std::uint8_t> bytes;
  char c = 0;
  while (bytes.size() < kMaxDescriptorSize && in.get(c)) bytes.push_back(static_cast<std::uint8_t>(c));
  return bytes;
}

std::vector<std::uint8_t> ReadDescriptorFromNode(const std::string& devicePath) {
  const int fd = ::open(devicePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  std::vector<std::uint8_t> bytes;
  int size = 0;
  if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) == 0 && size > 0 && static_cast<std::size_t>(size) <= kMaxDescriptorSize) {
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<std::uint32_t>(size);
    if (::ioctl(fd, HIDIOCGRDESC, &descriptor) == 0) bytes.assign(descriptor.value, descriptor.value + size);
  }
  ::close(fd);
  return bytes;
}

// The descriptor as sysfs shows it, or through the node itself; false when neither works.
bool ReadDescriptorSummary(const std::string& devicePath, HidDescriptorSummary& summary) {
  std::vector<std::uint8_t> bytes = ReadDescriptorFromSysfs(devicePath);
  if (bytes.empty()) bytes = ReadDescriptorFromNode(devicePath);
  if (bytes.empty()) return false;
  return ParseHidReportDescriptor(bytes.data(), bytes.size(), summary);
}

HidOpenFailure ProbeOpenFailure(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
  if (fd >= 0) {
    ::close(fd);
    return HidOpenFailure::Other;
  }
  return (errno == EACCES || errno == EPERM) ? HidOpenFailure::PermissionDenied : HidOpenFailure::Other;
}

struct OpenDevice {
  hid_device* device = nullptr;
  HidReportLengths lengths;
  bool usesReportIds = false;
  // hidapi's words for the last failed call on the device, or the system's (errno, set by the
  // write, read or ioctl underneath) where hidapi has none.
  std::mutex errorMutex;
  std::string lastError;

  // Keeps the reason of a failed call (`result` < 0) and hands `result` back.
  int Noted(int result) {
    if (result < 0) {
      const int error = errno;
      const wchar_t* hidapiText = hid_error(device);
      std::string text = hidapiText != nullptr && *hidapiText != L'\0' ? WideToAnsi(hidapiText) : std::string();
      if (text.empty() && error != 0) text = std::strerror(error);
      std::lock_guard lock(errorMutex);
      lastError = std::move(text);
    }
    return result;
  }

  OpenDevice() = default;
  OpenDevice(const OpenDevice&) = delete;
  OpenDevice& operator=(const OpenDevice&) = delete;
  ~OpenDevice() {
    if (device != nullptr) hid_close(device);
  }
};

class HidrawApi final : public HidApi {
 public:
  HidrawApi() = default;
  ~HidrawApi() override {
    {
      std::lock_guard lock(mutex_);
      devices_.clear();
    }
    if (initialised_) hid_exit();
  }

  std::vector<HidInterfaceInfo> Enumerate() override {
    std::vector<HidInterfaceInfo> result;
    if (!Initialised()) return result;
    hid_device_info* list = hid_enumerate(0, 0);
    // hidapi lists a path once per top-level collection; the path is what gets opened, so it
    // appears once, described by its keyboard or mouse collection when it has one.
    for (const hid_device_info* info = list; info != nullptr; info = info->next) {
      if (info->path == nullptr) continue;
      auto same = std::find_if(result.begin(), result.end(), [&](const HidInterfaceInfo& known) { return known.path == info->path; });
      if (same != result.end()) {
        if (IsWriteOnlyCollection(info->usage_page, info->usage)) {
          same->usagePage = info->usage_page;
          same->usage = info->usage;
        }
        continue;
      }
      result.push_back({info->path, info->vendor_id, info->product_id, info->usage_page, info->usage});
    }
    hid_free_enumeration(list);
    std::lock_guard lock(mutex_);
    for (const auto& info : result) enumeratedUsage_[info.path] = {info.usagePage, info.usage};
    return result;
  }

  HidHandle OpenForWrite(const std::string& path) override { return Open(path); }

  HidHandle OpenForRead(const std::string& path) override {
    HidDescriptorSummary summary;
    bool writeOnly = false;
    if (ReadDescriptorSummary(path, summary)) {
      writeOnly = HasWriteOnlyCollection(summary);
    } else {
      std::lock_guard lock(mutex_);
      auto known = enumeratedUsage_.find(path);
      writeOnly = known != enumeratedUsage_.end() && IsWriteOnlyCollection(known->second.usagePage, known->second.usage);
    }
    if (writeOnly) {
      lastOpenFailure = HidOpenFailure::Refused;
      return kInvalidHidHandle;
    }
    return Open(path);
  }

  HidOpenFailure LastOpenFailure() const override { return lastOpenFailure; }

  bool SendFeatureReport(HidHandle handle, const std::uint8_t* report, std::size_t length) override {
    auto device = Find(handle);
    if (!device || report == nullptr) return false;
    errno = 0;
    return device->Noted(hid_send_feature_report(device->device, report, length)) >= 0;
  }

  int GetFeatureReport(HidHandle handle, std::uint8_t* report, std::size_t length) override {
    auto device = Find(handle);
    if (!device || report == nullptr || length == 0) return -1;
    errno = 0;
    return device->Noted(hid_get_feature_report(device->device, report, length));
  }

  int Write(HidHandle handle, const std::uint8_t* report, std::size_t length) override {
    auto device = Find(handle);
    if (!device || report == nullptr) return -1;
    errno = 0;
    return device->Noted(hid_write(device->device, report, length));
  }

  int ReadTimeout(HidHandle handle, std::uint8_t* report, std::size_t length, int timeoutMs) override {
    auto device = Find(handle);
    if (!device || report == nullptr || length < 2) return -1;
    // hidapi waits for ever on a negative time-out; no caller may get that.
    timeoutMs = std::max(timeoutMs, 0);
    errno = 0;
    if (device->usesReportIds) return device->Noted(hid_read_timeout(device->device, report, length, timeoutMs));
    // Unnumbered input reports arrive without the report-ID byte: put the 00 in front so that the
    // framing code sees the same offsets as for output reports.
    report[0] = 0;
    const int read = device->Noted(hid_read_timeout(device->device, report + 1, length - 1, timeoutMs));
    return read > 0 ? read + 1 : read;
  }

  bool Flush(HidHandle handle) override {
    auto device = Find(handle);
    if (!device) return false;
    std::uint8_t scratch[1024];
    for (int i = 0; i < kMaxFlushReads; ++i) {
      errno = 0;
      const int read = device->Noted(hid_read_timeout(device->device, scratch, sizeof scratch, 0));
      if (read == 0) return true;
      if (read < 0) return false;
    }
    return false;
  }

  bool GetReportLengths(HidHandle handle, HidReportLengths& lengths) override {
    auto device = Find(handle);
    if (!device) return false;
    lengths = device->lengths;
    return true;
  }

  std::string LastErrorText(HidHandle handle) override {
    auto device = Find(handle);
    if (!device) return {};
    std::lock_guard lock(device->errorMutex);
    return device->lastError;
  }

  void Close(HidHandle handle) override {
    std::shared_ptr<OpenDevice> closing;
    {
      std::lock_guard lock(mutex_);
      auto found = devices_.find(handle);
      if (found == devices_.end()) return;
      closing = std::move(found->second);
      devices_.erase(found);
    }
    // `closing` closes the device here, or after a read still running on another thread.
  }

 private:
  // hidapi is set up (and its library opened) with the first listing or open, not with the
  // program: the window lists the readers only after its first paint.
  bool Initialised() {
    std::call_once(initOnce_, [this] { initialised_ = hid_init() == 0; });
    return initialised_;
  }

  HidHandle Open(const std::string& path) {
    if (!Initialised()) {
      lastOpenFailure = HidOpenFailure::Other;
      return kInvalidHidHandle;
    }
    auto device = std::make_shared<OpenDevice>();
    device->device = hid_open_path(path.c_str());
    if (device->device == nullptr) {
      lastOpenFailure = ProbeOpenFailure(path);
      return kInvalidHidHandle;
    }
    HidDescriptorSummary summary;
    if (ReadDescriptorSummary(path, summary)) {
      device->lengths = summary.lengths;
      device->usesReportIds = summary.usesReportIds;
    } else {
      device->lengths = {kDefaultFidoReportLength, kDefaultFidoReportLength, 0};
    }
    lastOpenFailure = HidOpenFailure::None;
    std::lock_guard lock(mutex_);
    const HidHandle handle = nextHandle_++;
    devices_.emplace(handle, std::move(device));
    return handle;
  }

  std::shared_ptr<OpenDevice> Find(HidHandle handle) {
    std::lock_guard lock(mutex_);
    auto found = devices_.find(handle);
    return found == devices_.end() ? nullptr : found->second;
  }

  std::once_flag initOnce_;
  bool initialised_ = false;
  std::mutex mutex_;
  HidHandle nextHandle_ = 1;
  std::map<HidHandle, std::shared_ptr<OpenDevice>> devices_;
  std::map<std::string, HidCollectionUsage> enumeratedUsage_;
};

}  // namespace

std::shared_ptr<HidApi> SystemHidApi() {
  static const std::shared_ptr<HidApi> system = std::make_shared<HidrawApi>();
  return system;
}
