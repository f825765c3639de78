#include "app/DeviceChangeMonitor.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <chrono>

#ifdef TOKVANE_HAVE_LIBUDEV
#include <libudev.h>
#endif

namespace {

// pcscd's pseudo reader whose state changes when a reader appears or vanishes.
constexpr const char* kPnpReaderName = "\\\\?PnP?\\Notification";
// One wait for a reader change; Stop cancels it early.
constexpr DWORD kReaderWaitMs = 10'000;
// After a failure (pcscd not running, or it went away) the watcher tries again this much later.
constexpr int kRetrySeconds = 5;
// A service that reports a change on every call must not flood the window with refreshes.
constexpr auto kMinimumChangeInterval = std::chrono::milliseconds(250);

}  // namespace

QEvent::Type DeviceChangeEvent::EventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

struct DeviceChangeMonitor::UdevHandles {
#ifdef TOKVANE_HAVE_LIBUDEV
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  ~UdevHandles() {
    if (monitor != nullptr) udev_monitor_unref(monitor);
    if (context != nullptr) udev_unref(context);
  }
#endif
};

DeviceChangeMonitor::DeviceChangeMonitor(QObject* target) : target_(target) {}

DeviceChangeMonitor::~DeviceChangeMonitor() { Stop(); }

void DeviceChangeMonitor::PostChange() { QCoreApplication::postEvent(target_, new DeviceChangeEvent()); }

bool DeviceChangeMonitor::StartUdev() {
#ifdef TOKVANE_HAVE_LIBUDEV
  if (udevNotifier_ != nullptr) return true;
  auto handles = std::make_unique<UdevHandles>();
  handles->context = udev_new();
  if (handles->context == nullptr) return false;
  handles->monitor = udev_monitor_new_from_netlink(handles->context, "udev");
  if (handles->monitor == nullptr) return false;
  udev_monitor_filter_add_match_subsystem_devtype(handles->monitor, "usb", "usb_device");
  udev_monitor_filter_add_match_subsystem_devtype(handles->monitor, "hidraw", nullptr);
  if (udev_monitor_enable_receiving(handles->monitor) < 0) return false;
  const int descriptor = udev_monitor_get_fd(handles->monitor);
  if (descriptor < 0) return false;
  udev_ = std::move(handles);
  udevNotifier_ = new QSocketNotifier(descriptor, QSocketNotifier::Read);
  QObject::connect(udevNotifier_, &QSocketNotifier::activated, udevNotifier_, [this] { OnUdevReadable(); });
  return true;
#else
  return false;
#endif
}

void DeviceChangeMonitor::OnUdevReadable() {
#ifdef TOKVANE_HAVE_LIBUDEV
  // The monitor's socket does not block: take every queued event, one refresh each.
  while (udev_device* device = udev_monitor_receive_device(udev_->monitor)) {
    udev_device_unref(device);
    PostChange();
  }
#endif
}

void DeviceChangeMonitor::StartPcscWatcher(std::shared_ptr<PcscApi> api) {
  if (api == nullptr || watcher_.joinable()) return;
  stopping_ = false;
  watcherFinished_ = false;
  watcherApi_ = api;
  watcher_ = std::thread([this, api = std::move(api)] {
    WatchReaders(api);
    watcherFinished_ = true;
  });
}

bool DeviceChangeMonitor::PauseUnlessStopping(int seconds) {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait_for(lock, std::chrono::seconds(seconds), [this] { return stopping_.load(); });
  return !stopping_;
}

void DeviceChangeMonitor::WatchReaders(std::shared_ptr<PcscApi> api) {
  while (!stopping_) {
    SCARDCONTEXT context = 0;
    if (api->EstablishContext(&context) != SCARD_S_SUCCESS) {
      if (!PauseUnlessStopping(kRetrySeconds)) return;
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      watcherContext_ = context;
      watcherHasContext_ = true;
    }

    SCARD_READERSTATE state{};
    state.szReader = kPnpReaderName;
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    // The first answer only tells the current state; a change is what comes after it.
    LONG result = api->GetStatusChange(context, 0, &state, 1);
    const bool supported = result == SCARD_S_SUCCESS || result == SCARD_E_TIMEOUT;
    if (result == SCARD_S_SUCCESS) state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
    auto lastChange = std::chrono::steady_clock::now() - kMinimumChangeInterval;

    while (supported && !stopping_) {
      result = api->GetStatusChange(context, kReaderWaitMs, &state, 1);
      if (result == SCARD_E_TIMEOUT) continue;
      if (result != SCARD_S_SUCCESS) break;  // cancelled, or the service went away
      const bool changed = (state.dwEventState & SCARD_STATE_CHANGED) != 0;
      state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
      if (!changed) continue;
      const auto now = std::chrono::steady_clock::now();
      if (now - lastChange < kMinimumChangeInterval) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, kMinimumChangeInterval, [this] { return stopping_.load(); });
      }
      lastChange = std::chrono::steady_clock::now();
      if (!stopping_) PostChange();
    }

    {
      std::lock_guard<std::mutex> lock(mutex_);
      watcherHasContext_ = false;
    }
    api->ReleaseContext(context);
    if (!stopping_ && !PauseUnlessStopping(kRetrySeconds)) return;
  }
}

void DeviceChangeMonitor::Stop() {
  stopping_ = true;
  if (watcher_.joinable()) {
    // A cancel can slip in just before the thread starts its next wait, so it is repeated
    // until the thread has left; each wait is bounded anyway.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReaderWaitMs + 1000);
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (watcherHasContext_ && watcherApi_ != nullptr) watcherApi_->Cancel(watcherContext_);
      }
      wake_.notify_all();
      if (watcherFinished_) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    watcher_.join();
  }
  delete udevNotifier_;
  udevNotifier_ = nullptr;
  udev_.reset();
}
