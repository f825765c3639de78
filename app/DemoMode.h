#pragma once
// The demo: one virtual key with its smart-card (CCID), OTP keyboard and U2F interfaces,
// reached in-process through the PC/SC and HID seams instead of pcscd and hidraw. It holds two
// sample credentials, and a successful interface-mode command unplugs and re-plugs it, so the
// whole program can be seen and tried without hardware.
#include "keysim/DemoKeySetup.h"
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class VirtualKey;

class DemoMode {
 public:
  // Name of the key's smart-card reader.
  static constexpr const char* kReaderName = demo_key::kReaderName;
  // How long the key stays unplugged after a mode change, as an operator would take.
  static constexpr int kReplugDelayMs = 1500;

  // Plugs the virtual key in.
  DemoMode();
  ~DemoMode();
  DemoMode(const DemoMode&) = delete;
  DemoMode& operator=(const DemoMode&) = delete;

  VirtualKey& Key();
  // The key's reader and interfaces, for the window to use in place of the system's.
  const DeviceBackends& Backends() const { return rig_->Backends(); }
  // Told after every unplug and plug-in, as the system's device monitor would be (virtual HID
  // interfaces raise no udev event of their own).
  void SetDeviceChangeListener(std::function<void()> listener) { onDeviceChange_ = std::move(listener); }
  void Unplug();
  void PlugIn();
  bool IsPluggedIn() const;
  // Tests shorten the pause between the unplug and the plug-in that follow a mode change.
  void SetReplugDelay(int milliseconds) { replugDelayMs_ = milliseconds; }
  // Whether the window is still working with the key. After a mode change the key is pulled out
  // only once the window is done (its answer read, the request to re-plug shown), as an
  // operator would; without a check it is pulled out at once.
  void SetWindowBusyCheck(std::function<bool()> busy) { windowBusy_ = std::move(busy); }

 private:
  void OnModeChanged();
  void PullOutWhenTheWindowIsDone(int waitedMs);

  std::unique_ptr<demo_key::DemoKeyRig> rig_;
  int replugDelayMs_ = kReplugDelayMs;
  // Lets a queued re-plug find out that the demo has ended meanwhile.
  std::unique_ptr<QObject> guard_;
  std::function<void()> onDeviceChange_;
  std::function<bool()> windowBusy_;
};
