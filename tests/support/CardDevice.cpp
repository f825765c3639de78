#include "tests/support/CardDevice.h"

#include <cstdint>
#include <vector>

bool CardDevice::Open() {
  ++calls;
  if (failOpen) {
    error_ = "The device could not be opened.";
    return false;
  }
  ++opens;
  open_ = true;
  card_->PowerOn();
  return true;
}

bool CardDevice::IsOpen() {
  ++calls;
  return open_;
}

bool CardDevice::Close() {
  ++calls;
  ++closes;
  if (!open_) {
    error_ = "Interface already disconnected.";
    return false;
  }
  open_ = false;
  card_->PowerOff();
  return true;
}

bool CardDevice::Exchange(const CApduCommand& command, CApduResponse& response) {
  ++calls;
  if (!open_) {
    error_ = "The device is not open.";
    return false;
  }
  if (failExchange || command.Ins == failIns) {
    error_ = failureText;
    return false;
  }
  if (command.Ins == silentIns) {
    // The key went mid-command: no status word, as the real transports tell it.
    error_ = kNoStatusWordText;
    return true;
  }
  const std::vector<std::uint8_t> answer = card_->ProcessApdu(command.Serialize());
  return response.Parse(answer.data(), answer.size());
}
