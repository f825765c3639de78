#pragma once
// Tells the main window that the set of devices may have changed: from a libudev monitor (USB
// devices and hidraw nodes) watched on the GUI thread, and from pcscd's reader-change
// notification waited for on a thread of its own. Each event is posted to the target as a
// DeviceChangeEvent. Neither source is required: without them no event ever arrives.
#include <QEvent>
#include <QObject>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "device/PcscApi.h"

class QSocketNotifier;

class DeviceChangeEvent : public QEvent {
 public:
  static QEvent::Type EventType();
  DeviceChangeEvent() : QEvent(EventType()) {}
};

class DeviceChangeMonitor {
 public:
  explicit DeviceChangeMonitor(QObject* target);
  ~DeviceChangeMonitor();
  DeviceChangeMonitor(const DeviceChangeMonitor&) = delete;
  DeviceChangeMonitor& operator=(const DeviceChangeMonitor&) = delete;

  // Starts both sources; false for a source that could not be started.
  bool StartUdev();
  void StartPcscWatcher(std::shared_ptr<PcscApi> api);
  // Stops the watcher thread (SCardCancel wakes it) and closes the udev monitor.
  void Stop();

 private:
  struct UdevHandles;

  void PostChange();
  void OnUdevReadable();
  void WatchReaders(std::shared_ptr<PcscApi> api);
  // Waits up to `seconds` unless Stop comes first; false when stopping.
  bool PauseUnlessStopping(int seconds);

  QObject* target_;
  std::unique_ptr<UdevHandles> udev_;
  QSocketNotifier* udevNotifier_ = nullptr;

  std::thread watcher_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> watcherFinished_{false};
  std::mutex mutex_;
  std::condition_variable wake_;
  SCARDCONTEXT watcherContext_ = 0;
  bool watcherHasContext_ = false;
  std::shared_ptr<PcscApi> watcherApi_;
};
