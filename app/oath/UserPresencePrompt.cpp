#include "app/oath/UserPresencePrompt.h"

#include "app/MsgWnd.h"
#include "oath/UserPresence.h"

bool ConfirmUserPresence(IDeveiceInterface& device, QWidget* owner) {
  if (!NeedsUserPresence(device)) return true;
  constexpr unsigned kConfirmed = 1;
  return ShowMessageBox(owner, kUserPresenceTitle, kUserPresenceText) == kConfirmed;
}
