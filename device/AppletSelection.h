#pragma once
// Selecting one of the key's applets: the exchange the window, the command-line program and the
// wake-up after plug-in send before the OATH applet's own commands, and the FIDO selection that
// leaves the key as its other users expect it.
#include <string>

#include "device/ApduCommand.h"
#include "device/ApduResponse.h"
#include "device/DeviceInterface.h"

namespace applets {

enum class Applet { Oath, Fido };

// The selection command of `applet`, as the log shows it.
CApduCommand SelectionCommand(Applet applet);

struct SelectionAnswer {
  // False when no answer came back; `reason` then holds the transport's text.
  bool exchanged = false;
  // The key's answer; a refusing status word still counts as exchanged.
  CApduResponse response;
  std::string reason;
};

// Sends the selection on `device` as it stands: a device that is not open fails the exchange.
SelectionAnswer Select(IDeveiceInterface& device, Applet applet);

}  // namespace applets
