#pragma once
// The reader panel's interface-mode options: the skin name of each, the mode byte it sends and what
// is logged when the key takes it, and the texts of the switch's outcomes. The command and the
// judging of the key's answer are in device/InterfaceMode.h.
#include <array>
#include <cstdint>
#include <string_view>

#include "device/ReaderDiscovery.h"
#include "core/Translate.h"

namespace interface_mode {

// One choice: the skin name of its option, the mode byte sent (OR of 0x10 OTP, 0x20 U2F and
// 0x40 CCID) and what is logged when the key takes it.
struct Option {
  const char* name;
  std::uint8_t modeByte;
  const char* successMessage;
};

// In the order in which the apply action looks for the selected option: the first selected wins.
inline constexpr std::array<Option, 7> kOptions{{
    {"otp_select", 0x10, N_("Apply otp device successful.\n")},
    {"u2f_select", 0x20, N_("Apply u2f device successful.\n")},
    {"otp_u2f_select", 0x30, N_("Apply otp and u2f device successful.\n")},
    {"ccid_select", 0x40, N_("Apply ccid device successful.\n")},
    {"otp_ccid_select", 0x50, N_("Apply otp and ccid device successful.\n")},
    {"u2f_ccid_select", 0x60, N_("Apply u2f and ccid device successful.\n")},
    {"u2f_ccid_otp_select", 0x70, N_("Apply otp ,u2f and ccid device successful.\n")},
}};

// The option that sends nothing.
inline constexpr const char* kNoneOption = "none_select";

// Texts of the switch's outcomes.
inline constexpr const char* kReplugRequest = N_("Mode switch finish please pull out plug card again.\n");
inline constexpr const char* kTouchTimedOut = N_("Confirm Time out.\n");
inline constexpr const char* kSetDeviceFailed = N_("Set device fail.\n");
inline constexpr const char* kPleaseConnect = N_("Please connect device.\n");

// The option of that skin name; nullptr for "none_select" and any other name.
const Option* FindOption(std::string_view name);
// The option that sends this mode byte; nullptr for 0 and any byte outside the table.
const Option* FindOptionByMode(std::uint8_t modeByte);
// The skin name of the mode option that re-applies the set: "none_select" for none.
const char* PresetOptionFor(readers::PresentInterfaces present);

}  // namespace interface_mode
