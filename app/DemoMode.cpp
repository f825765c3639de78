#include "app/DemoMode.h"

#include <QCoreApplication>
#include <QTimer>

#include "keysim/DemoKeySetup.h"
#include "keysim/VirtualKey.h"

namespace {

// The desktop demo keeps no state file, so its key always comes out of the box.
std::unique_ptr<demo_key::DemoKeyRig> FreshRig() {
  std::string unused;
  return demo_key::DemoKeyRig::Create(std::string(), unused);
}

}  // namespace

DemoMode::DemoMode() : rig_(FreshRig()), guard_(std::make_unique<QObject>()) {
  rig_->PlugIn();

  // The hook runs on a reader's thread before the answer goes back: the re-plug happens later,
  // on the GUI thread.
  QObject* guard = guard_.get();
  rig_->Key()->SetModeChangedHook([this, guard](std::uint8_t) {
    QMetaObject::invokeMethod(guard, [this] { OnModeChanged(); }, Qt::QueuedConnection);
  });
}

DemoMode::~DemoMode() {
  rig_->Key()->SetModeChangedHook(nullptr);
}

VirtualKey& DemoMode::Key() { return *rig_->Key(); }

bool DemoMode::IsPluggedIn() const { return rig_->IsPluggedIn(); }

void DemoMode::Unplug() {
  if (!rig_->IsPluggedIn()) return;
  rig_->Unplug();
  if (onDeviceChange_) onDeviceChange_();
}

void DemoMode::PlugIn() {
  if (rig_->IsPluggedIn()) return;
  rig_->PlugIn();
  if (onDeviceChange_) onDeviceChange_();
}

void DemoMode::OnModeChanged() { PullOutWhenTheWindowIsDone(0); }

void DemoMode::PullOutWhenTheWindowIsDone(int waitedMs) {
  // The hook fires before the key's answer is sent, and the window reads that answer on its key
  // worker: pulled out at once, the key would lose its own answer. The wait is bounded; a window
  // that is still busy after it finds the key gone, as it would a real one.
  constexpr int kPollMs = 20;
  constexpr int kLongestWaitMs = 10000;
  if (windowBusy_ && windowBusy_() && waitedMs < kLongestWaitMs) {
    QTimer::singleShot(kPollMs, guard_.get(), [this, waitedMs] { PullOutWhenTheWindowIsDone(waitedMs + kPollMs); });
    return;
  }
  // As an operator would: pull the key out, and put it back a little later.
  Unplug();
  QTimer::singleShot(replugDelayMs_, guard_.get(), [this] { PlugIn(); });
}
