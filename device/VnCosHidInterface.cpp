#include "device/VnCosHidInterface.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>

#include "core/SecureBytes.h"
#include "device/HidDiscovery.h"
#include "device/U2fHidLayout.h"
#include "core/Translate.h"

using tokvane::Tr;

namespace {

// U2FHID offsets within a report: the packet's own, behind the report-ID byte.
constexpr std::size_t kChannelOffset = u2fhid::kReportIdLength + u2fhid::kChannelOffset;
constexpr std::size_t kCommandOffset = u2fhid::kReportIdLength + u2fhid::kCommandOffset;
constexpr std::size_t kLengthHighOffset = u2fhid::kReportIdLength + u2fhid::kLengthHighOffset;
constexpr std::size_t kLengthLowOffset = u2fhid::kReportIdLength + u2fhid::kLengthLowOffset;
constexpr std::size_t kInitPayloadOffset = u2fhid::kReportIdLength + u2fhid::kInitPayloadOffset;
constexpr std::size_t kContinuationPayloadOffset = u2fhid::kReportIdLength + u2fhid::kContinuationPayloadOffset;
constexpr std::size_t kInitNonceLength = u2fhid::kInitNonceLength;
constexpr std::size_t kInitAnswerChannelOffset = kInitPayloadOffset + u2fhid::kInitAnswerChannelOffset;

constexpr std::uint8_t kU2fHidMsg = u2fhid::kMsg;
constexpr std::uint8_t kU2fHidInit = u2fhid::kInit;
constexpr std::uint8_t kU2fHidKeepAlive = u2fhid::kKeepAlive;
constexpr std::uint8_t kU2fHidError = u2fhid::kError;
constexpr std::array<std::uint8_t, 4> kBroadcastChannel = u2fhid::kBroadcastChannel;

// Feature report layout: report ID, payload length, payload.
constexpr std::size_t kFeatureLengthOffset = 1;
constexpr std::size_t kFeaturePayloadOffset = 2;

// Pauses between attempts: short against a real key's answer time, long enough not to spin.
constexpr std::chrono::milliseconds kResendPause{5};
constexpr std::chrono::milliseconds kPollPause{1};

constexpr const char* kAlreadyOpenText = N_("The HID interface is already open.");
constexpr const char* kNoNameText = N_("No HID interface was chosen.");
constexpr const char* kNotFoundText =
    N_("The key's HID interface is not there any more: plug the key in and connect again.");
constexpr const char* kPermissionDeniedText =
    N_("No permission to open the key's /dev/hidraw node: install the udev rules (see docs/hid.md), "
    "then plug the key in again.");
constexpr const char* kNotOpenText = N_("The HID interface is not open.");
constexpr const char* kNoReportLengthsText = N_("The key's HID report lengths could not be read.");
constexpr const char* kNotWrittenText = N_("The command could not be written to the key.");
constexpr const char* kReadFailedText = N_("Reading the key's answer failed: the key may have been pulled out.");

using ReportBuffer = std::array<std::uint8_t, VnCosHidInterface::kMaxU2fReportLength>;

bool OnChannel(const ReportBuffer& report, const std::array<std::uint8_t, 4>& channel) {
  return std::equal(channel.begin(), channel.end(), report.begin() + kChannelOffset);
}

std::string ErrorFrameText(std::uint8_t code) {
  char text[80];
  std::snprintf(text, sizeof text, Tr("The key answered with U2FHID error 0x%02X."), code);
  return text;
}

bool FitsU2fBuffers(const HidReportLengths& lengths) {
  auto fits = [](std::size_t length) {
    return length >= VnCosHidInterface::kMinU2fReportLength && length <= VnCosHidInterface::kMaxU2fReportLength;
  };
  return fits(lengths.input) && fits(lengths.output);
}

}  // namespace

VnCosHidInterface::~VnCosHidInterface() { Close(); }

bool VnCosHidInterface::Open() {
  if (IsOpen()) return Fail(Tr(kAlreadyOpenText));
  if (Name.empty()) return Fail(Tr(kNoNameText));
  if (!hid_ || !models_) return Fail(Tr(kNotFoundText));
  HidHandle writeHandle = kInvalidHidHandle;
  HidHandle readHandle = kInvalidHidHandle;
  HidOpenFailure openFailure = HidOpenFailure::None;
  if (!FindHidDeviceByName(*hid_, *models_, Name, writeHandle, readHandle, &openFailure)) {
    return Fail(openFailure == HidOpenFailure::PermissionDenied ? Tr(kPermissionDeniedText) : Tr(kNotFoundText));
  }
  api_ = hid_;
  WriteHandle = writeHandle;
  ReadHandle = readHandle;
  failureReason_.clear();
  if (ReadHandle == WriteHandle) return true;
  if (U2fHidInit()) return true;
  // A key that did not take part in INIT has no channel for us: nothing stays open half-way.
  const std::string reason = failureReason_;
  Close();
  ChannelId = kInitialChannelId;
  return Fail(reason);
}

bool VnCosHidInterface::IsOpen() { return WriteHandle != kInvalidHidHandle; }

bool VnCosHidInterface::Close() {
  if (api_) {
    if (WriteHandle != kInvalidHidHandle) api_->Close(WriteHandle);
    if (ReadHandle != kInvalidHidHandle && ReadHandle != WriteHandle) api_->Close(ReadHandle);
  }
  WriteHandle = kInvalidHidHandle;
  ReadHandle = kInvalidHidHandle;
  return true;
}

bool VnCosHidInterface::Exchange(const CApduCommand& command, CApduResponse& response) {
  if (!IsOpen()) return Fail(Tr(kNotOpenText));
  std::array<std::uint8_t, kMaxCommandLength> encoded{};
  ScopedWipe wipeEncoded(encoded);
  const std::size_t length = command.Serialize(encoded.data(), encoded.size());
  if (length == 0) return Fail(Tr("The command is longer than the 128 bytes a HID report exchange carries."));

  std::array<std::uint8_t, kResponseAreaLength> answer{};
  ScopedWipe wipeAnswer(answer);
  std::size_t answerLength = 0;
  const bool framed = ReadHandle == WriteHandle ? FeatureExchange(encoded.data(), length, answer.data(), answerLength)
                                                : U2fHidMessage(encoded.data(), length, answer.data(), answerLength);
  if (!framed) return false;
  failureReason_.clear();
  // An answer shorter than a status word leaves the caller's response as it was; the reason stays
  // so that the caller can tell "no answer" from a refusal.
  if (answerLength < 2) failureReason_ = Tr(kNoStatusWordText);
  response.Parse(answer.data(), answerLength);
  return true;
}

std::string VnCosHidInterface::GetLastErrorText() { return failureReason_; }

void VnCosHidInterface::SetName(const std::wstring& name) { Name = name; }

std::wstring VnCosHidInterface::GetName() { return Name; }

bool VnCosHidInterface::FeatureExchange(const std::uint8_t* command, std::size_t length, std::uint8_t* answer,
                                        std::size_t& answerLength) {
  const Clock::time_point deadline = Clock::now() + exchangeTimeout_;
  HidReportLengths lengths;
  if (!api_->GetReportLengths(WriteHandle, lengths)) return Fail(Tr(kNoReportLengthsText));
  const std::size_t featureLength = lengths.feature;
  if (featureLength > kFeatureBufferLength) return Fail(Tr("The key's feature report is longer than 108 bytes."));
  if (featureLength <= kFeaturePayloadOffset)
    return Fail(Tr("The key's feature report is too short to carry a command."));
  if (length > featureLength - kFeaturePayloadOffset || length > kMaxFeaturePayload) {
    return Fail(Tr("The command is longer than the key's feature report."));
  }

  std::array<std::uint8_t, kFeatureBufferLength> report{};
  ScopedWipe wipeReport(report);
  report[kFeatureLengthOffset] = static_cast<std::uint8_t>(length);
  std::memcpy(report.data() + kFeaturePayloadOffset, command, length);
  // Only a report the key refused is offered again. Once it took the report the command may
  // already be running (a counter moved, a credential gone): a second copy would run it twice.
  while (!api_->SendFeatureReport(WriteHandle, report.data(), featureLength)) {
    if (Clock::now() >= deadline) {
      return Fail(WithHidErrorText(Tr("The key did not take the command's feature report in time."), WriteHandle));
    }
    std::this_thread::sleep_for(kResendPause);
  }
  if (!api_->Flush(WriteHandle)) {
    return Fail(WithHidErrorText(Tr("The key took the command, but its input reports could not be cleared afterwards; "
                                 "the command was not sent again."),
                                 WriteHandle));
  }

  // A zero length byte means the key has not put its answer there yet.
  int received = 0;
  for (;;) {
    report.fill(0);
    api_->Flush(WriteHandle);
    received = api_->GetFeatureReport(WriteHandle, report.data(), featureLength);
    if (received > 0 && report[kFeatureLengthOffset] != 0) break;
    if (Clock::now() >= deadline) return Fail(Tr("The key did not answer in its feature report in time."));
    std::this_thread::sleep_for(kPollPause);
  }

  const std::size_t reportSize = std::min<std::size_t>(static_cast<std::size_t>(received), featureLength);
  const std::size_t answerSize = report[kFeatureLengthOffset];
  if (kFeaturePayloadOffset + answerSize > reportSize)
    return Fail(Tr("The key's answer length points past its feature report."));
  std::memcpy(answer, report.data() + kFeaturePayloadOffset, answerSize);
  answerLength = answerSize;
  return true;
}

bool VnCosHidInterface::U2fHidInit() {
  ChannelId = kInitialChannelId;
  const Clock::time_point deadline = Clock::now() + exchangeTimeout_;
  HidReportLengths lengths;
  if (!PrepareU2fExchange(lengths)) return false;

  ReportBuffer report{};
  std::copy(kBroadcastChannel.begin(), kBroadcastChannel.end(), report.begin() + kChannelOffset);
  report[kCommandOffset] = kU2fHidInit;
  report[kLengthHighOffset] = 0;
  report[kLengthLowOffset] = kInitNonceLength;
  if (RAND_bytes(report.data() + kInitPayloadOffset, kInitNonceLength) != 1)
    return Fail(Tr("No random nonce for INIT."));
  if (!WritePacket(report.data(), lengths.output)) {
    return Fail(WithHidErrorText(Tr("The U2FHID INIT request could not be written to the key."), WriteHandle));
  }

  std::array<std::uint8_t, kInitNonceLength> nonce{};
  std::copy_n(report.begin() + kInitPayloadOffset, kInitNonceLength, nonce.begin());
  // Every program with the interface open sees every input report: only the broadcast INIT
  // answer that echoes our nonce is ours.
  for (;;) {
    report.fill(0);
    const int read = ReadUntil(report.data(), lengths.input, deadline);
    if (read < 0) return Fail(WithHidErrorText(Tr(kReadFailedText), ReadHandle));
    if (read == 0) return Fail(Tr("The key did not answer the U2FHID INIT request in time."));
    if (!OnChannel(report, kBroadcastChannel)) continue;
    // An error frame on the broadcast channel is the key refusing INIT: waiting on gains nothing.
    if (report[kCommandOffset] == kU2fHidError) return Fail(ErrorFrameText(report[kInitPayloadOffset]));
    if (report[kCommandOffset] != kU2fHidInit) continue;
    if (!std::equal(nonce.begin(), nonce.end(), report.begin() + kInitPayloadOffset)) continue;
    const std::size_t announced = (static_cast<std::size_t>(report[kLengthHighOffset]) << 8) | report[kLengthLowOffset];
    if (announced != u2fhid::kInitAnswerLength) return Fail(Tr("The key's U2FHID INIT answer has the wrong length."));
    std::array<std::uint8_t, 4> channel{};
    std::copy_n(report.begin() + kInitAnswerChannelOffset, channel.size(), channel.begin());
    // Channel 0 is reserved and the broadcast channel is everyone's: neither can carry our messages.
    if (channel == std::array<std::uint8_t, 4>{} || channel == kBroadcastChannel) {
      return Fail(Tr("The key's U2FHID INIT answer names no usable channel."));
    }
    ChannelId = channel;
    return true;
  }
}

bool VnCosHidInterface::U2fHidMessage(const std::uint8_t* command, std::size_t length, std::uint8_t* answer,
                                      std::size_t& answerLength) {
  const Clock::time_point deadline = Clock::now() + exchangeTimeout_;
  HidReportLengths lengths;
  if (!PrepareU2fExchange(lengths)) return false;

  ReportBuffer report{};
  ScopedWipe wipeReport(report);
  std::copy(ChannelId.begin(), ChannelId.end(), report.begin() + kChannelOffset);
  report[kCommandOffset] = kU2fHidMsg;
  report[kLengthHighOffset] = static_cast<std::uint8_t>(length >> 8);
  report[kLengthLowOffset] = static_cast<std::uint8_t>(length & 0xFF);
  std::size_t sent = std::min(length, kInitPacketPayload);
  std::memcpy(report.data() + kInitPayloadOffset, command, sent);
  if (!WritePacket(report.data(), lengths.output)) return Fail(WithHidErrorText(Tr(kNotWrittenText), WriteHandle));
  for (std::uint8_t sequence = 0; sent < length; ++sequence) {
    const std::size_t chunk = std::min(length - sent, kContinuationPacketPayload);
    report.fill(0);
    std::copy(ChannelId.begin(), ChannelId.end(), report.begin() + kChannelOffset);
    report[kCommandOffset] = sequence;
    std::memcpy(report.data() + kContinuationPayloadOffset, command + sent, chunk);
    if (!WritePacket(report.data(), lengths.output)) return Fail(WithHidErrorText(Tr(kNotWrittenText), WriteHandle));
    sent += chunk;
  }

  std::size_t total = 0;
  if (!ReadAnswerStart(report.data(), lengths.input, deadline, total)) return false;
  if (total > kResponseAreaLength) return Fail(Tr("The key's answer is longer than the 1032-byte response area."));

  std::size_t received = std::min(total, kInitPacketPayload);
  std::memcpy(answer, report.data() + kInitPayloadOffset, received);
  std::uint8_t sequence = 0;
  while (received < total) {
    if (!ReadOwnPacket(report.data(), lengths.input, deadline, Tr("The key's answer was cut short."))) return false;
    if (report[kCommandOffset] == kU2fHidError) return Fail(ErrorFrameText(report[kInitPayloadOffset]));
    if (report[kCommandOffset] == kU2fHidKeepAlive) continue;  // no part of the answer
    if (report[kCommandOffset] != sequence++) return Fail(Tr("The key's answer came with a wrong sequence number."));
    const std::size_t chunk = std::min(total - received, kContinuationPacketPayload);
    std::memcpy(answer + received, report.data() + kContinuationPayloadOffset, chunk);
    received += chunk;
  }
  answerLength = total;
  return true;
}

bool VnCosHidInterface::PrepareU2fExchange(HidReportLengths& lengths) {
  if (!FlushBoth()) return Fail(Tr("The key's input reports could not be cleared."));
  if (!api_->GetReportLengths(WriteHandle, lengths)) return Fail(Tr(kNoReportLengthsText));
  if (!FitsU2fBuffers(lengths)) return Fail(Tr("The key's report lengths do not fit U2FHID packets."));
  return true;
}

bool VnCosHidInterface::ReadOwnPacket(std::uint8_t* report, std::size_t length, Clock::time_point deadline,
                                      const char* timeoutText) {
  // Packets of other programs on their own channels share our queue; they are passed over.
  for (;;) {
    std::memset(report, 0, length);
    const int read = ReadUntil(report, length, deadline);
    if (read < 0) return Fail(WithHidErrorText(Tr(kReadFailedText), ReadHandle));
    if (read == 0) return Fail(timeoutText);
    if (std::equal(ChannelId.begin(), ChannelId.end(), report + kChannelOffset)) return true;
  }
}

bool VnCosHidInterface::ReadAnswerStart(std::uint8_t* report, std::size_t length, Clock::time_point deadline,
                                        std::size_t& total) {
  for (;;) {
    if (!ReadOwnPacket(report, length, deadline, Tr("The key did not answer the command in time."))) return false;
    const std::uint8_t command = report[kCommandOffset];
    if (command == kU2fHidError) return Fail(ErrorFrameText(report[kInitPayloadOffset]));
    // Keep-alives, stray continuations and answers to other requests are no start of our answer.
    if (command != kU2fHidMsg) continue;
    total = (static_cast<std::size_t>(report[kLengthHighOffset]) << 8) | report[kLengthLowOffset];
    // Reports announcing length 0 come before the answer while the key is busy; they are dropped.
    if (total != 0) return true;
  }
}

bool VnCosHidInterface::FlushBoth() {
  return api_->Flush(WriteHandle) && (ReadHandle == WriteHandle || api_->Flush(ReadHandle));
}

bool VnCosHidInterface::WritePacket(const std::uint8_t* report, std::size_t length) {
  return api_->Write(WriteHandle, report, length) == static_cast<int>(length);
}

int VnCosHidInterface::ReadUntil(std::uint8_t* report, std::size_t length, Clock::time_point deadline) {
  for (;;) {
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (remaining.count() <= 0) return 0;
    const int timeoutMs = static_cast<int>(std::min<std::chrono::milliseconds::rep>(remaining.count(), 60'000));
    const int read = api_->ReadTimeout(ReadHandle, report, length, timeoutMs);
    if (read != 0) return read;
    // A read that gave up early is tried again while time is left; never a spin.
    std::this_thread::sleep_for(kPollPause);
  }
}

std::string VnCosHidInterface::WithHidErrorText(std::string reason, HidHandle handle) {
  const std::string library = api_ ? api_->LastErrorText(handle) : std::string();
  if (!library.empty()) reason += " (" + library + ")";
  return reason;
}

bool VnCosHidInterface::Fail(std::string reason) {
  failureReason_ = std::move(reason);
  return false;
}
