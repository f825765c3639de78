#pragma once
// The base of every skinned window: a frameless top-level window whose content is built from a
// skin file, whose controls are found by name, and whose control signals become notifications
// delivered to every registered receiver.
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <vector>

#include "ui/Notify.h"

class QEventLoop;
class QSizeGrip;

enum class SystemCommand { Minimize, Maximize, Restore, Close };

class WindowImplBase : public QWidget, public INotifyUI, public IDialogBuilderCallback {
  Q_OBJECT

 public:
  WindowImplBase();
  ~WindowImplBase() override;
  WindowImplBase(const WindowImplBase&) = delete;
  WindowImplBase& operator=(const WindowImplBase&) = delete;

  // What a window says about itself.
  virtual QString GetWindowClassName() const = 0;
  virtual QString GetSkinFolder() const { return QStringLiteral("skin"); }
  virtual QString GetSkinFile() const = 0;
  // Runs once the skin is built and its controls are attached.
  virtual void InitWindow() {}
  virtual void OnClick(TNotifyUI& msg);
  // Default receiver behaviour: "click" goes to OnClick.
  void Notify(TNotifyUI& msg) override;
  QWidget* CreateControl(const QString& className, QWidget* parent) override;

  // A width or height of 0 takes the size of the skin's root.
  // Builds the skin (GetSkinFile from the skin folder), attaches every control and runs
  // InitWindow. False after a skin failure the installed handler chose to survive. Without a
  // failure handler a skin failure ends the process with exit code 1.
  bool Create(QWidget* owner, const QString& caption, int width, int height);
  // Centred on the owner or, without one, on the available area of the screen.
  void CenterWindow();

  // The skin folder, ending in '/'.
  QString GetSkinPath() const;
  // Builds another skin file of the same folder (a panel's content) below `parent`. A failure is
  // reported like the window's own skin; nullptr when the handler returns.
  QWidget* BuildSkin(const QString& fileName, IDialogBuilderCallback* callback, QWidget* parent);

  QWidget* FindControl(const QString& name) const;
  static QWidget* FindSubControlByName(const QWidget* parent, const QString& name);
  template <class T>
  T* FindControlAs(const QString& name) const {
    return qobject_cast<T*>(FindControl(name));
  }

  // Receivers get every notification of every control, in the order they were added.
  void AddNotifier(INotifyUI* receiver);
  void RemoveNotifier(INotifyUI* receiver);
  // Turns the signals of `subtree` and everything below it into notifications; for controls
  // added after the window was built (list rows). Attaching twice does nothing more.
  void AttachControls(QWidget* subtree);
  // Takes a control out of the window at once (hidden, no longer found by name) and destroys it
  // only when control is back in the event loop, so the notification that removed it, and any
  // receiver after it, still hold a valid sender.
  static void RemoveControl(QWidget* control);
  void SendNotify(QWidget* sender, const QString& type);

  void SendSystemCommand(SystemCommand command);

  // Modal use: runs a local event loop until Close. Returns the code given to Close, 0 when the
  // loop ended for another reason (the application quitting).
  int ShowModal();
  void Close(int code);
  bool IsInModalLoop() const { return modalLoop_ != nullptr; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void AttachControl(QWidget* control);
  void WatchCaptionArea(QWidget* area);

  QPointer<QWidget> owner_;
  QWidget* root_ = nullptr;
  QSizeGrip* sizeGrip_ = nullptr;
  std::vector<INotifyUI*> notifiers_;
  QEventLoop* modalLoop_ = nullptr;
  int modalResult_ = 0;
  bool dragging_ = false;
  QPoint dragOffset_;
};
