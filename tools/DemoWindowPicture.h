#pragma once
// The README's pictures: the demo window as an operator first sees it (connected, credentials
// listed), drawn on Qt's offscreen platform. scripts/screenshot.sh saves them into docs/; a GUI
// test draws them again and compares, so the pictures stay the program.
#include <QImage>
#include <QString>

#include "app/DemoMode.h"
#include "app/MainWnd.h"

enum class DemoPicture {
  Window,  // connected and listed, as after the first clicks
  Codes,   // the same with every credential's code shown
};

struct DemoPictureFile {
  DemoPicture picture;
  const char* fileName;  // in docs/
};
inline constexpr DemoPictureFile kDemoPictureFiles[] = {
    {DemoPicture::Window, "screenshot.png"},
    {DemoPicture::Codes, "screenshot-codes.png"},
};

// The demo window at its default size, shown and brought into the state of a picture. Boxes
// are confirmed while it lives, so nothing waits for an operator.
class DemoWindow {
 public:
  DemoWindow();
  ~DemoWindow();
  DemoWindow(const DemoWindow&) = delete;
  DemoWindow& operator=(const DemoWindow&) = delete;

  // False, with the reason in `failure`, when the window was not built or did not finish.
  bool Open(DemoPicture picture, QString* failure);
  // Serves events until the key worker has nothing left to do; false after the time limit.
  bool WaitUntilIdle();
  CMainWnd& Window() { return window_; }

 private:
  DemoMode demo_;
  CMainWnd window_;
  int cursorFlashTime_;
};

// Draws `picture` at the window's default size; needs a QApplication. An empty image, with the
// reason in `failure`, when the window could not be built or did not finish its work.
QImage DrawDemoPicture(DemoPicture picture, QString* failure);
