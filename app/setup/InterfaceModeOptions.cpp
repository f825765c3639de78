#include "app/setup/InterfaceModeOptions.h"

namespace interface_mode {

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

const char* PresetOptionFor(readers::PresentInterfaces present) {
  const Option* option = FindOptionByMode(readers::ModeByteOf(present));
  return option != nullptr ? option->name : kNoneOption;
}

}  // namespace interface_mode
