#pragma once
// The seam between the HID transport and the operating system's HID interfaces. The default
// calls hidapi (hidraw); unit tests install scripted fakes, the demo mode virtual interfaces.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
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

class HidApi {
 public:
  virtual ~HidApi() = default;

  // Every present HID interface, in the system's order, each path once.
  virtual std::vector<HidInterfaceInfo> Enumerate() = 0;
  virtual HidHandle OpenForWrite(const std::string& path) = 0;
  // Keyboard and mouse collections refuse reading (kInvalidHidHandle), as the key's OTP
  // keyboard interface does; any other interface opens a second, reading handle.
  virtual HidHandle OpenForRead(const std::string& path) = 0;
  // Byte 0 of every report is the report ID 00.
  virtual bool SendFeatureReport(HidHandle handle, const std::uint8_t* report, std::size_t length) = 0;
  // Bytes read (report ID included), or -1.
  virtual int GetFeatureReport(HidHandle handle, std::uint8_t* report, std::size_t length) = 0;
  // Bytes written, or -1.
  virtual int Write(HidHandle handle, const std::uint8_t* report, std::size_t length) = 0;
  // One input report with the report-ID byte 00 in front; 0 on time-out, -1 on error.
  virtual int ReadTimeout(HidHandle handle, std::uint8_t* report, std::size_t length, int timeoutMs) = 0;
  // Drops every input report already queued.
  virtual bool Flush(HidHandle handle) = 0;
  virtual bool GetReportLengths(HidHandle handle, HidReportLengths& lengths) = 0;
  virtual void Close(HidHandle handle) = 0;
};

std::shared_ptr<HidApi> SystemHidApi();
std::shared_ptr<HidApi> ActiveHidApi();
// Installs `api` process-wide; nullptr restores the hidapi implementation.
void InstallHidApi(std::shared_ptr<HidApi> api);
