#pragma once
// The window's current device. Its transport belongs to the key worker: it is opened, used,
// closed and destroyed there only. The window keeps the name and kind, and marks the connection
// released the moment the key goes or another is chosen, so a task that still holds it (waiting
// for the operator's answer to a box) stops before it sends anything more.
#include <atomic>
#include <memory>
#include <string>

#include "device/DeviceInterface.h"

struct KeyConnection {
  KeyConnection(std::unique_ptr<IDeveiceInterface> transport, std::wstring name, bool isHid)
      : transport(std::move(transport)), name(std::move(name)), isHid(isHid) {}
  KeyConnection(const KeyConnection&) = delete;
  KeyConnection& operator=(const KeyConnection&) = delete;

  bool IsReleased() const { return released.load(); }

  // Worker only.
  const std::unique_ptr<IDeveiceInterface> transport;
  const std::wstring name;
  const bool isHid;
  std::atomic<bool> released{false};
};
