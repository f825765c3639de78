#pragma once
// Whether the key wants the operator's touch before a guarded command. Keys of some card-OS
// versions carry out a credential-changing or code-producing command only after a touch within
// three seconds and answer 69 84 otherwise; the version tells them apart.
#include <chrono>
#include <string>

#include "core/Translate.h"

class IDeveiceInterface;

// How long such a key waits for the touch once the guarded command has reached it.
inline constexpr std::chrono::milliseconds kUserPresenceWindow{3000};

// The box (or terminal prompt) shown before a guarded command on a key that wants a touch; shown
// translated (core/Translate.h).
inline constexpr const char* kUserPresenceTitle = N_("Tip");
inline constexpr const char* kUserPresenceText =
    N_("Please touch the blinking space on FIDO device within 3 seconds after clicking continue.");

// Asks the card OS for its version over the already open transport and judges the first two data
// bytes. The query is not logged and the transport stays open. A failed or refused query counts
// as "no touch needed": the command then goes out and a key that waited in vain says 69 84.
bool NeedsUserPresence(IDeveiceInterface& device);

// One step of the countdown shown while the key waits for the touch: "Touch the key: 3 s left".
std::string TouchCountdownText(int secondsLeft);
