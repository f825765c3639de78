#pragma once
// The command-line form of a key's interface set: interface names joined by '+', as in
// "otp+u2f+ccid" (any order, any case).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "device/CardOsCommands.h"

namespace cli {

inline constexpr std::uint8_t kModeOtp = card_os::kInterfaceOtp;
inline constexpr std::uint8_t kModeU2f = card_os::kInterfaceU2f;
inline constexpr std::uint8_t kModeCcid = card_os::kInterfaceCcid;

// The interface-mode byte for `text`; nothing for an empty set, an unknown or repeated name, or an
// empty part ("otp++u2f"). A key with no interface at all could not be reached again, so there is
// no spelling for it.
std::optional<std::uint8_t> ParseInterfaceSet(std::string_view text);

// "otp", "u2f" and "ccid" joined by '+' in that order; "none" for no interface.
std::string FormatInterfaceSet(std::uint8_t mode);

}  // namespace cli
