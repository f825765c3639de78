#pragma once
// What a panel may ask of the window it sits in: the key worker, the current device, the output
// log and a few requests to the rest of the window. The panels know the window only through this
// interface, so the window can include them without their including it.
#include <memory>
#include <string>

#include "app/KeyConnection.h"
#include "app/OutputLog.h"
#include "device/DeviceBackends.h"

class KeyWorker;

class PanelContext {
 public:
  // The seams and key models every listing and transport of this window goes through.
  virtual const DeviceBackends& Backends() const = 0;
  // Where every task that reaches a key runs.
  virtual KeyWorker& Worker() = 0;
  // The current device; nullptr when none is selected. Its transport is the worker's alone.
  virtual std::shared_ptr<KeyConnection> Connection() const = 0;
  // Installs `connection` as the current device (nullptr releases it). The previous one is marked
  // released at once and let go of on the worker. The reader panel is the only caller.
  virtual void ReplaceDevice(std::shared_ptr<KeyConnection> connection) = 0;

  // One numbered log entry; false when the skin has no log.
  virtual bool AppendLog(const std::wstring& text, COLORREF colour) = 0;
  // True when a device is selected; otherwise logs "Please select device." in red.
  virtual bool CheckDeviceSelected() = 0;

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
