#include "app/WorkerBoundDevice.h"

#include <functional>
#include <utility>

#include "app/KeyWorker.h"

WorkerBoundDevice::WorkerBoundDevice(KeyWorker& worker, std::unique_ptr<IDeveiceInterface> transport)
    : worker_(worker), transport_(std::move(transport)), alive_(std::make_shared<int>(0)) {
  if (transport_ != nullptr) name_ = transport_->GetName();
}

WorkerBoundDevice::~WorkerBoundDevice() {
  if (transport_ == nullptr) return;
  // The transport goes on the worker, behind any step still running on it (the window may let go
  // of a device from within one), and before the window goes on: a device replaced is a device
  // closed. std::function wants a copyable callable, so the transport rides in a shared pointer
  // that only the step holds.
  std::function<void()> release = [transport = std::shared_ptr<IDeveiceInterface>(std::move(transport_))]() mutable {
    transport.reset();
  };
  // A closing program still lets go of it, without waiting.
  if (!worker_.Run(release)) worker_.Post(std::move(release));
}

template <class Call>
bool WorkerBoundDevice::OnWorker(Call&& call) {
  // The steps use the transport's address taken here, on the GUI thread, never the member.
  IDeveiceInterface* transport = transport_.get();
  const std::weak_ptr<int> alive = alive_;
  const bool ran = worker_.Run([&call, transport] { call(*transport); });
  // The window may have let go of this device while the step ran: nothing of it is touched then.
  if (alive.expired()) return ran;
  notRunReason_ = ran ? std::string() : std::string(kClosingText);
  return ran;
}

bool WorkerBoundDevice::Open() {
  bool opened = false;
  return OnWorker([&opened](IDeveiceInterface& transport) { opened = transport.Open(); }) && opened;
}

bool WorkerBoundDevice::IsOpen() {
  bool open = false;
  return OnWorker([&open](IDeveiceInterface& transport) { open = transport.IsOpen(); }) && open;
}

bool WorkerBoundDevice::Close() {
  bool closed = false;
  return OnWorker([&closed](IDeveiceInterface& transport) { closed = transport.Close(); }) && closed;
}

bool WorkerBoundDevice::Exchange(const CApduCommand& command, CApduResponse& response) {
  bool answered = false;
  return OnWorker([&](IDeveiceInterface& transport) { answered = transport.Exchange(command, response); }) &&
         answered;
}

std::string WorkerBoundDevice::GetLastErrorText() {
  if (!notRunReason_.empty()) return std::exchange(notRunReason_, std::string());
  std::string reason;
  if (!OnWorker([&reason](IDeveiceInterface& transport) { reason = transport.GetLastErrorText(); })) {
    return kClosingText;
  }
  return reason;
}

void WorkerBoundDevice::SetName(const std::wstring& name) {
  name_ = name;
  OnWorker([&name](IDeveiceInterface& transport) { transport.SetName(name); });
}

std::wstring WorkerBoundDevice::GetName() { return name_; }
