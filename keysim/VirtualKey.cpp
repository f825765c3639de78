#include "keysim/VirtualKey.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <optional>
#include <thread>
#include <utility>

#include "core/SecureBytes.h"
#include "device/CardOsCommands.h"
#include "keysim/ReceivedCommand.h"
#include "oath/OathAnswers.h"

namespace {

using Bytes = VirtualKey::Bytes;

const Bytes kWrongLength{0x67, 0x00};
const Bytes kNothingWaiting{0x69, 0x85};
const Bytes kWrongP1P2{0x6A, 0x86};
const Bytes kEnvelopeTakesMore{0x90, 0x00};

constexpr std::uint8_t kInsGetResponse = 0xC0;
constexpr std::uint8_t kInsEnvelope = 0xC2;
constexpr auto kTouchPoll = std::chrono::milliseconds(10);

}  // namespace

// 3B, T0 = 06 (no interface bytes, six historical bytes): T=0 only.
const Bytes VirtualKey::kT0Atr = {0x3B, 0x06, 'T', 'K', 'V', 'K', 'E', 'Y'};
// 3B, T0 = 86 (TD1 follows, six historical bytes), TD1 = 01 (T=1), historical bytes, TCK.
const Bytes VirtualKey::kT1Atr = [] {
  Bytes atr = {0x3B, 0x86, 0x01, 'T', 'K', 'V', 'K', 'E', 'Y'};
  std::uint8_t check = 0;
  for (std::size_t i = 1; i < atr.size(); ++i) check ^= atr[i];
  atr.push_back(check);
  return atr;
}();

VirtualKey::VirtualKey(VirtualKeyConfig config)
    : config_(std::move(config)), applet_(*this, config_.appletVersion, config_.capacity) {
  store_.interfaceMode = config_.interfaceMode;
  if (!config_.stateFile.empty()) {
    std::string content;
    std::string error;
    switch (ReadStateFile(config_.stateFile, content, error)) {
      case StateFileRead::Loaded:
        if (auto loaded = ParseVirtualKeyStore(content)) {
          store_ = std::move(*loaded);
          persist_ = true;
        } else {
          stateFileError_ = config_.stateFile + " does not hold a virtual key state";
        }
        break;
      case StateFileRead::Missing:
        persist_ = true;
        break;
      case StateFileRead::Failed:
        stateFileError_ = error;
        break;
    }
    OPENSSL_cleanse(content.data(), content.size());
  }
  presentInterfaces_ = store_.interfaceMode;
}

VirtualKey::~VirtualKey() {
  for (auto& apdu : received_) WipeBuffer(apdu);
}

VirtualKey::Bytes VirtualKey::Atr() { return config_.useT0 ? kT0Atr : kT1Atr; }

void VirtualKey::PowerOn() {
  std::lock_guard process(processMutex_);
  Deselect();
}

void VirtualKey::PowerOff() {
  std::lock_guard process(processMutex_);
  Deselect();
}

void VirtualKey::Reset() {
  std::lock_guard process(processMutex_);
  Deselect();
}

void VirtualKey::PlugIn() {
  std::lock_guard process(processMutex_);
  Deselect();
  std::lock_guard state(stateMutex_);
  presentInterfaces_ = store_.interfaceMode;
}

void VirtualKey::Deselect() {
  applet_.Deselect();
  chain_.Drop();
  envelope_.Drop();
}

VirtualKey::Bytes VirtualKey::ProcessApdu(const Bytes& bytes) {
  std::lock_guard process(processMutex_);
  Record(bytes);
  const auto command = ReceivedCommand::From(bytes);
  if (command && config_.useT0 && command->Apdu().Ins == kInsGetResponse &&
      command->Apdu().Cla == card_os::kClaIso) {
    return ServeGetResponse(*command);
  }
  chain_.Drop();
  if (!command) return kWrongLength;
  if (command->Apdu().Ins == kInsEnvelope) return ServeEnvelope(*command);
  envelope_.Drop();
  return Answer(*command);
}

void VirtualKey::Record(const Bytes& command) {
  std::lock_guard state(stateMutex_);
  received_.push_back(command);
  while (received_.size() > config_.receivedLogLimit) {
    WipeBuffer(received_.front());
    received_.pop_front();
  }
}

VirtualKey::Bytes VirtualKey::Answer(const ReceivedCommand& command) {
  Response response = applet_.Process(command.Apdu());
  const std::size_t atOnce =
      config_.useT0 ? T0ResponseChain::SentAtOnce(command.ExpectedLength(), !command.Apdu().Data.empty(),
                                                  response.data.size())
                    : response.data.size();
  return chain_.Start(std::move(response.data), response.sw, atOnce);
}

VirtualKey::Bytes VirtualKey::ServeGetResponse(const ReceivedCommand& command) {
  if (!chain_.Waiting()) return kNothingWaiting;
  if (command.Apdu().P1 != 0 || command.Apdu().P2 != 0) return kWrongP1P2;
  if (!command.Apdu().Data.empty()) return kWrongLength;
  return chain_.Next(command.ExpectedLength().value_or(T0ResponseChain::kShortMaximum));
}

VirtualKey::Bytes VirtualKey::ServeEnvelope(const ReceivedCommand& command) {
  if (!envelope_.Add(command.Apdu().Data)) return kWrongLength;
  switch (CompletenessOf(envelope_.Collected())) {
    case CommandCompleteness::Incomplete:
      return kEnvelopeTakesMore;
    case CommandCompleteness::Invalid:
      envelope_.Drop();
      return kWrongLength;
    case CommandCompleteness::Complete:
      break;
  }
  const auto inner = ReceivedCommand::From(envelope_.Collected());
  envelope_.Drop();
  if (!inner) return kWrongLength;
  return Answer(*inner);
}

std::array<std::uint8_t, 3> VirtualKey::CosVersion() const {
  std::lock_guard state(stateMutex_);
  return config_.cosVersion;
}

bool VirtualKey::AwaitTouch() {
  TouchMode mode;
  std::function<bool()> callback;
  std::chrono::milliseconds window;
  {
    std::lock_guard state(stateMutex_);
    if (!CosVersionNeedsTouch(config_.cosVersion[0], config_.cosVersion[1])) return true;
    mode = config_.touch;
    callback = config_.touchCallback;
    window = config_.touchWindow;
  }
  ++touchRequests_;
  if (mode == TouchMode::Always) return true;
  const auto deadline = std::chrono::steady_clock::now() + window;
  if (mode == TouchMode::Never || !callback) {
    std::this_thread::sleep_until(deadline);
    return false;
  }
  for (;;) {
    const bool touched = callback();
    const auto now = std::chrono::steady_clock::now();
    if (touched) return now <= deadline;  // a touch after the window does not count
    if (now >= deadline) return false;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(kTouchPoll, deadline - now));
  }
}

VirtualKeyStore VirtualKey::SnapshotStore() const {
  std::lock_guard state(stateMutex_);
  return store_;
}

bool VirtualKey::Commit(VirtualKeyStore updated) {
  bool persist;
  {
    std::lock_guard state(stateMutex_);
    persist = persist_;
  }
  if (persist) {
    std::string text = SerializeVirtualKeyStore(updated);
    std::string error;
    const bool written = WriteStateFileAtomically(config_.stateFile, text, error);
    OPENSSL_cleanse(text.data(), text.size());
    if (!written) {
      std::lock_guard state(stateMutex_);
      stateFileError_ = error;
      return false;
    }
  }
  std::lock_guard state(stateMutex_);
  store_ = std::move(updated);
  if (persist) stateFileError_.clear();
  return true;
}

void VirtualKey::InterfaceModeStored(std::uint8_t mode) {
  std::function<void(std::uint8_t)> hook;
  {
    std::lock_guard state(stateMutex_);
    hook = modeChangedHook_;
  }
  if (hook) hook(mode);
}

std::uint8_t VirtualKey::PresentInterfaces() const {
  std::lock_guard state(stateMutex_);
  return presentInterfaces_;
}

std::uint8_t VirtualKey::StoredInterfaceMode() const {
  std::lock_guard state(stateMutex_);
  return store_.interfaceMode;
}

std::vector<VirtualCredentialState> VirtualKey::Credentials() const {
  std::lock_guard state(stateMutex_);
  std::vector<VirtualCredentialState> result;
  for (const auto& credential : store_.credentials) {
    result.push_back({credential.name, credential.counter, credential.digits,
                      store_.defaultName && *store_.defaultName == credential.name});
  }
  return result;
}

std::vector<VirtualKey::Bytes> VirtualKey::ReceivedApdus() const {
  std::lock_guard state(stateMutex_);
  return {received_.begin(), received_.end()};
}

void VirtualKey::ClearReceivedApdus() {
  std::lock_guard state(stateMutex_);
  for (auto& apdu : received_) WipeBuffer(apdu);
  received_.clear();
}

bool VirtualKey::IsOathSelected() const { return applet_.IsOathSelected(); }

int VirtualKey::TouchRequests() const { return touchRequests_; }

void VirtualKey::SetCosVersion(const std::array<std::uint8_t, 3>& version) {
  std::lock_guard state(stateMutex_);
  config_.cosVersion = version;
}

void VirtualKey::SetTouchSource(TouchMode mode, std::function<bool()> callback) {
  std::lock_guard state(stateMutex_);
  config_.touch = mode;
  config_.touchCallback = std::move(callback);
}

void VirtualKey::SetTouchWindow(std::chrono::milliseconds window) {
  std::lock_guard state(stateMutex_);
  config_.touchWindow = window;
}

void VirtualKey::SetModeChangedHook(std::function<void(std::uint8_t)> hook) {
  std::lock_guard state(stateMutex_);
  modeChangedHook_ = std::move(hook);
}

std::string VirtualKey::StateFileError() const {
  std::lock_guard state(stateMutex_);
  return stateFileError_;
}
