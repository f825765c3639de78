#pragma once
// The key's USB interface mode: which of its OTP keyboard, U2F and CCID interfaces it presents after
// it is plugged in again. The command that sets one and what the key's answer means; the reader
// panel's options and texts for it are in app/setup/InterfaceModeOptions.h.
#include <cstdint>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"

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

}  // namespace interface_mode
