#pragma once
// The skinned message box: a title, a text, confirm and cancel. Confirm answers 1; cancel, the
// close button and the system close command answer 0. Escape does not close it.
#include <functional>
#include <string>

#include "ui/WindowImplBase.h"

class CMsgWnd : public WindowImplBase {
  Q_OBJECT

 public:
  CMsgWnd() = default;

  QString GetWindowClassName() const override { return QStringLiteral("MsgWnd"); }
  QString GetSkinFile() const override { return QStringLiteral("msg.xml"); }
  void InitWindow() override;
  void OnClick(TNotifyUI& msg) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QWidget* m_pCloseBtn = nullptr;
};

// Shows a box and waits for the operator. With an owner the owner's window is disabled until
// the box closes (window-modal); without one every other window stays usable. Whatever the box
// waited for, the caller must re-check what it holds afterwards: device changes run meanwhile.
// Returns 1 when confirmed, 0 otherwise (also when the application quit meanwhile).
// `cancelByDefault`: the keyboard starts on the cancel button, for a question whose yes loses
// something for good.
unsigned ShowMessageBox(QWidget* owner, const std::wstring& title, const std::wstring& text,
                        bool cancelByDefault = false);

// Called once the box is on screen and its loop runs, so a test can read and answer it.
using MessageBoxShownHook = std::function<void(CMsgWnd& box)>;
void SetMessageBoxShownHook(MessageBoxShownHook hook);
