#include "device/InterfaceMode.h"

#include <vector>

#include "device/CardOsCommands.h"

namespace interface_mode {
namespace {

constexpr std::uint16_t kSwTouchTimedOut = 0x6984;

}  // namespace

bool IsKnownMode(std::uint8_t modeByte) {
  return modeByte != 0 && (modeByte & ~card_os::kInterfaceAll) == 0;
}

CApduCommand BuildCommand(std::uint8_t modeByte) {
  return CommandFromBytes(BuildSetInterfaceMode(modeByte));
}

Outcome Classify(bool exchanged, const CApduResponse& response) {
  if (!exchanged) return Outcome::ExchangeFailed;
  if (response.IsSuccess()) return Outcome::Applied;
  if (response.StatusWord() == kSwTouchTimedOut) return Outcome::TouchTimedOut;
  return Outcome::Refused;
}

}  // namespace interface_mode
