#include "app/oath/UserPresencePrompt.h"

#include "app/MainWnd.h"
#include "app/MsgWnd.h"
#include "oath/UserPresence.h"

bool ConfirmUserPresence(IDeveiceInterface& device, CMainWnd& mainWnd) {
  if (!NeedsUserPresence(device)) return true;
  constexpr unsigned kConfirmed = 1;
  return ShowMessageBox(&mainWnd, kUserPresenceTitle, kUserPresenceText) == kConfirmed;
}
