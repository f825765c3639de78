#include "device/AppletSelection.h"

#include "device/CardOsCommands.h"

namespace applets {

CApduCommand SelectionCommand(Applet applet) {
  return CommandFromBytes(applet == Applet::Oath ? BuildSelectOath() : BuildSelectFido());
}

SelectionAnswer Select(IDeveiceInterface& device, Applet applet) {
  SelectionAnswer answer;
  answer.exchanged = device.Exchange(SelectionCommand(applet), answer.response);
  // Read at once: a later close may leave a reason of its own.
  if (!answer.exchanged) answer.reason = device.GetLastErrorText();
  return answer;
}

}  // namespace applets
