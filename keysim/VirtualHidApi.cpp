#include "keysim/VirtualHidApi.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "core/SecureBytes.h"
#include "device/U2fHidLayout.h"

using namespace u2fhid;

namespace {

// U2FHID as the key speaks it (device/U2fHidLayout.h); offsets within a report are the packet's own
// behind the report-ID byte.
constexpr std::size_t kReportCommandOffset = kReportIdLength + kCommandOffset;
constexpr std::size_t kReportInitPayloadOffset = kReportIdLength + kInitPayloadOffset;
constexpr std::size_t kReportContinuationPayloadOffset = kReportIdLength + kContinuationPayloadOffset;
constexpr std::uint32_t kBroadcastChannelId = 0xFFFFFFFF;
// The largest message 64-byte packets can carry: one initialisation and 128 continuation packets.
constexpr std::size_t kMaxMessageLength = kInitPayload + 128 * kContinuationPayload;
// hidraw keeps this many reports per reader and drops the oldest beyond.
constexpr std::size_t kMaxQueuedReports = 64;
// Status word for an answer that does not fit the feature report: no precise diagnosis.
constexpr std::array<std::uint8_t, 2> kAnswerTooLong{0x6F, 0x00};

thread_local HidOpenFailure lastOpenFailure = HidOpenFailure::None;

std::uint32_t ReadChannel(const std::uint8_t* bytes) {
  return (static_cast<std::uint32_t>(bytes[0]) << 24) | (static_cast<std::uint32_t>(bytes[1]) << 16) |
         (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
}

void WriteChannel(std::uint8_t* bytes, std::uint32_t channel) {
  bytes[0] = static_cast<std::uint8_t>(channel >> 24);
  bytes[1] = static_cast<std::uint8_t>(channel >> 16);
  bytes[2] = static_cast<std::uint8_t>(channel >> 8);
  bytes[3] = static_cast<std::uint8_t>(channel);
}

// An input report as the transport reads it: report ID 00, then one packet.
std::vector<std::uint8_t> NewInputReport(std::uint32_t channel) {
  std::vector<std::uint8_t> report(kReportIdLength + kPacketSize, 0);
  WriteChannel(report.data() + kReportIdLength + kChannelOffset, channel);
  return report;
}

std::vector<std::uint8_t> InitPacketReport(std::uint32_t channel, std::uint8_t command, std::size_t length) {
  std::vector<std::uint8_t> report = NewInputReport(channel);
  report[kReportCommandOffset] = command;
  report[kReportIdLength + kLengthHighOffset] = static_cast<std::uint8_t>(length >> 8);
  report[kReportIdLength + kLengthLowOffset] = static_cast<std::uint8_t>(length & 0xFF);
  return report;
}

}  // namespace

struct VirtualHidApi::Interface {
  Key* key = nullptr;
  bool keyboard = false;
  std::string path;
  bool present = true;
  // Feature-report side of a KB interface.
  bool featureAnswerReady = false;
  std::vector<std::uint8_t> featureAnswer;
  int pollsLeft = 0;
  // Message being assembled from U2FHID packets.
  bool assembling = false;
  std::uint32_t assemblyChannel = 0;
  std::size_t assemblyTotal = 0;
  std::uint8_t assemblyNextSequence = 0;
  std::vector<std::uint8_t> assembly;
  bool zeroLengthForever = false;

  ~Interface() {
    WipeBuffer(featureAnswer);
    WipeBuffer(assembly);
  }
};

struct VirtualHidApi::Key {
  KeyId id = 0;
  std::shared_ptr<VirtualCard> card;
  VirtualHidKeyOptions options;
  bool pluggedIn = false;
  bool everPluggedIn = false;
  std::vector<std::shared_ptr<Interface>> interfaces;
  std::vector<std::uint32_t> channels;
  std::size_t reportsReceived = 0;
  std::size_t commandsProcessed = 0;
};

struct VirtualHidApi::Handle {
  std::shared_ptr<Interface> iface;
  std::deque<Report> queue;
};

struct VirtualHidApi::Job {
  std::shared_ptr<Interface> iface;
  std::shared_ptr<VirtualCard> card;
  std::vector<std::uint8_t> command;
  std::uint32_t channel = 0;
  std::chrono::milliseconds delay{0};
};

VirtualHidApi::VirtualHidApi() : worker_([this] { WorkerLoop(); }) {}

VirtualHidApi::~VirtualHidApi() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  jobArrived_.notify_all();
  inputArrived_.notify_all();
  worker_.join();
  for (Job& job : jobs_) WipeBuffer(job.command);
}

VirtualHidApi::KeyId VirtualHidApi::AddKey(std::shared_ptr<VirtualCard> card, VirtualHidKeyOptions options) {
  KeyId id = 0;
  {
    std::lock_guard lock(mutex_);
    id = nextKey_++;
    auto key = std::make_unique<Key>();
    key->id = id;
    key->card = std::move(card);
    key->options = std::move(options);
    keys_.emplace(id, std::move(key));
  }
  PlugIn(id);
  return id;
}

void VirtualHidApi::PlugIn(KeyId id) {
  std::function<std::uint8_t()> source;
  std::function<void()> onPlugIn;
  std::uint8_t interfaces = 0;
  bool again = false;
  {
    std::lock_guard lock(mutex_);
    auto found = keys_.find(id);
    if (found == keys_.end() || found->second->pluggedIn) return;
    source = found->second->options.interfaceSource;
    onPlugIn = found->second->options.onPlugIn;
    interfaces = found->second->options.interfaces;
    again = found->second->everPluggedIn;
  }
  // The key's own callbacks run unlocked: a key may call back into this object (a mode change
  // that replugs it), and must not meet this lock held the other way round.
  if (again && onPlugIn) onPlugIn();
  if (source) interfaces = source();

  std::lock_guard lock(mutex_);
  auto found = keys_.find(id);
  if (found == keys_.end() || found->second->pluggedIn) return;
  Key& key = *found->second;
  key.options.interfaces = interfaces;
  PlugInLocked(key);
}

void VirtualHidApi::PlugInLocked(Key& key) {
  key.interfaces.clear();
  key.channels.clear();
  for (const bool keyboard : {true, false}) {
    const std::uint8_t bit = keyboard ? kVirtualOtpInterface : kVirtualU2fInterface;
    if ((key.options.interfaces & bit) == 0) continue;
    auto iface = std::make_shared<Interface>();
    iface->key = &key;
    iface->keyboard = keyboard;
    iface->path = "/dev/virtual-hidraw" + std::to_string(nextNode_++);
    key.interfaces.push_back(std::move(iface));
  }
  key.pluggedIn = true;
  key.everPluggedIn = true;
}

void VirtualHidApi::Unplug(KeyId id) {
  std::lock_guard lock(mutex_);
  auto found = keys_.find(id);
  if (found != keys_.end()) UnplugLocked(*found->second);
}

void VirtualHidApi::UnplugLocked(Key& key) {
  for (auto& iface : key.interfaces) iface->present = false;
  key.interfaces.clear();
  key.channels.clear();
  key.pluggedIn = false;
  inputArrived_.notify_all();
}

bool VirtualHidApi::IsPluggedIn(KeyId id) const {
  std::lock_guard lock(mutex_);
  auto found = keys_.find(id);
  return found != keys_.end() && found->second->pluggedIn;
}

void VirtualHidApi::SetInterfaces(KeyId id, std::uint8_t interfaces) {
  std::lock_guard lock(mutex_);
  auto found = keys_.find(id);
  if (found != keys_.end()) found->second->options.interfaces = interfaces;
}

void VirtualHidApi::SetFault(KeyId id, VirtualHidFault fault) {
  std::lock_guard lock(mutex_);
  auto found = keys_.find(id);
  if (found != keys_.end()) found->second->options.fault = fault;
}

std::size_t VirtualHidApi::ReportsReceived(KeyId id) const {
  std::lock_guard lock(mutex_);
  auto found = keys_.find(id);
  return found == keys_.end() ? 0 : found->second->reportsReceived;
}

std::size_t VirtualHidApi::CommandsProcessed(KeyId id) const {
  std::lock_guard lock(mutex_);
  auto found = keys_.find(id);
  return found == keys_.end() ? 0 : found->second->commandsProcessed;
}

std::vector<HidInterfaceInfo> VirtualHidApi::Enumerate() {
  std::lock_guard lock(mutex_);
  std::vector<HidInterfaceInfo> result;
  for (const auto& [id, key] : keys_) {
    for (const auto& iface : key->interfaces) {
      HidInterfaceInfo info;
      info.path = iface->path;
      info.vendorId = key->options.vendorId;
      info.productId = key->options.productId;
      info.usagePage = iface->keyboard ? kKeyboardUsagePage : kFidoUsagePage;
      info.usage = iface->keyboard ? kKeyboardUsage : kFidoUsage;
      result.push_back(std::move(info));
    }
  }
  return result;
}

HidHandle VirtualHidApi::OpenForWrite(const std::string& path) {
  std::lock_guard lock(mutex_);
  return OpenLocked(path, false);
}

HidHandle VirtualHidApi::OpenForRead(const std::string& path) {
  std::lock_guard lock(mutex_);
  return OpenLocked(path, true);
}

HidHandle VirtualHidApi::OpenLocked(const std::string& path, bool forReading) {
  for (const auto& [id, key] : keys_) {
    for (const auto& iface : key->interfaces) {
      if (iface->path != path) continue;
      if (key->options.permissionDenied) {
        lastOpenFailure = HidOpenFailure::PermissionDenied;
        return kInvalidHidHandle;
      }
      // A keyboard collection is the system's: it refuses readers.
      if (forReading && iface->keyboard) {
        lastOpenFailure = HidOpenFailure::Refused;
        return kInvalidHidHandle;
      }
      auto handle = std::make_shared<Handle>();
      handle->iface = iface;
      const HidHandle id2 = nextHandle_++;
      handles_.emplace(id2, std::move(handle));
      lastOpenFailure = HidOpenFailure::None;
      return id2;
    }
  }
  lastOpenFailure = HidOpenFailure::Other;
  return kInvalidHidHandle;
}

HidOpenFailure VirtualHidApi::LastOpenFailure() const { return lastOpenFailure; }

std::shared_ptr<VirtualHidApi::Handle> VirtualHidApi::FindHandleLocked(HidHandle handle) const {
  auto found = handles_.find(handle);
  return found == handles_.end() ? nullptr : found->second;
}

bool VirtualHidApi::SendFeatureReport(HidHandle handle, const std::uint8_t* report, std::size_t length) {
  std::lock_guard lock(mutex_);
  auto h = FindHandleLocked(handle);
  if (!h || !h->iface->present || !h->iface->keyboard || report == nullptr || length < 2) return false;
  Interface& iface = *h->iface;
  ++iface.key->reportsReceived;
  const std::size_t commandLength = report[1];
  if (2 + commandLength > length) return false;
  iface.featureAnswerReady = false;
  WipeBuffer(iface.featureAnswer);
  iface.pollsLeft = iface.key->options.emptyFeaturePolls;
  DispatchLocked(iface, std::vector<std::uint8_t>(report + 2, report + 2 + commandLength), 0);
  return true;
}

int VirtualHidApi::GetFeatureReport(HidHandle handle, std::uint8_t* report, std::size_t length) {
  std::lock_guard lock(mutex_);
  auto h = FindHandleLocked(handle);
  if (!h || !h->iface->present || !h->iface->keyboard || report == nullptr || length == 0) return -1;
  Interface& iface = *h->iface;
  const std::size_t featureLength = iface.key->options.keyboardLengths.feature;
  const std::size_t size = std::min(length, featureLength);
  std::memset(report, 0, size);
  if (iface.pollsLeft > 0) {
    --iface.pollsLeft;
    return static_cast<int>(size);
  }
  if (!iface.featureAnswerReady || size < 2) return static_cast<int>(size);
  const std::size_t fits = std::min(iface.featureAnswer.size(), size - 2);
  const bool pastReport = iface.key->options.fault == VirtualHidFault::FeatureLengthPastReport;
  report[1] = static_cast<std::uint8_t>(pastReport ? std::min<std::size_t>(featureLength - 1, 0xFF) : iface.featureAnswer.size());
  std::memcpy(report + 2, iface.featureAnswer.data(), fits);
  return static_cast<int>(size);
}

int VirtualHidApi::Write(HidHandle handle, const std::uint8_t* report, std::size_t length) {
  std::lock_guard lock(mutex_);
  auto h = FindHandleLocked(handle);
  if (!h || !h->iface->present || report == nullptr || length < 2 || report[0] != 0) return -1;
  Interface& iface = *h->iface;
  ++iface.key->reportsReceived;
  // A keyboard's output report only sets its lights.
  if (iface.keyboard) return static_cast<int>(length);
  std::array<std::uint8_t, kPacketSize> packet{};
  std::memcpy(packet.data(), report + kReportIdLength, std::min(length - kReportIdLength, kPacketSize));
  HandleU2fPacketLocked(iface, packet.data());
  OPENSSL_cleanse(packet.data(), packet.size());
  return static_cast<int>(length);
}

void VirtualHidApi::HandleU2fPacketLocked(Interface& iface, const std::uint8_t* packet) {
  Key& key = *iface.key;
  const std::uint32_t channel = ReadChannel(packet);
  const std::uint8_t commandOrSequence = packet[kCommandOffset];

  if ((commandOrSequence & kInitPacketBit) == 0) {
    if (!iface.assembling || channel != iface.assemblyChannel) return;  // no message to continue
    if (commandOrSequence != iface.assemblyNextSequence) {
      iface.assembling = false;
      WipeBuffer(iface.assembly);
      PostU2fErrorLocked(iface, channel, kErrInvalidSequence);
      return;
    }
    ++iface.assemblyNextSequence;
    const std::size_t chunk = std::min(iface.assemblyTotal - iface.assembly.size(), kContinuationPayload);
    iface.assembly.insert(iface.assembly.end(), packet + kContinuationPayloadOffset,
                          packet + kContinuationPayloadOffset + chunk);
  } else {
    const std::size_t length = (static_cast<std::size_t>(packet[kLengthHighOffset]) << 8) | packet[kLengthLowOffset];
    if (commandOrSequence == kInit) {
      if (length != kInitNonceLength) return PostU2fErrorLocked(iface, channel, kErrInvalidLength);
      iface.assembling = false;
      const std::uint32_t allocated = nextChannel_++;
      key.channels.push_back(allocated);
      Report answer = InitPacketReport(channel, kInit, kInitAnswerLength);
      std::uint8_t* payload = answer.data() + kReportInitPayloadOffset;
      std::memcpy(payload, packet + kInitPayloadOffset, kInitNonceLength);
      WriteChannel(payload + kInitAnswerChannelOffset, allocated);
      payload[kInitAnswerChannelOffset + kChannelLength] = 2;      // U2FHID protocol version
      payload[kInitAnswerChannelOffset + kChannelLength + 1] = 1;  // device version 1.0.0
      QueueInputLocked(iface, std::move(answer));
      return;
    }
    if (commandOrSequence != kMsg) return PostU2fErrorLocked(iface, channel, kErrInvalidCommand);
    if (std::find(key.channels.begin(), key.channels.end(), channel) == key.channels.end()) {
      return PostU2fErrorLocked(iface, channel, kErrInvalidChannel);
    }
    if (length == 0 || length > kMaxMessageLength) return PostU2fErrorLocked(iface, channel, kErrInvalidLength);
    WipeBuffer(iface.assembly);
    iface.assembling = true;
    iface.assemblyChannel = channel;
    iface.assemblyTotal = length;
    iface.assemblyNextSequence = 0;
    iface.assembly.assign(packet + kInitPayloadOffset, packet + kInitPayloadOffset + std::min(length, kInitPayload));
  }

  if (iface.assembly.size() < iface.assemblyTotal) return;
  iface.assembling = false;
  std::vector<std::uint8_t> command = std::move(iface.assembly);
  iface.assembly.clear();
  DispatchLocked(iface, std::move(command), channel);
}

void VirtualHidApi::DispatchLocked(Interface& iface, std::vector<std::uint8_t> command, std::uint32_t channel) {
  Key& key = *iface.key;
  switch (key.options.fault) {
    case VirtualHidFault::UnplugMidExchange:
      WipeBuffer(command);
      UnplugLocked(key);
      return;
    case VirtualHidFault::NeverAnswers:
      WipeBuffer(command);
      return;
    case VirtualHidFault::ZeroLengthForever:
      WipeBuffer(command);
      iface.zeroLengthForever = true;
      inputArrived_.notify_all();
      return;
    default:
      break;
  }
  std::shared_ptr<Interface> shared;
  for (const auto& candidate : key.interfaces) {
    if (candidate.get() == &iface) shared = candidate;
  }
  if (!shared) return;
  jobs_.push_back(Job{std::move(shared), key.card, std::move(command), channel, key.options.answerDelay});
  jobArrived_.notify_all();
}

void VirtualHidApi::WorkerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    jobArrived_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
    if (stopping_) return;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    if (job.delay.count() > 0 && jobArrived_.wait_for(lock, job.delay, [this] { return stopping_; })) return;
    if (!job.iface->present || !job.card) {
      WipeBuffer(job.command);
      continue;
    }
    lock.unlock();
    std::vector<std::uint8_t> answer = job.card->ProcessApdu(job.command);
    WipeBuffer(job.command);
    lock.lock();
    Interface& iface = *job.iface;
    if (!iface.present) {
      WipeBuffer(answer);
      continue;
    }
    ++iface.key->commandsProcessed;
    if (iface.keyboard) {
      const std::size_t room = iface.key->options.keyboardLengths.feature > 2 ? iface.key->options.keyboardLengths.feature - 2u : 0u;
      if (answer.size() > room) {
        WipeBuffer(answer);
        answer.assign(kAnswerTooLong.begin(), kAnswerTooLong.end());
      }
      iface.featureAnswer = std::move(answer);
      iface.featureAnswerReady = true;
    } else {
      PostU2fAnswerLocked(iface, job.channel, answer);
      WipeBuffer(answer);
    }
  }
}

void VirtualHidApi::PostU2fAnswerLocked(Interface& iface, std::uint32_t channel, const std::vector<std::uint8_t>& answer) {
  const VirtualHidKeyOptions& options = iface.key->options;
  for (int i = 0; i < options.zeroLengthReports; ++i) QueueInputLocked(iface, InitPacketReport(channel, kMsg, 0));
  const std::size_t announced = options.fault == VirtualHidFault::LengthPastResponseArea ? 0xFFFF : answer.size();
  Report first = InitPacketReport(channel, kMsg, announced);
  std::size_t sent = std::min(answer.size(), kInitPayload);
  std::copy_n(answer.begin(), sent, first.begin() + kReportInitPayloadOffset);
  QueueInputLocked(iface, std::move(first));
  std::uint8_t sequence = options.fault == VirtualHidFault::WrongSequence ? 1 : 0;
  while (sent < answer.size()) {
    const std::size_t chunk = std::min(answer.size() - sent, kContinuationPayload);
    Report next = NewInputReport(channel);
    next[kReportCommandOffset] = sequence++;
    std::copy_n(answer.begin() + static_cast<std::ptrdiff_t>(sent), chunk, next.begin() + kReportContinuationPayloadOffset);
    QueueInputLocked(iface, std::move(next));
    sent += chunk;
  }
}

void VirtualHidApi::PostU2fErrorLocked(Interface& iface, std::uint32_t channel, std::uint8_t error) {
  Report report = InitPacketReport(channel, kError, 1);
  report[kReportInitPayloadOffset] = error;
  QueueInputLocked(iface, std::move(report));
}

void VirtualHidApi::QueueInputLocked(Interface& iface, Report report) {
  for (auto& [id, handle] : handles_) {
    if (handle->iface.get() != &iface) continue;
    handle->queue.push_back(report);
    while (handle->queue.size() > kMaxQueuedReports) handle->queue.pop_front();
  }
  OPENSSL_cleanse(report.data(), report.size());
  inputArrived_.notify_all();
}

int VirtualHidApi::ReadTimeout(HidHandle handle, std::uint8_t* report, std::size_t length, int timeoutMs) {
  std::unique_lock lock(mutex_);
  auto h = FindHandleLocked(handle);
  if (!h || report == nullptr || length == 0) return -1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    if (!h->iface->present || stopping_) return -1;
    if (!h->queue.empty()) {
      Report next = std::move(h->queue.front());
      h->queue.pop_front();
      const std::size_t size = std::min(length, next.size());
      std::memcpy(report, next.data(), size);
      OPENSSL_cleanse(next.data(), next.size());
      return static_cast<int>(size);
    }
    if (h->iface->zeroLengthForever && !h->iface->keyboard) {
      const Report empty = InitPacketReport(kBroadcastChannelId, kMsg, 0);
      const std::size_t size = std::min(length, empty.size());
      std::memcpy(report, empty.data(), size);
      return static_cast<int>(size);
    }
    if (inputArrived_.wait_until(lock, deadline) == std::cv_status::timeout) {
      if (h->queue.empty() && h->iface->present && !h->iface->zeroLengthForever) return 0;
    }
  }
}

bool VirtualHidApi::Flush(HidHandle handle) {
  std::lock_guard lock(mutex_);
  auto h = FindHandleLocked(handle);
  if (!h || !h->iface->present) return false;
  for (Report& queued : h->queue) OPENSSL_cleanse(queued.data(), queued.size());
  h->queue.clear();
  return true;
}

bool VirtualHidApi::GetReportLengths(HidHandle handle, HidReportLengths& lengths) {
  std::lock_guard lock(mutex_);
  auto h = FindHandleLocked(handle);
  if (!h || !h->iface->present) return false;
  lengths = h->iface->keyboard ? h->iface->key->options.keyboardLengths : h->iface->key->options.u2fLengths;
  return true;
}

void VirtualHidApi::Close(HidHandle handle) {
  std::lock_guard lock(mutex_);
  handles_.erase(handle);
}
