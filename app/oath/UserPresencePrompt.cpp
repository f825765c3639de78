#include "app/oath/UserPresencePrompt.h"

#include "app/KeyWorker.h"
#include "app/MsgWnd.h"
#include "app/WorkerBoundDevice.h"
#include "oath/UserPresence.h"

bool ConfirmUserPresence(IDeveiceInterface& device, QWidget* owner) {
  if (!NeedsUserPresence(device)) return true;
  // Taken before the box: its loop may let go of the device, never of the worker.
  auto* bound = dynamic_cast<WorkerBoundDevice*>(&device);
  KeyWorker* worker = bound != nullptr ? &bound->Worker() : nullptr;
  constexpr unsigned kConfirmed = 1;
  if (ShowMessageBox(owner, kUserPresenceTitle, kUserPresenceText) != kConfirmed) return false;
  // The guarded command goes out next; the window counts the touch window down while it waits.
  if (worker != nullptr) worker->ExpectTouch(kUserPresenceWindow);
  return true;
}
