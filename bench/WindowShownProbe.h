#pragma once
// Shared by the two start-up probes (the bare Qt window and Tokvane's main window): the moment a
// top-level window is first painted counts as "shown". The probe then ends the program and
// prints its peak resident memory, so the start-up benchmark can compare both programs as equals.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWidget>
#include <cstdio>
#include <fstream>
#include <string>

namespace tokvane::bench {

// Peak resident set size of this process in KiB (VmHWM), 0 when unknown.
inline long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

class WindowShownProbe : public QObject {
 public:
  explicit WindowShownProbe(QWidget& window) : QObject(&window) { window.installEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!done_ && event->type() == QEvent::Paint) {
      done_ = true;
      // After this paint has finished: the window is on screen.
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [] {
            std::printf("peak_rss_kib=%ld\n", PeakResidentKiB());
            std::fflush(stdout);
            QCoreApplication::exit(0);
          },
          Qt::QueuedConnection);
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool done_ = false;
};

}  // namespace tokvane::bench
