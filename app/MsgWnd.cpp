#include "app/MsgWnd.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "ui/Controls.h"

namespace {

MessageBoxShownHook& ShownHook() {
  static MessageBoxShownHook hook;
  return hook;
}

constexpr int kConfirmed = 1;
constexpr int kDeclined = 0;

}  // namespace

void CMsgWnd::InitWindow() { m_pCloseBtn = FindControl(QStringLiteral("closebtn")); }

void CMsgWnd::OnClick(TNotifyUI& msg) {
  if (msg.pSender != nullptr && msg.pSender == m_pCloseBtn) {
    Close(kDeclined);
    return;
  }
  const QString name = controls::Name(msg.pSender).toLower();
  if (name.compare(QStringLiteral("confirm_btn"), Qt::CaseInsensitive) == 0) {
    Close(kConfirmed);
  } else if (name.compare(QStringLiteral("cancel_btn"), Qt::CaseInsensitive) == 0) {
    Close(kDeclined);
  }
}

void CMsgWnd::closeEvent(QCloseEvent* event) {
  // Alt+F4 and the window manager's close answer like the close button.
  event->accept();
  Close(kDeclined);
}

void CMsgWnd::keyPressEvent(QKeyEvent* event) {
  // A box that asks for a touch or a confirmation must be answered by a button.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  WindowImplBase::keyPressEvent(event);
}

unsigned ShowMessageBox(QWidget* owner, const std::wstring& title, const std::wstring& text, bool cancelByDefault) {
  auto box = std::make_unique<CMsgWnd>();
  QPointer<QWidget> ownerWindow = owner != nullptr ? owner->window() : nullptr;
  // Width and height 0: the size the skin file gives the box.
  if (!box->Create(ownerWindow, QStringLiteral("msgwnd"), 0, 0)) return kDeclined;
  box->CenterWindow();

  if (QWidget* titleControl = box->FindControl(QStringLiteral("MessageTitle")); titleControl && !title.empty()) {
    controls::SetText(titleControl, QString::fromStdWString(title));
  }
  if (QWidget* textControl = box->FindControl(QStringLiteral("MessageText")); textControl && !text.empty()) {
    controls::SetText(textControl, QString::fromStdWString(text));
  }

  if (cancelByDefault) {
    if (QWidget* cancel = box->FindControl(QStringLiteral("cancel_btn"))) {
      QTimer::singleShot(0, cancel, [cancel] { cancel->setFocus(Qt::OtherFocusReason); });
    }
  }

  // A box opened while another box already holds the owner disabled leaves it disabled.
  const bool ownerWasEnabled = ownerWindow != nullptr && ownerWindow->isEnabled();
  if (ownerWindow != nullptr) {
    box->setWindowModality(Qt::WindowModal);
    ownerWindow->setEnabled(false);
  }
  if (ShownHook()) {
    QTimer::singleShot(0, box.get(), [shown = box.get()] {
      if (ShownHook()) ShownHook()(*shown);
    });
  }
  const int code = box->ShowModal();
  if (ownerWindow != nullptr && ownerWasEnabled) {
    ownerWindow->setEnabled(true);
    ownerWindow->activateWindow();
  }
  return code == kConfirmed ? kConfirmed : kDeclined;
}

void SetMessageBoxShownHook(MessageBoxShownHook hook) { ShownHook() = std::move(hook); }
