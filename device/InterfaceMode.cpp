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

bool OpenFreshConnection(IDeveiceInterface& device) {
  if (!device.IsOpen()) device.Open();
  if (!device.IsOpen()) return false;
  device.Close();
  device.Open();
  return true;
}

Answer Send(IDeveiceInterface& device, std::uint8_t modeByte) {
  Answer answer;
  answer.exchanged = device.Exchange(BuildCommand(modeByte), answer.response);
  answer.outcome = Classify(answer.exchanged, answer.response);
  // Read at once: closing the device afterwards may leave a reason of its own.
  if (!answer.exchanged || !answer.response.HasStatusWord()) answer.reason = device.GetLastErrorText();
  return answer;
}

}  // namespace interface_mode
