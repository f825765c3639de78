// The yardstick for Tokvane's start-up: the least a Qt 6 Widgets program does to show a window of
// the main window's size. Ends as soon as the window is first painted and prints its peak memory.
#include <QApplication>
#include <QWidget>

#include "bench/WindowShownProbe.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Bare Qt window"));
  window.resize(990, 690);
  tokvane::bench::WindowShownProbe probe(window);
  window.show();
  return QApplication::exec();
}
