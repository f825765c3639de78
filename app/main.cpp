// Tokvane: the desktop tool for USB security keys.
#include <QApplication>
#include <QIcon>
#include <QTextStream>
#include <clocale>
#include <cstdio>
#include <memory>
#include <string>

#include "BuildConfig.h"
#include "app/DemoMode.h"
#include "app/DeviceChangeMonitor.h"
#include "app/MainWnd.h"
#include "core/CoreDumps.h"
#include "core/Translate.h"
#include "device/DeviceBackends.h"
#include "ui/Controls.h"
#include "ui/SkinFiles.h"
#include "ui/SkinTexts.h"

namespace {

constexpr const char* kUsage = N_(
    "Usage: tokvane [--demo]\n"
    "\n"
    "Tokvane manages USB security keys: it lists the readers a key shows up as, connects to one,\n"
    "switches the key's USB interface mode and manages the HOTP credentials of its OATH applet.\n"
    "\n"
    "  --demo      try everything without hardware: a built-in virtual key (smart-card reader,\n"
    "              OTP keyboard and U2F interfaces, two sample credentials) takes the place of\n"
    "              the system's readers\n"
    "  --help      show this text\n"
    "  --version   show the version\n"
    "\n"
    "Without --demo, keys are reached through the PC/SC smart-card service (pcscd) and the\n"
    "hidraw devices; a HID key is listed only when your user may open its /dev/hidraw node.\n");

struct Options {
  bool demo = false;
  bool help = false;
  bool version = false;
  QString unknown;
};

Options ParseOptions(const QStringList& arguments) {
  Options options;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == QLatin1String("--demo")) {
      options.demo = true;
    } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
      options.help = true;
    } else if (argument == QLatin1String("--version")) {
      options.version = true;
    } else if (options.unknown.isEmpty()) {
      options.unknown = argument;
    }
  }
  return options;
}

// Help and version need no display: they are answered before the window system is touched.
// Everything else is judged after Qt has taken its own options (-platform and the like).
Options ParseRawOptions(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  Options options = ParseOptions(arguments);
  options.unknown.clear();
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::string reason; !DisableCoreDumps(reason)) std::fprintf(stderr, "tokvane: %s\n", reason.c_str());
  tokvane::InitTranslations();
  const Options early = ParseRawOptions(argc, argv);
  if (early.help) {
    QTextStream(stdout) << QString::fromUtf8(tokvane::Tr(kUsage));
    return 0;
  }
  if (early.version) {
    QTextStream(stdout) << "tokvane " << tokvane::build::kVersion << "\n";
    return 0;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tokvane"));
  QApplication::setApplicationVersion(QString::fromLatin1(tokvane::build::kVersion));
  // The main window ends the program itself (close button, Alt+F4); a message box closing
  // before the main window is shown must not.
  QApplication::setQuitOnLastWindowClosed(false);

  const Options options = ParseOptions(QApplication::arguments());
  if (!options.unknown.isEmpty()) {
    QTextStream(stderr) << "tokvane: " << TrQ("unknown option %1").arg(options.unknown) << "\n\n"
                        << QString::fromUtf8(tokvane::Tr(kUsage));
    return 2;
  }

  // In demo mode every listing and connection of the window reaches the demo key.
  std::unique_ptr<DemoMode> demo;
  if (options.demo) demo = std::make_unique<DemoMode>();

  CMainWnd window(demo != nullptr ? demo->Backends() : SystemDeviceBackends());
  if (demo != nullptr) {
    demo->SetDeviceChangeListener([&window] { QCoreApplication::postEvent(&window, new DeviceChangeEvent()); });
    demo->SetWindowBusyCheck([&window] { return window.Worker().IsBusy(); });
  }
  window.StartDevicesAfterFirstPaint();
  if (!window.Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690)) return 1;
  QApplication::setWindowIcon(QIcon(skin::LoadSkinPicture(window.GetSkinPath() + QStringLiteral("R5.png"))));
  if (demo != nullptr) {
    controls::SetText(window.FindControl(QStringLiteral("title_subtext")),
                      TrQ("demo mode \u2014 a virtual key, no hardware needed"));
  }
  window.show();
  window.CenterWindow();
  const int code = QApplication::exec();
  if (demo != nullptr) {
    demo->SetDeviceChangeListener(nullptr);
    demo->SetWindowBusyCheck(nullptr);
  }
  return code;
}
