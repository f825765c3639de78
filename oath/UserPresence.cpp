#include "oath/UserPresence.h"

#include <cstdint>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"
#include "device/DeviceInterface.h"
#include "oath/OathAnswers.h"
#include "oath/OathCommands.h"
#include "core/Translate.h"

bool NeedsUserPresence(IDeveiceInterface& device) {
  const OathBytes query = BuildGetCosVersion();
  CApduCommand command;
  if (!command.Parse(query.data(), query.size())) return false;
  CApduResponse response;
  if (!device.Exchange(command, response) || !response.IsSuccess()) return false;
  // A version shorter than two bytes: the missing byte reads as 00.
  const std::uint8_t first = response.Data.size() > 0 ? response.Data[0] : 0x00;
  const std::uint8_t second = response.Data.size() > 1 ? response.Data[1] : 0x00;
  return CosVersionNeedsTouch(first, second);
}

std::string TouchCountdownText(int secondsLeft) {
  return tokvane::Substitute(tokvane::Tr("Touch the key: %1 s left"), {std::to_string(secondsLeft)});
}
