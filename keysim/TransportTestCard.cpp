#include "keysim/TransportTestCard.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::uint8_t kInsGetResponse = 0xC0;
constexpr std::uint8_t kInsEnvelope = 0xC2;
constexpr std::size_t kHeaderLength = 4;
constexpr std::size_t kExtendedLcEnd = 7;  // header, 00, two Lc bytes

const TransportTestCard::Bytes kWrongLength{0x67, 0x00};

TransportTestCard::Bytes StatusWord(std::uint16_t status) {
  return {static_cast<std::uint8_t>(status >> 8), static_cast<std::uint8_t>(status & 0xFF)};
}

// The data field of a command, short or extended form; empty when it carries none.
TransportTestCard::Bytes CommandData(const TransportTestCard::Bytes& command) {
  if (command.size() <= kHeaderLength + 1) return {};
  const std::size_t first = command[kHeaderLength];
  if (first != 0) {
    const std::size_t end = std::min(command.size(), kHeaderLength + 1 + first);
    return {command.begin() + kHeaderLength + 1, command.begin() + static_cast<std::ptrdiff_t>(end)};
  }
  if (command.size() <= kExtendedLcEnd) return {};
  const std::size_t length = (std::size_t{command[5]} << 8) | command[6];
  const std::size_t end = std::min(command.size(), kExtendedLcEnd + length);
  return {command.begin() + kExtendedLcEnd, command.begin() + static_cast<std::ptrdiff_t>(end)};
}

// A reassembled command is complete once it holds an extended Lc and that many data bytes (an
// extended Le after them is optional, since a T=0 reader drops it).
bool EnvelopedCommandComplete(const TransportTestCard::Bytes& command) {
  if (command.size() < kExtendedLcEnd || command[kHeaderLength] != 0) return false;
  const std::size_t length = (std::size_t{command[5]} << 8) | command[6];
  return length != 0 && (command.size() == kExtendedLcEnd + length ||
                         command.size() == kExtendedLcEnd + length + 2);
}

// The Le of a GET RESPONSE command; absent or 00 means 256.
std::size_t ShortLe(const TransportTestCard::Bytes& command) {
  if (command.size() == kHeaderLength + 1 && command[kHeaderLength] != 0) return command[kHeaderLength];
  return T0ResponseChain::kShortMaximum;
}

}  // namespace

const TransportTestCard::Bytes TransportTestCard::kT0Atr{0x3B, 0x02, 0x14, 0x50};
const TransportTestCard::Bytes TransportTestCard::kT1Atr{0x3B, 0x80, 0x01, 0x81};

TransportTestCard::TransportTestCard(Protocol protocol)
    : atr_(protocol == Protocol::T0 ? kT0Atr : kT1Atr) {}

TransportTestCard::Bytes TransportTestCard::Atr() {
  std::lock_guard lock(mutex_);
  return atr_;
}

void TransportTestCard::PowerOn() {
  std::lock_guard lock(mutex_);
  ++resetCount_;
  chain_.Drop();
  envelope_.Drop();
}

void TransportTestCard::PowerOff() {
  std::lock_guard lock(mutex_);
  chain_.Drop();
  envelope_.Drop();
}

void TransportTestCard::Reset() { PowerOn(); }

void TransportTestCard::SetAtr(Bytes atr) {
  std::lock_guard lock(mutex_);
  atr_ = std::move(atr);
}

void TransportTestCard::SetAnswer(const Bytes& command, Bytes answer) {
  std::lock_guard lock(mutex_);
  script_[command] = ScriptedAnswer{std::move(answer), std::nullopt};
}

void TransportTestCard::SetDefaultAnswer(Bytes answer) {
  std::lock_guard lock(mutex_);
  defaultAnswer_ = std::move(answer);
}

void TransportTestCard::SetChainedAnswer(const Bytes& command, Bytes data, std::uint16_t finalStatus,
                                         std::size_t pieceLimit) {
  std::lock_guard lock(mutex_);
  Chain chain{std::move(data), finalStatus,
              std::clamp<std::size_t>(pieceLimit, 1, T0ResponseChain::kShortMaximum)};
  script_[command] = ScriptedAnswer{{}, std::move(chain)};
}

std::vector<TransportTestCard::Bytes> TransportTestCard::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::vector<TransportTestCard::Bytes> TransportTestCard::EnvelopedCommands() const {
  std::lock_guard lock(mutex_);
  return enveloped_;
}

int TransportTestCard::ResetCount() const {
  std::lock_guard lock(mutex_);
  return resetCount_;
}

void TransportTestCard::ClearRecord() {
  std::lock_guard lock(mutex_);
  received_.clear();
  enveloped_.clear();
  resetCount_ = 0;
}

TransportTestCard::Bytes TransportTestCard::ProcessApdu(const Bytes& command) {
  std::lock_guard lock(mutex_);
  received_.push_back(command);
  if (command.size() < kHeaderLength) return kWrongLength;
  switch (command[1]) {
    case kInsGetResponse:
      return ServeGetResponse(command);
    case kInsEnvelope:
      return ServeEnvelope(command);
    default:
      // Any other command abandons a chain or an enveloped command in progress.
      chain_.Drop();
      envelope_.Drop();
      return Answer(command);
  }
}

TransportTestCard::Bytes TransportTestCard::Answer(const Bytes& command) {
  const auto scripted = script_.find(command);
  if (scripted == script_.end()) return defaultAnswer_;
  return StartAnswer(scripted->second);
}

TransportTestCard::Bytes TransportTestCard::StartAnswer(const ScriptedAnswer& scripted) {
  if (!scripted.chain) return scripted.answer;
  return chain_.Start(scripted.chain->data, scripted.chain->finalStatus, 0, scripted.chain->pieceLimit);
}

TransportTestCard::Bytes TransportTestCard::ServeGetResponse(const Bytes& command) {
  if (command.size() > kHeaderLength + 1) return kWrongLength;
  return chain_.Next(ShortLe(command));
}

TransportTestCard::Bytes TransportTestCard::ServeEnvelope(const Bytes& command) {
  chain_.Drop();
  const Bytes piece = CommandData(command);
  // An ENVELOPE without data closes a command whose length fields did not say where it ends.
  const bool closing = piece.empty();
  if (!envelope_.Add(piece)) return kWrongLength;
  if (!closing && !EnvelopedCommandComplete(envelope_.Collected())) return StatusWord(0x9000);

  const Bytes inner = envelope_.Collected();
  envelope_.Drop();
  if (inner.size() < kHeaderLength) return kWrongLength;
  enveloped_.push_back(inner);
  return Answer(inner);
}
