#include "device/InterfaceMode.h"

#include <vector>

#include "oath/OathCommands.h"

namespace interface_mode {
namespace {

constexpr std::uint16_t kSwTouchTimedOut = 0x6984;

}  // namespace

const Option* FindOption(std::string_view name) {
  for (const Option& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

const Option* FindOptionByMode(std::uint8_t modeByte) {
  for (const Option& option : kOptions) {
    if (option.modeByte == modeByte) return &option;
  }
  return nullptr;
}

CApduCommand BuildCommand(const Option& option) {
  const std::vector<std::uint8_t> bytes = BuildSetInterfaceMode(option.modeByte);
  CApduCommand command;
  command.Parse(bytes.data(), bytes.size());
  return command;
}

Outcome Classify(bool exchanged, const CApduResponse& response) {
  if (!exchanged) return Outcome::ExchangeFailed;
  if (response.IsSuccess()) return Outcome::Applied;
  if (response.StatusWord() == kSwTouchTimedOut) return Outcome::TouchTimedOut;
  return Outcome::Refused;
}

}  // namespace interface_mode
