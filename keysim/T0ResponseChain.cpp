#include "keysim/T0ResponseChain.h"

#include <algorithm>
#include <utility>

#include "core/SecureBytes.h"

namespace {

constexpr std::uint8_t kMoreDataSw1 = 0x61;
const T0ResponseChain::Bytes kNothingWaiting{0x69, 0x85};

}  // namespace

std::size_t T0ResponseChain::SentAtOnce(std::optional<std::size_t> expectedLength, bool commandHasData,
                                        std::size_t answerLength) {
  return (expectedLength && !commandHasData) ? std::min(*expectedLength, answerLength) : 0;
}

T0ResponseChain::~T0ResponseChain() { Drop(); }

T0ResponseChain::Bytes T0ResponseChain::Start(Bytes data, std::uint16_t finalStatus, std::size_t atOnce,
                                              std::size_t pieceLimit) {
  Drop();
  data_ = std::move(data);
  finalStatus_ = finalStatus;
  pieceLimit_ = pieceLimit;
  waiting_ = true;
  return Hand(std::min(atOnce, data_.size()));
}

bool T0ResponseChain::Waiting() const { return waiting_; }

T0ResponseChain::Bytes T0ResponseChain::Next(std::size_t requested) {
  if (!waiting_) return kNothingWaiting;
  return Hand(std::min({requested, data_.size() - offset_, pieceLimit_}));
}

void T0ResponseChain::Drop() {
  WipeBuffer(data_);
  data_.shrink_to_fit();
  offset_ = 0;
  waiting_ = false;
}

T0ResponseChain::Bytes T0ResponseChain::Hand(std::size_t count) {
  const auto begin = data_.begin() + static_cast<std::ptrdiff_t>(offset_);
  // Room for the trailer too: growing would leave an unwiped copy of the piece behind.
  Bytes out;
  out.reserve(count + 2);
  out.insert(out.end(), begin, begin + static_cast<std::ptrdiff_t>(count));
  offset_ += count;
  const std::size_t left = data_.size() - offset_;
  if (left == 0) {
    out.push_back(static_cast<std::uint8_t>(finalStatus_ >> 8));
    out.push_back(static_cast<std::uint8_t>(finalStatus_));
    Drop();
    return out;
  }
  // 61 00 stands for 256 or more; a card with smaller pieces announces no more than one piece.
  const std::size_t announced = std::min({left, pieceLimit_, kShortMaximum});
  out.push_back(kMoreDataSw1);
  out.push_back(static_cast<std::uint8_t>(announced & 0xFF));
  return out;
}
