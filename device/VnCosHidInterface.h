#pragma once
// The transport for a key reached through one of its HID interfaces: feature reports on a "KB"
// interface, U2FHID messages on a "U2F" interface, chosen by how the interface could be opened.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "device/DeviceBackends.h"
#include "device/DeviceInterface.h"
#include "device/HidApi.h"
#include "device/U2fHidLayout.h"

class VnCosHidInterface : public IDeveiceInterface {
 public:
  static constexpr std::size_t kMaxCommandLength = 128;
  static constexpr std::size_t kResponseAreaLength = 1032;
  // Report ID, length byte and at most 106 payload bytes.
  static constexpr std::size_t kFeatureBufferLength = 108;
  static constexpr std::size_t kMaxFeaturePayload = kFeatureBufferLength - 2;
  // A U2FHID packet is 64 bytes behind the report ID; reports shorter than that cannot carry one.
  static constexpr std::size_t kMinU2fReportLength = 65;
  static constexpr std::size_t kMaxU2fReportLength = 1025;
  static constexpr std::size_t kInitPacketPayload = u2fhid::kInitPayload;
  static constexpr std::size_t kContinuationPacketPayload = u2fhid::kContinuationPayload;
  // Long enough for a key that waits up to 3 s for a touch before it answers.
  static constexpr std::chrono::milliseconds kDefaultExchangeTimeout{5000};

  static constexpr std::array<std::uint8_t, 4> kInitialChannelId{0x00, 0x00, 0x00, 0x01};

  // The interface is found, opened and closed through the backends' HID seam, among the
  // interfaces of the model their key models locked on to.
  explicit VnCosHidInterface(const DeviceBackends& backends, std::wstring name = {})
      : Name(std::move(name)), hid_(backends.hid), models_(backends.models) {}
  VnCosHidInterface(const VnCosHidInterface&) = delete;
  VnCosHidInterface& operator=(const VnCosHidInterface&) = delete;
  ~VnCosHidInterface() override;

  bool Open() override;
  bool IsOpen() override;
  bool Close() override;
  bool Exchange(const CApduCommand& command, CApduResponse& response) override;
  // Why the last Open or Exchange failed, or that the last answer had no status word; empty
  // after a whole answer.
  std::string GetLastErrorText() override;
  void SetName(const std::wstring& name) override;
  std::wstring GetName() override;

  // The limit on one whole exchange (and on the INIT run by Open); every wait inside it ends by then.
  void SetExchangeTimeout(std::chrono::milliseconds timeout) { exchangeTimeout_ = timeout; }
  // The same reason as GetLastErrorText, for tests.
  const std::string& FailureReason() const { return failureReason_; }

  std::array<std::uint8_t, 4> ChannelId = kInitialChannelId;
  HidHandle WriteHandle = kInvalidHidHandle;
  HidHandle ReadHandle = kInvalidHidHandle;
  std::wstring Name;

 private:
  using Clock = std::chrono::steady_clock;

  bool U2fHidInit();
  bool FeatureExchange(const std::uint8_t* command, std::size_t length, std::uint8_t* answer, std::size_t& answerLength);
  bool U2fHidMessage(const std::uint8_t* command, std::size_t length, std::uint8_t* answer, std::size_t& answerLength);
  // Clears both input queues and reads the report lengths, which must fit U2FHID packets.
  bool PrepareU2fExchange(HidReportLengths& lengths);
  // The next input report on our channel; reports of other channels are skipped. False (with the
  // reason) on a read error or once the deadline has passed.
  bool ReadOwnPacket(std::uint8_t* report, std::size_t length, Clock::time_point deadline, const char* timeoutText);
  // The initialisation packet of our answer, past keep-alives and busy reports; an error frame fails.
  bool ReadAnswerStart(std::uint8_t* report, std::size_t length, Clock::time_point deadline, std::size_t& total);
  bool FlushBoth();
  bool WritePacket(const std::uint8_t* report, std::size_t length);
  int ReadUntil(std::uint8_t* report, std::size_t length, Clock::time_point deadline);
  bool Fail(std::string reason);
  // `reason`, followed by the HID library's own text for `handle` when it has one.
  std::string WithHidErrorText(std::string reason, HidHandle handle);

  std::shared_ptr<HidApi> hid_;
  std::shared_ptr<KeyModels> models_;
  // The implementation the handles were opened with; they are closed through it too.
  std::shared_ptr<HidApi> api_;
  std::chrono::milliseconds exchangeTimeout_ = kDefaultExchangeTimeout;
  std::string failureReason_;
};
