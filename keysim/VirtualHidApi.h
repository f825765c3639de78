#pragma once
// Virtual HID interfaces of virtual keys behind the HidApi seam: a "KB" interface driven through
// feature reports and a "U2F" interface speaking U2FHID, each key with its own VID/PID, plugged in
// and out at will, and hostile variants for tests. Thread-safe: the keys answer on a worker thread
// while transports read and tests plug and unplug from theirs.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/HidApi.h"
#include "keysim/VirtualCard.h"

// The interface bits of a key's interface mode.
inline constexpr std::uint8_t kVirtualOtpInterface = 0x10;   // HID keyboard, "KB"
inline constexpr std::uint8_t kVirtualU2fInterface = 0x20;   // HID FIDO, "U2F"
inline constexpr std::uint8_t kVirtualCcidInterface = 0x40;  // smart card, not a HID interface

// Ways a device can let the transport down.
enum class VirtualHidFault {
  None,
  WrongSequence,            // U2F: continuation packets numbered from 1 instead of 0
  LengthPastResponseArea,   // U2F: the answer announces 65,535 bytes
  FeatureLengthPastReport,  // KB: the length byte points one byte past the feature report
  NeverAnswers,             // commands are taken and never answered (INIT still is)
  UnplugMidExchange,        // the key is pulled out as soon as a command arrives
  ZeroLengthForever,        // U2F: after a command only length-0 reports, for ever; KB: length 0 for ever
};

struct VirtualHidKeyOptions {
  std::uint16_t vendorId = 0x1209;
  std::uint16_t productId = 0x0001;
  // The interface set of a key that has none of its own (interfaceSource empty).
  std::uint8_t interfaces = kVirtualOtpInterface | kVirtualU2fInterface;
  // Where a key with a mode of its own gets its interface set, read at every plug-in.
  std::function<std::uint8_t()> interfaceSource;
  // Run before each plug-in after the first, as when the key is plugged in again (a mode
  // change takes effect then).
  std::function<void()> onPlugIn;
  // KB: feature reads that show length 0 before the answer appears.
  int emptyFeaturePolls = 2;
  // U2F: reports announcing length 0 sent in front of each answer.
  int zeroLengthReports = 0;
  // Time the key takes before its answer appears (for example a touch).
  std::chrono::milliseconds answerDelay{0};
  VirtualHidFault fault = VirtualHidFault::None;
  // Opens fail as on a node the user has no access to.
  bool permissionDenied = false;
  HidReportLengths keyboardLengths{9, 2, 108};
  HidReportLengths u2fLengths{65, 65, 0};
};

class VirtualHidApi final : public HidApi {
 public:
  using KeyId = int;

  static constexpr std::uint16_t kKeyboardUsagePage = 0x01;
  static constexpr std::uint16_t kKeyboardUsage = 0x06;
  static constexpr std::uint16_t kFidoUsagePage = 0xF1D0;
  static constexpr std::uint16_t kFidoUsage = 0x01;

  VirtualHidApi();
  VirtualHidApi(const VirtualHidApi&) = delete;
  VirtualHidApi& operator=(const VirtualHidApi&) = delete;
  ~VirtualHidApi() override;

  // Adds a key, plugged in. Its interfaces appear in the order KB, U2F, after those of earlier keys.
  KeyId AddKey(std::shared_ptr<VirtualCard> card, VirtualHidKeyOptions options = {});
  void Unplug(KeyId key);
  void PlugIn(KeyId key);
  bool IsPluggedIn(KeyId key) const;
  // For a key without an interface source: the set presented from the next plug-in.
  void SetInterfaces(KeyId key, std::uint8_t interfaces);
  void SetFault(KeyId key, VirtualHidFault fault);
  // Output and feature reports the key has taken, every interface counted.
  std::size_t ReportsReceived(KeyId key) const;
  // Command APDUs handed to the card.
  std::size_t CommandsProcessed(KeyId key) const;

  std::vector<HidInterfaceInfo> Enumerate() override;
  HidHandle OpenForWrite(const std::string& path) override;
  HidHandle OpenForRead(const std::string& path) override;
  HidOpenFailure LastOpenFailure() const override;
  bool SendFeatureReport(HidHandle handle, const std::uint8_t* report, std::size_t length) override;
  int GetFeatureReport(HidHandle handle, std::uint8_t* report, std::size_t length) override;
  int Write(HidHandle handle, const std::uint8_t* report, std::size_t length) override;
  int ReadTimeout(HidHandle handle, std::uint8_t* report, std::size_t length, int timeoutMs) override;
  bool Flush(HidHandle handle) override;
  bool GetReportLengths(HidHandle handle, HidReportLengths& lengths) override;
  void Close(HidHandle handle) override;

 private:
  struct Key;
  struct Interface;
  struct Handle;
  struct Job;
  using Report = std::vector<std::uint8_t>;

  std::shared_ptr<Handle> FindHandleLocked(HidHandle handle) const;
  HidHandle OpenLocked(const std::string& path, bool forReading);
  void PlugInLocked(Key& key);
  void UnplugLocked(Key& key);
  void HandleU2fPacketLocked(Interface& iface, const std::uint8_t* packet);
  void DispatchLocked(Interface& iface, std::vector<std::uint8_t> command, std::uint32_t channel);
  void PostU2fAnswerLocked(Interface& iface, std::uint32_t channel, const std::vector<std::uint8_t>& answer);
  void PostU2fErrorLocked(Interface& iface, std::uint32_t channel, std::uint8_t error);
  void QueueInputLocked(Interface& iface, Report report);
  void WorkerLoop();

  mutable std::mutex mutex_;
  std::condition_variable inputArrived_;
  std::condition_variable jobArrived_;
  std::map<KeyId, std::unique_ptr<Key>> keys_;
  std::map<HidHandle, std::shared_ptr<Handle>> handles_;
  std::deque<Job> jobs_;
  KeyId nextKey_ = 1;
  HidHandle nextHandle_ = 1;
  int nextNode_ = 0;
  std::uint32_t nextChannel_ = 0x10000001;
  bool stopping_ = false;
  std::thread worker_;
};
