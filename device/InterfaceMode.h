#pragma once
// The key's USB interface mode: which of its OTP keyboard, U2F and CCID interfaces it presents after
// it is plugged in again. The command that sets one and what the key's answer means; the reader
// panel's options and texts for it are in app/setup/InterfaceModeOptions.h.
#include <cstdint>
#include <string>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"
#include "device/DeviceInterface.h"
#include "core/Translate.h"

namespace interface_mode {

// True for a mode byte the key takes: a non-empty OR of card_os::kInterfaceOtp, kInterfaceU2f and
// kInterfaceCcid, nothing else.
bool IsKnownMode(std::uint8_t modeByte);

// 80 E1 FF 00 01 mode, as a parsed command.
CApduCommand BuildCommand(std::uint8_t modeByte);

enum class Outcome {
  ExchangeFailed,  // no answer came back: the transport's reason says why
  Applied,         // 90 00: the key takes the new set at its next plug-in
  TouchTimedOut,   // 69 84: the key waited in vain for the operator's touch
  Refused,         // any other status word
};

Outcome Classify(bool exchanged, const CApduResponse& response);

// What may have happened on a key that stopped answering after the mode command reached it.
inline constexpr const char* kMayHaveChanged = N_("its interface mode may or may not have been changed");

// The command goes out on a fresh connection: opens `device` when it is not open, then closes and
// opens it again (a failed reopen shows in the exchange). False, with nothing closed, when the
// device does not open at all.
bool OpenFreshConnection(IDeveiceInterface& device);

struct Answer {
  bool exchanged = false;
  CApduResponse response;
  Outcome outcome = Outcome::ExchangeFailed;
  // The transport's text when no status word came back (no answer, or one too short); else empty.
  std::string reason;
};

// Sends the mode command for `modeByte` on `device` and judges the answer.
Answer Send(IDeveiceInterface& device, std::uint8_t modeByte);

}  // namespace interface_mode
