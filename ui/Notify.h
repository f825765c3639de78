#pragma once
// What the window layer tells the application: a control did something. Receivers are plain
// interfaces so that panels, windows and tests can all listen to the same window.
#include <QString>

class QWidget;

// Notification type names the application reacts to.
namespace notify_type {
inline const QString kClick = QStringLiteral("click");
inline const QString kTextChanged = QStringLiteral("textchanged");
inline const QString kSelectChanged = QStringLiteral("selectchanged");
inline const QString kItemClick = QStringLiteral("itemclick");
inline const QString kItemActivate = QStringLiteral("itemactivate");
}  // namespace notify_type

struct TNotifyUI {
  QString sType;
  // The control that caused the notification. It stays alive at least until every receiver
  // has returned, even when one of them removes it.
  QWidget* pSender = nullptr;
};

class INotifyUI {
 public:
  virtual void Notify(TNotifyUI& msg) = 0;

 protected:
  ~INotifyUI() = default;
};

// Asked for every class a skin file declares as the application's own (under <customwidgets>);
// nullptr fails the skin.
class IDialogBuilderCallback {
 public:
  virtual QWidget* CreateControl(const QString& className, QWidget* parent) = 0;

 protected:
  ~IDialogBuilderCallback() = default;
};
