// The yardstick for Tokvane's start-up: the least a Qt 6 Widgets program does to show a window of
// the main window's size with a line of text in it (so it loads fonts, as any window with words
// does). Ends as soon as the window is first painted and prints its peak memory.
#include <QApplication>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include "bench/WindowShownProbe.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Bare Qt window"));
  window.resize(990, 690);
  auto* layout = new QVBoxLayout(&window);
  layout->addWidget(new QLabel(QStringLiteral("Hello from a bare Qt window")));
  tokvane::bench::WindowShownProbe probe(window);
  window.show();
  return QApplication::exec();
}
