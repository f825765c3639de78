// Takes the README's screenshot: the main window in demo mode, drawn on Qt's offscreen platform
// and saved as a PNG. Built by tools/CMakeLists.txt (target tokvane_screenshot), run by
// scripts/screenshot.sh.
#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <clocale>
#include <cstdio>
#include <memory>

#include "app/DemoMode.h"
#include "app/MainWnd.h"
#include "app/MsgWnd.h"
#include "core/Translate.h"
#include "device/PcscInterface.h"
#include "ui/Controls.h"
#include "ui/SkinTexts.h"

namespace {

// What an operator does first: connect and list the credentials (nothing happens for a button
// whose behaviour is not there).
void ClickIfPresent(CMainWnd& window, const char* name) {
  if (auto* button = window.FindControlAs<QAbstractButton>(QString::fromLatin1(name)); button && button->isEnabled()) {
    button->click();
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
    return 2;
  }
  tokvane::InitTranslations();
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const QString output = QString::fromLocal8Bit(argv[1]);

  // Boxes the steps below may raise are confirmed, so the run never waits for an operator.
  SetMessageBoxShownHook([](CMsgWnd& box) {
    if (auto* confirm = box.FindControlAs<QAbstractButton>(QStringLiteral("confirm_btn"))) confirm->click();
  });

  DemoMode demo;
  CMainWnd window(demo.Backends());
  if (!window.Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690)) return 1;
  controls::SetText(window.FindControl(QStringLiteral("title_subtext")),
                    TrQ("demo mode \u2014 a virtual key, no hardware needed"));
  window.show();

  int code = 1;
  QTimer::singleShot(300, &window, [&window] {
    if (window.HasDevice()) return;
    ClickIfPresent(window, "Card_Connect");
  });
  QTimer::singleShot(700, &window, [&window] { ClickIfPresent(window, "list_names"); });
  QTimer::singleShot(1500, &window, [&window, &output, &code] {
    code = window.grab().save(output) ? 0 : 1;
    QCoreApplication::exit(code);
  });
  QApplication::exec();
  SetMessageBoxShownHook(nullptr);
  return code;
}
