#pragma once
// The seam between the HID transport and the operating system's HID interfaces. The default
// calls hidapi (hidraw); unit tests hand in scripted fakes, the demo mode virtual interfaces
// (see DeviceBackends).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct HidInterfaceInfo {
  std::string path;
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint16_t usagePage = 0;
  std::uint16_t usage = 0;
};

// Report lengths as the key declares them, each counting the report-ID byte in front
// (65 for a 64-byte FIDO report).
struct HidReportLengths {
  std::uint16_t input = 0;
  std::uint16_t output = 0;
  std::uint16_t feature = 0;
};

using HidHandle = std::intptr_t;
inline constexpr HidHandle kInvalidHidHandle = -1;

// Why an open failed. PermissionDenied is the case the reader panel turns into a hint about the
// udev rules: the node is there, but the logged-in user may not open it.
enum class HidOpenFailure {
  None,
  PermissionDenied,
  Refused,  // the collection does not allow reading (keyboard, mouse)
  Other,
};

// Top-level collections that the system keeps for itself: their interfaces open for writing only.
inline bool IsWriteOnlyCollection(std::uint16_t usagePage, std::uint16_t usage) {
  constexpr std::uint16_t kGenericDesktop = 0x01;
  constexpr std::uint16_t kMouse = 0x02;
  constexpr std::uint16_t kKeyboard = 0x06;
  return usagePage == kGenericDesktop && (usage == kMouse || usage == kKeyboard);
}

class HidApi {
 public:
  virtual ~HidApi() = default;

  // Every present HID interface, in the system's order, each path once.
  virtual std::vector<HidInterfaceInfo> Enumerate() = 0;
  virtual HidHandle OpenForWrite(const std::string& path) = 0;
  // Keyboard and mouse collections refuse reading (kInvalidHidHandle), as the key's OTP
  // keyboard interface does; any other interface opens a second, reading handle.
  virtual HidHandle OpenForRead(const std::string& path) = 0;
  // Why the calling thread's last failed OpenForWrite / OpenForRead failed.
  virtual HidOpenFailure LastOpenFailure() const { return HidOpenFailure::Other; }
  // Byte 0 of every report is the report ID 00.
  virtual bool SendFeatureReport(HidHandle handle, const std::uint8_t* report, std::size_t length) = 0;
  // Bytes read (report ID included), or -1.
  virtual int GetFeatureReport(HidHandle handle, std::uint8_t* report, std::size_t length) = 0;
  // Bytes written, or -1.
  virtual int Write(HidHandle handle, const std::uint8_t* report, std::size_t length) = 0;
  // One input report with the report-ID byte 00 in front; 0 on time-out, -1 on error.
  virtual int ReadTimeout(HidHandle handle, std::uint8_t* report, std::size_t length, int timeoutMs) = 0;
  // Drops every input report already queued; false when the queue could not be emptied.
  virtual bool Flush(HidHandle handle) = 0;
  virtual bool GetReportLengths(HidHandle handle, HidReportLengths& lengths) = 0;
  virtual void Close(HidHandle handle) = 0;
  // The HID library's own words for the last failure on `handle`; empty when it has none.
  virtual std::string LastErrorText(HidHandle handle) {
    (void)handle;
    return {};
  }
};

// Owns one handle of one HidApi and closes it when it goes.
class UniqueHidHandle {
 public:
  UniqueHidHandle() = default;
  UniqueHidHandle(std::shared_ptr<HidApi> api, HidHandle handle) : api_(std::move(api)), handle_(handle) {}
  UniqueHidHandle(const UniqueHidHandle&) = delete;
  UniqueHidHandle& operator=(const UniqueHidHandle&) = delete;
  UniqueHidHandle(UniqueHidHandle&& other) noexcept
      : api_(std::move(other.api_)), handle_(std::exchange(other.handle_, kInvalidHidHandle)) {}
  UniqueHidHandle& operator=(UniqueHidHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      api_ = std::move(other.api_);
      handle_ = std::exchange(other.handle_, kInvalidHidHandle);
    }
    return *this;
  }
  ~UniqueHidHandle() { Reset(); }

  HidHandle Get() const { return handle_; }
  bool IsValid() const { return handle_ != kInvalidHidHandle; }
  // Gives up ownership without closing.
  HidHandle Release() { return std::exchange(handle_, kInvalidHidHandle); }
  void Reset() {
    if (handle_ != kInvalidHidHandle && api_) api_->Close(handle_);
    handle_ = kInvalidHidHandle;
  }

 private:
  std::shared_ptr<HidApi> api_;
  HidHandle handle_ = kInvalidHidHandle;
};

// The hidapi implementation.
std::shared_ptr<HidApi> SystemHidApi();
