#include "tools/DemoWindowPicture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QListWidget>

#include "app/DemoMode.h"
#include "app/DeviceChangeMonitor.h"
#include "app/MainWnd.h"
#include "app/MsgWnd.h"
#include "keysim/DemoKeySetup.h"
#include "ui/Controls.h"
#include "ui/SkinTexts.h"

namespace {

constexpr int kWorkLimitMs = 20000;

// The demo key draws fresh secrets each run; the pictures show codes, so their key holds the
// same secret every time (RFC 4226's test secret).
int PictureSecretBytes(unsigned char* buffer, int count) {
  for (int i = 0; i < count; ++i) buffer[i] = static_cast<unsigned char>('0' + (i + 1) % 10);
  return 1;
}

}  // namespace

DemoWindow::DemoWindow() : window_(demo_.Backends()), cursorFlashTime_(QApplication::cursorFlashTime()) {
  // The same picture on every run: a caret that blinks would be caught in either phase.
  QApplication::setCursorFlashTime(0);
  demo_key::SeedSampleCredentials(demo_.Key(), PictureSecretBytes);
  SetMessageBoxShownHook([](CMsgWnd& box) {
    if (auto* confirm = box.FindControlAs<QAbstractButton>(QStringLiteral("confirm_btn"))) confirm->click();
  });
  demo_.SetDeviceChangeListener([this] { QCoreApplication::postEvent(&window_, new DeviceChangeEvent()); });
  demo_.SetWindowBusyCheck([this] { return window_.Worker().IsBusy(); });
}

DemoWindow::~DemoWindow() {
  window_.close();
  WaitUntilIdle();
  demo_.SetDeviceChangeListener(nullptr);
  demo_.SetWindowBusyCheck(nullptr);
  SetMessageBoxShownHook(nullptr);
  QApplication::setCursorFlashTime(cursorFlashTime_);
}

bool DemoWindow::WaitUntilIdle() {
  const QDeadlineTimer deadline(kWorkLimitMs);
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!window_.IsBusy()) {
      // Results the last task posted are shown before anything looks at the window.
      QCoreApplication::processEvents();
      if (!window_.IsBusy()) return true;
    }
  } while (!deadline.hasExpired());
  return false;
}

bool DemoWindow::Open(DemoPicture picture, QString* failure) {
  const auto fail = [failure](const char* reason) {
    if (failure != nullptr) *failure = QString::fromUtf8(reason);
    return false;
  };
  const auto click = [this](QWidget* control) {
    auto* button = qobject_cast<QAbstractButton*>(control);
    if (button == nullptr || !button->isEnabled()) return true;
    button->click();
    return WaitUntilIdle();
  };
  if (!window_.Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690)) return fail("the window was not built");
  controls::SetText(window_.FindControl(QStringLiteral("title_subtext")),
                    TrQ("demo mode \u2014 a virtual key, no hardware needed"));
  window_.show();
  if (!WaitUntilIdle()) return fail("the window did not finish listing the readers");
  // What an operator does first: connect, then list the credentials.
  if (!window_.HasDevice() && !click(window_.FindControl(QStringLiteral("Card_Connect")))) {
    return fail("connecting did not finish");
  }
  if (!window_.HasDevice()) return fail("the demo key was not connected");
  if (!click(window_.FindControl(QStringLiteral("list_names")))) return fail("listing did not finish");
  if (picture == DemoPicture::Codes) {
    auto* rows = window_.FindControlAs<QListWidget>(QStringLiteral("listview"));
    for (int i = 0; rows != nullptr && i < rows->count(); ++i) {
      QWidget* row = rows->itemWidget(rows->item(i));
      if (!click(row != nullptr ? row->findChild<QWidget*>(QStringLiteral("refresh_otp_data")) : nullptr)) {
        return fail("a code was not calculated");
      }
    }
  }
  return true;
}

QImage DrawDemoPicture(DemoPicture picture, QString* failure) {
  DemoWindow demo;
  if (!demo.Open(picture, failure)) return QImage();
  return demo.Window().grab().toImage();
}
