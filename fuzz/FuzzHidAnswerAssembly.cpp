// A hostile HID device: report lengths, every feature and input report and every failure come from
// the fuzzer's bytes. The transport must never read or write past a buffer, never hand back more
// than the response area, and always come back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "device/HidApi.h"
#include "device/HidDiscovery.h"
#include "device/VidPidConfig.h"
#include "device/VnCosHidInterface.h"

namespace {

constexpr std::uint16_t kVid = 0x1209;
constexpr std::uint16_t kPid = 0x0001;
constexpr HidHandle kWrite = 1;
constexpr HidHandle kRead = 2;

class HostileHidApi : public HidApi {
 public:
  HostileHidApi(FuzzedDataProvider& data, bool keyboard) : data_(data), keyboard_(keyboard) {
    lengths_.input = data_.ConsumeIntegralInRange<std::uint16_t>(0, 1100);
    lengths_.output = data_.ConsumeIntegralInRange<std::uint16_t>(0, 1100);
    lengths_.feature = data_.ConsumeIntegralInRange<std::uint16_t>(0, 130);
  }

  std::vector<HidInterfaceInfo> Enumerate() override { return {{"hostile", kVid, kPid, 0xF1D0, 1}}; }
  HidHandle OpenForWrite(const std::string&) override { return kWrite; }
  HidHandle OpenForRead(const std::string&) override { return keyboard_ ? kInvalidHidHandle : kRead; }

  bool SendFeatureReport(HidHandle, const std::uint8_t* report, std::size_t length) override {
    Touch(report, length);
    return data_.remaining_bytes() == 0 || data_.ConsumeBool();
  }

  int GetFeatureReport(HidHandle, std::uint8_t* report, std::size_t length) override {
    std::memset(report, 0, length);
    // Out of bytes: a plain answer, so that every run ends at once.
    if (data_.remaining_bytes() == 0) {
      if (length >= 4) {
        report[1] = 2;
        report[2] = 0x90;
      }
      return static_cast<int>(length);
    }
    const std::vector<std::uint8_t> bytes = data_.ConsumeBytes<std::uint8_t>(data_.ConsumeIntegralInRange<std::size_t>(0, length));
    if (!bytes.empty()) std::memcpy(report, bytes.data(), bytes.size());
    return data_.ConsumeBool() ? static_cast<int>(bytes.size()) : -1;
  }

  int Write(HidHandle, const std::uint8_t* report, std::size_t length) override {
    Touch(report, length);
    // Remember the INIT nonce, so that an answer can echo it and the run goes on to the messages.
    if (length >= kNonceAt + kNonceLength && report[5] == 0x86) {
      std::memcpy(nonce_, report + kNonceAt, kNonceLength);
      haveNonce_ = true;
    }
    if (data_.remaining_bytes() == 0) return static_cast<int>(length);
    return data_.ConsumeBool() ? static_cast<int>(length) : data_.ConsumeIntegralInRange<int>(-1, static_cast<int>(length));
  }

  int ReadTimeout(HidHandle, std::uint8_t* report, std::size_t length, int) override {
    if (data_.remaining_bytes() == 0) return -1;
    const std::vector<std::uint8_t> bytes = data_.ConsumeBytes<std::uint8_t>(data_.ConsumeIntegralInRange<std::size_t>(0, length));
    if (!bytes.empty()) std::memcpy(report, bytes.data(), bytes.size());
    if (bytes.empty()) return -1;
    if (haveNonce_ && bytes.size() >= kNonceAt + kNonceLength && data_.ConsumeBool()) {
      std::memset(report + 1, 0xFF, 4);
      report[5] = 0x86;
      std::memcpy(report + kNonceAt, nonce_, kNonceLength);
      haveNonce_ = false;
    }
    return static_cast<int>(bytes.size());
  }

  bool Flush(HidHandle) override { return data_.remaining_bytes() == 0 || data_.ConsumeBool(); }
  bool GetReportLengths(HidHandle, HidReportLengths& lengths) override {
    lengths = lengths_;
    return true;
  }
  void Close(HidHandle) override {}

 private:
  // Reads every byte the transport claims to send, so a short buffer shows under the sanitizer.
  static void Touch(const std::uint8_t* report, std::size_t length) {
    volatile std::uint8_t sum = 0;
    for (std::size_t i = 0; i < length; ++i) sum = static_cast<std::uint8_t>(sum + report[i]);
    (void)sum;
  }

  static constexpr std::size_t kNonceAt = 8;
  static constexpr std::size_t kNonceLength = 8;

  FuzzedDataProvider& data_;
  bool keyboard_;
  HidReportLengths lengths_;
  std::uint8_t nonce_[kNonceLength] = {};
  bool haveNonce_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const bool keyboard = data.ConsumeBool();
  const std::vector<std::uint8_t> commandBytes = data.ConsumeBytes<std::uint8_t>(data.ConsumeIntegralInRange<std::size_t>(4, 140));
  auto api = std::make_shared<HostileHidApi>(data, keyboard);
  const DeviceBackends backends = MakeDeviceBackends(nullptr, api, {VidPidEntry::Make(kVid, 0)});
  backends.models->LockOn(kVid, kPid);
  {
    VnCosHidInterface hid(backends, keyboard ? L"VORTAN HID DEVICE KB 0" : L"VORTAN HID DEVICE U2F 0");
    // The device decides how long a wait lasts; the limit only matters for a device that stalls.
    hid.SetExchangeTimeout(std::chrono::milliseconds(2));
    hid.Open();
    CApduCommand command;
    command.Parse(commandBytes.data(), commandBytes.size());
    for (int i = 0; i < 2 && hid.IsOpen(); ++i) {
      CApduResponse response;
      if (hid.Exchange(command, response) && response.DataLength > VnCosHidInterface::kResponseAreaLength) std::abort();
    }
  }
  return 0;
}
