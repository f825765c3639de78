#include "device/VnCosHidInterface.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "device/HidDiscovery.h"

namespace {

// U2FHID packet layout behind the report-ID byte (FIDO U2F HID protocol, 64-byte packets).
constexpr std::size_t kChannelOffset = 1;
constexpr std::size_t kCommandOffset = 5;  // initialisation packet: command; continuation: sequence
constexpr std::size_t kLengthHighOffset = 6;
constexpr std::size_t kLengthLowOffset = 7;
constexpr std::size_t kInitPayloadOffset = 8;
constexpr std::size_t kContinuationPayloadOffset = 6;
constexpr std::size_t kInitNonceLength = 8;
// Where the channel ID sits in the answer to INIT: after report ID, channel, command, length and nonce.
constexpr std::size_t kInitAnswerChannelOffset = 16;

constexpr std::uint8_t kU2fHidMsg = 0x83;
constexpr std::uint8_t kU2fHidInit = 0x86;
constexpr std::array<std::uint8_t, 4> kBroadcastChannel{0xFF, 0xFF, 0xFF, 0xFF};

// Feature report layout: report ID, payload length, payload.
constexpr std::size_t kFeatureLengthOffset = 1;
constexpr std::size_t kFeaturePayloadOffset = 2;

// Pauses between attempts: short against a real key's answer time, long enough not to spin.
constexpr std::chrono::milliseconds kResendPause{5};
constexpr std::chrono::milliseconds kPollPause{1};

// Command bytes, which may carry a credential secret, do not stay behind in work buffers.
template <typename Buffer>
class ScopedWipe {
 public:
  explicit ScopedWipe(Buffer& buffer) : buffer_(buffer) {}
  ScopedWipe(const ScopedWipe&) = delete;
  ScopedWipe& operator=(const ScopedWipe&) = delete;
  ~ScopedWipe() { OPENSSL_cleanse(buffer_.data(), buffer_.size()); }

 private:
  Buffer& buffer_;
};

using ReportBuffer = std::array<std::uint8_t, VnCosHidInterface::kMaxU2fReportLength>;

bool FitsU2fBuffers(const HidReportLengths& lengths) {
  auto fits = [](std::size_t length) {
    return length >= VnCosHidInterface::kMinU2fReportLength && length <= VnCosHidInterface::kMaxU2fReportLength;
  };
  return fits(lengths.input) && fits(lengths.output);
}

}  // namespace

VnCosHidInterface::~VnCosHidInterface() { Close(); }

bool VnCosHidInterface::Open() {
  if (IsOpen()) return Fail("already open");
  if (Name.empty()) return Fail("no device name");
  std::shared_ptr<HidApi> api = ActiveHidApi();
  HidHandle writeHandle = kInvalidHidHandle;
  HidHandle readHandle = kInvalidHidHandle;
  if (!FindHidDeviceByName(*api, Name, writeHandle, readHandle)) return Fail("no interface carries that name");
  api_ = std::move(api);
  WriteHandle = writeHandle;
  ReadHandle = readHandle;
  failureReason_.clear();
  if (ReadHandle == WriteHandle) return true;
  return U2fHidInit();
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
  if (!IsOpen()) return Fail("not open");
  std::array<std::uint8_t, kMaxCommandLength> encoded{};
  ScopedWipe wipeEncoded(encoded);
  const std::size_t length = command.Serialize(encoded.data(), encoded.size());
  if (length == 0) return Fail("command longer than 128 bytes");

  std::array<std::uint8_t, kResponseAreaLength> answer{};
  ScopedWipe wipeAnswer(answer);
  std::size_t answerLength = 0;
  const bool framed = ReadHandle == WriteHandle ? FeatureExchange(encoded.data(), length, answer.data(), answerLength)
                                                : U2fHidMessage(encoded.data(), length, answer.data(), answerLength);
  if (!framed) return false;
  failureReason_.clear();
  // An answer shorter than a status word leaves the caller's response as it was.
  response.Parse(answer.data(), answerLength);
  return true;
}

std::string VnCosHidInterface::GetLastErrorText() { return std::string(); }

void VnCosHidInterface::SetName(const std::wstring& name) { Name = name; }

std::wstring VnCosHidInterface::GetName() { return Name; }

bool VnCosHidInterface::FeatureExchange(const std::uint8_t* command, std::size_t length, std::uint8_t* answer,
                                        std::size_t& answerLength) {
  const Clock::time_point deadline = Clock::now() + exchangeTimeout_;
  HidReportLengths lengths;
  if (!api_->GetReportLengths(WriteHandle, lengths)) return Fail("report lengths unknown");
  const std::size_t featureLength = lengths.feature;
  if (featureLength > kFeatureBufferLength) return Fail("feature report longer than the work buffer");
  if (featureLength <= kFeaturePayloadOffset) return Fail("feature report too short");
  if (length > featureLength - kFeaturePayloadOffset || length > kMaxFeaturePayload) {
    return Fail("command longer than the feature report");
  }

  std::array<std::uint8_t, kFeatureBufferLength> report{};
  ScopedWipe wipeReport(report);
  report[kFeatureLengthOffset] = static_cast<std::uint8_t>(length);
  std::memcpy(report.data() + kFeaturePayloadOffset, command, length);
  while (!(api_->SendFeatureReport(WriteHandle, report.data(), featureLength) && api_->Flush(WriteHandle))) {
    if (Clock::now() >= deadline) return Fail("the key did not take the feature report");
    std::this_thread::sleep_for(kResendPause);
  }

  // A zero length byte means the key has not put its answer there yet.
  int received = 0;
  for (;;) {
    report.fill(0);
    api_->Flush(WriteHandle);
    received = api_->GetFeatureReport(WriteHandle, report.data(), featureLength);
    if (received > 0 && report[kFeatureLengthOffset] != 0) break;
    if (Clock::now() >= deadline) return Fail("no answer in the feature report");
    std::this_thread::sleep_for(kPollPause);
  }

  const std::size_t reportSize = std::min<std::size_t>(static_cast<std::size_t>(received), featureLength);
  const std::size_t answerSize = report[kFeatureLengthOffset];
  if (kFeaturePayloadOffset + answerSize > reportSize) return Fail("answer length past the feature report");
  std::memcpy(answer, report.data() + kFeaturePayloadOffset, answerSize);
  answerLength = answerSize;
  return true;
}

bool VnCosHidInterface::U2fHidInit() {
  ChannelId = kInitialChannelId;
  const Clock::time_point deadline = Clock::now() + exchangeTimeout_;
  if (!FlushBoth()) return Fail("could not clear the input queues");
  HidReportLengths lengths;
  if (!api_->GetReportLengths(WriteHandle, lengths)) return Fail("report lengths unknown");
  if (!FitsU2fBuffers(lengths)) return Fail("report lengths do not fit U2FHID packets");

  ReportBuffer report{};
  std::copy(kBroadcastChannel.begin(), kBroadcastChannel.end(), report.begin() + kChannelOffset);
  report[kCommandOffset] = kU2fHidInit;
  report[kLengthHighOffset] = 0;
  report[kLengthLowOffset] = kInitNonceLength;
  if (RAND_bytes(report.data() + kInitPayloadOffset, kInitNonceLength) != 1) return Fail("no random nonce");
  if (!WritePacket(report.data(), lengths.output)) return Fail("INIT not written");

  report.fill(0);
  if (ReadUntil(report.data(), lengths.input, deadline) <= 0) return Fail("no answer to INIT");
  std::copy_n(report.begin() + kInitAnswerChannelOffset, ChannelId.size(), ChannelId.begin());
  return true;
}

bool VnCosHidInterface::U2fHidMessage(const std::uint8_t* command, std::size_t length, std::uint8_t* answer,
                                      std::size_t& answerLength) {
  const Clock::time_point deadline = Clock::now() + exchangeTimeout_;
  if (!FlushBoth()) return Fail("could not clear the input queues");
  HidReportLengths lengths;
  if (!api_->GetReportLengths(WriteHandle, lengths)) return Fail("report lengths unknown");
  if (!FitsU2fBuffers(lengths)) return Fail("report lengths do not fit U2FHID packets");

  ReportBuffer report{};
  ScopedWipe wipeReport(report);
  std::copy(ChannelId.begin(), ChannelId.end(), report.begin() + kChannelOffset);
  report[kCommandOffset] = kU2fHidMsg;
  report[kLengthHighOffset] = static_cast<std::uint8_t>(length >> 8);
  report[kLengthLowOffset] = static_cast<std::uint8_t>(length & 0xFF);
  std::size_t sent = std::min(length, kInitPacketPayload);
  std::memcpy(report.data() + kInitPayloadOffset, command, sent);
  if (!WritePacket(report.data(), lengths.output)) return Fail("MSG not written");
  for (std::uint8_t sequence = 0; sent < length; ++sequence) {
    const std::size_t chunk = std::min(length - sent, kContinuationPacketPayload);
    report.fill(0);
    std::copy(ChannelId.begin(), ChannelId.end(), report.begin() + kChannelOffset);
    report[kCommandOffset] = sequence;
    std::memcpy(report.data() + kContinuationPayloadOffset, command + sent, chunk);
    if (!WritePacket(report.data(), lengths.output)) return Fail("continuation not written");
    sent += chunk;
  }

  // Reports announcing length 0 come before the answer while the key is busy; they are dropped.
  std::size_t total = 0;
  do {
    report.fill(0);
    if (ReadUntil(report.data(), lengths.input, deadline) <= 0) return Fail("no answer to MSG");
    total = (static_cast<std::size_t>(report[kLengthHighOffset]) << 8) | report[kLengthLowOffset];
  } while (total == 0);
  if (total > kResponseAreaLength) return Fail("answer longer than the response area");

  std::size_t received = std::min(total, kInitPacketPayload);
  std::memcpy(answer, report.data() + kInitPayloadOffset, received);
  for (std::uint8_t sequence = 0; received < total; ++sequence) {
    report.fill(0);
    if (ReadUntil(report.data(), lengths.input, deadline) <= 0) return Fail("answer cut short");
    if (report[kCommandOffset] != sequence) return Fail("wrong continuation sequence number");
    const std::size_t chunk = std::min(total - received, kContinuationPacketPayload);
    std::memcpy(answer + received, report.data() + kContinuationPayloadOffset, chunk);
    received += chunk;
  }
  answerLength = total;
  return true;
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

bool VnCosHidInterface::Fail(const char* reason) {
  failureReason_ = reason;
  return false;
}
