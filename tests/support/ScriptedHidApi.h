#pragma once
// A scripted HidApi for transport and discovery unit tests: it records every report the code
// under test sends and answers from tables the test fills in.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/HidApi.h"

class ScriptedHidApi : public HidApi {
 public:
  using Report = std::vector<std::uint8_t>;

  // What the system lists, in order; paths in `keyboardPaths` refuse the read open.
  std::vector<HidInterfaceInfo> interfaces;
  std::set<std::string> keyboardPaths;
  std::set<std::string> deniedPaths;  // opens fail for lack of permission
  HidReportLengths lengths{65, 65, 65};

  // Recorded traffic.
  std::vector<Report> written;
  std::vector<Report> featuresSent;
  int featureReads = 0;

  // Input reports released once `Write` has been called the given number of times; a report
  // of length 0 in `input` stands for a read error.
  std::multimap<std::size_t, Report> staged;
  std::deque<Report> input;
  // Feature reports handed out by GetFeatureReport, in order; when empty, length byte 0.
  std::deque<Report> featureReplies;
  bool sendFeatureFails = false;
  bool writeFails = false;
  bool shortWrites = false;
  bool zeroLengthForever = false;
  bool flushFails = false;
  // What LastErrorText hands back, as hidapi's hid_error would.
  std::string errorText;

  int openHandles() const { return static_cast<int>(open_.size()); }

  std::vector<HidInterfaceInfo> Enumerate() override { return interfaces; }

  HidHandle OpenForWrite(const std::string& path) override { return Open(path, false); }
  HidHandle OpenForRead(const std::string& path) override { return Open(path, true); }
  HidOpenFailure LastOpenFailure() const override { return lastFailure_; }

  bool SendFeatureReport(HidHandle handle, const std::uint8_t* report, std::size_t length) override {
    if (!open_.count(handle)) return false;
    featuresSent.emplace_back(report, report + length);
    return !sendFeatureFails;
  }

  int GetFeatureReport(HidHandle handle, std::uint8_t* report, std::size_t length) override {
    if (!open_.count(handle)) return -1;
    ++featureReads;
    std::memset(report, 0, length);
    if (featureReplies.empty()) return static_cast<int>(length);
    const Report reply = featureReplies.front();
    featureReplies.pop_front();
    std::memcpy(report, reply.data(), std::min(length, reply.size()));
    return static_cast<int>(std::min(length, reply.size()));
  }

  int Write(HidHandle handle, const std::uint8_t* report, std::size_t length) override {
    if (!open_.count(handle) || writeFails) return -1;
    written.emplace_back(report, report + length);
    for (auto it = staged.begin(); it != staged.end() && it->first <= written.size();) {
      input.push_back(WithEchoedNonce(it->second));
      it = staged.erase(it);
    }
    return static_cast<int>(shortWrites ? length - 1 : length);
  }

  int ReadTimeout(HidHandle handle, std::uint8_t* report, std::size_t length, int timeoutMs) override {
    if (!open_.count(handle)) return -1;
    if (zeroLengthForever) {
      std::memset(report, 0, length);
      return static_cast<int>(length);
    }
    if (input.empty()) {
      // A silent device: the whole wait passes.
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
      return 0;
    }
    const Report next = input.front();
    input.pop_front();
    if (next.empty()) return -1;
    std::memset(report, 0, length);
    std::memcpy(report, next.data(), std::min(length, next.size()));
    return static_cast<int>(std::min(length, next.size()));
  }

  bool Flush(HidHandle handle) override {
    if (!open_.count(handle) || flushFails) return false;
    input.clear();
    return true;
  }

  bool GetReportLengths(HidHandle handle, HidReportLengths& out) override {
    if (!open_.count(handle)) return false;
    out = lengths;
    return true;
  }

  void Close(HidHandle handle) override { open_.erase(handle); }

  std::string LastErrorText(HidHandle) override { return errorText; }

  // Adds one interface to the listing.
  void AddInterface(const std::string& path, std::uint16_t vid, std::uint16_t pid, bool keyboard) {
    interfaces.push_back({path, vid, pid, static_cast<std::uint16_t>(keyboard ? 0x01 : 0xF1D0),
                          static_cast<std::uint16_t>(keyboard ? 0x06 : 0x01)});
    if (keyboard) keyboardPaths.insert(path);
  }

 private:
  // A staged INIT answer whose nonce is left zero echoes the nonce of the last INIT written, as
  // a key does; one with a nonce of its own keeps it (an answer meant for another program).
  Report WithEchoedNonce(Report report) const {
    constexpr std::size_t kNonceAt = 8;
    constexpr std::size_t kNonceLength = 8;
    const auto isInit = [](const Report& r) {
      return r.size() >= kNonceAt + kNonceLength && r[1] == 0xFF && r[2] == 0xFF && r[3] == 0xFF && r[4] == 0xFF &&
             r[5] == 0x86;
    };
    if (!isInit(report)) return report;
    if (std::any_of(report.begin() + kNonceAt, report.begin() + kNonceAt + kNonceLength, [](std::uint8_t b) { return b != 0; })) {
      return report;
    }
    for (auto it = written.rbegin(); it != written.rend(); ++it) {
      if (!isInit(*it)) continue;
      std::copy_n(it->begin() + kNonceAt, kNonceLength, report.begin() + kNonceAt);
      break;
    }
    return report;
  }

  HidHandle Open(const std::string& path, bool forReading) {
    const bool listed = std::any_of(interfaces.begin(), interfaces.end(), [&](const HidInterfaceInfo& info) { return info.path == path; });
    if (!listed) {
      lastFailure_ = HidOpenFailure::Other;
      return kInvalidHidHandle;
    }
    if (deniedPaths.count(path)) {
      lastFailure_ = HidOpenFailure::PermissionDenied;
      return kInvalidHidHandle;
    }
    if (forReading && keyboardPaths.count(path)) {
      lastFailure_ = HidOpenFailure::Refused;
      return kInvalidHidHandle;
    }
    lastFailure_ = HidOpenFailure::None;
    const HidHandle handle = next_++;
    open_.insert(handle);
    return handle;
  }

  std::set<HidHandle> open_;
  HidHandle next_ = 100;
  HidOpenFailure lastFailure_ = HidOpenFailure::None;
};
