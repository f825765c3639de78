// Tokvane's start-up as the program runs it (locale, application, the start transport, the main
// window built from its skin with both panels, the VID/PID list), ended as soon as the main window
// is first painted. As in the program, the first reader-list refresh and the device notifications
// follow that paint. The skin and the VID/PID file come from the source tree, so the probe runs
// from the build folder.
#include <QApplication>
#include <QIcon>
#include <clocale>
#include <memory>

#include "app/MainWnd.h"
#include "bench/WindowShownProbe.h"
#include "device/PcscInterface.h"
#include "ui/SkinFiles.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tokvane"));
  QApplication::setQuitOnLastWindowClosed(false);
  skin::SetSkinDirectoryOverride(QStringLiteral(TOKVANE_SOURCE_DIR "/skin"));

  CMainWnd window(SystemDeviceBackends());
  window.SetVidPidConfigFiles({TOKVANE_SOURCE_DIR "/packaging/Pid_Vid_Config.xml"});
  tokvane::bench::WindowShownProbe probe(window);
  window.StartDevicesAfterFirstPaint();
  if (!window.Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690)) return 1;
  QApplication::setWindowIcon(QIcon(skin::LoadSkinPicture(window.GetSkinPath() + QStringLiteral("R5.png"))));
  window.show();
  window.CenterWindow();
  return QApplication::exec();
}
