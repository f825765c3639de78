#pragma once
// What a panel may ask of the window it sits in: the current device, the output log, the applet
// selections and a few requests to the rest of the window. The panels know the window only
// through this interface, so the window can include them without their including it.
#include <cstdint>
#include <memory>
#include <string>

#include "app/OutputLog.h"
#include "device/DeviceBackends.h"
#include "device/DeviceInterface.h"

class KeyWorker;

class PanelContext {
 public:
  // The seams and key models every listing and transport of this window goes through.
  virtual const DeviceBackends& Backends() const = 0;
  // The thread every listing and probe of the panels runs on (the device's own calls go there by
  // themselves).
  virtual KeyWorker& Worker() = 0;
  // The current device, borrowed; nullptr when none is selected. Its calls run on the worker.
  virtual IDeveiceInterface* Device() = 0;
  // Counts every replacement or release of the device. A message box runs a nested loop in which
  // a device change may replace the device; an action that held the device across a box compares
  // the generation it noted before the box with this one before using the device again.
  virtual std::uint64_t DeviceGeneration() const = 0;
  // Whether the current device is a HID interface (false without a device).
  virtual bool IsHidDevice() const = 0;
  // Installs `device` as the current device (nullptr releases it), deleting the previous one,
  // and starts a new device generation. The reader panel is its only caller.
  virtual void ReplaceDevice(std::unique_ptr<IDeveiceInterface> device, bool isHidDevice) = 0;

  // One numbered log entry; false when the skin has no log.
  virtual bool AppendLog(const std::wstring& text, COLORREF colour) = 0;
  // True when a device is selected; otherwise logs "Please select device." in red.
  virtual bool CheckDeviceSelected() = 0;
  // Selects the OATH applet on the open current device. False when the device is not open or
  // the exchange failed; a refusing status word is logged and still counts as selected.
  virtual bool SelectOathApplet() = 0;
  // Re-selects the FIDO applet (opening the device if needed) and closes the device.
  virtual bool SelectFidoApplet() = 0;

  // Brings the reader panel into view, where the operator connects a key.
  virtual void ShowReaderPanel() = 0;
  // The key the shown credentials came from is no longer the one connected: they are dropped.
  virtual void CredentialsChanged() = 0;
  // The key has been let go: a secret typed for it is not left on screen.
  virtual void ForgetTypedSecret() = 0;

 protected:
  PanelContext() = default;
  PanelContext(const PanelContext&) = default;
  PanelContext& operator=(const PanelContext&) = default;
  // Never deleted through the interface: the window's owner deletes the window.
  virtual ~PanelContext() = default;
};
