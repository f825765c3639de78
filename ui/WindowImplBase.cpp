#include "ui/WindowImplBase.h"

#include "ui/ComboBoxAccessible.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSizeGrip>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

#include "ui/SkinFiles.h"
#include "ui/SkinTexts.h"

namespace {

// Marks a control whose signals already feed a window, so attaching a subtree twice is harmless.
constexpr const char* kAttachedProperty = "_tokvaneAttached";
// Skin properties read by the window layer.
constexpr const char* kCaptionProperty = "caption";        // drag this area to move the window
constexpr const char* kMaximizableProperty = "maximizable";  // double-click on the caption zooms
constexpr const char* kSizeBoxProperty = "sizebox";        // a size grip in the bottom-right corner

// Controls whose inner widgets (a combo's popup list, a spin box's editor) are not controls of
// their own: only the outer control notifies.
bool IsCompoundControl(const QWidget* widget) {
  return qobject_cast<const QComboBox*>(widget) != nullptr ||
         qobject_cast<const QAbstractSpinBox*>(widget) != nullptr;
}

bool InsideCompoundControl(const QWidget* widget, const QWidget* stop) {
  for (const QWidget* up = widget->parentWidget(); up != nullptr && up != stop; up = up->parentWidget()) {
    if (IsCompoundControl(up)) return true;
  }
  return false;
}

}  // namespace

WindowImplBase::WindowImplBase() : QWidget(nullptr) {}

WindowImplBase::~WindowImplBase() {
  if (modalLoop_ != nullptr) modalLoop_->exit(0);
}

void WindowImplBase::OnClick(TNotifyUI&) {}

void WindowImplBase::Notify(TNotifyUI& msg) {
  if (msg.sType == notify_type::kClick) OnClick(msg);
}

QWidget* WindowImplBase::CreateControl(const QString&, QWidget*) { return nullptr; }

bool WindowImplBase::Create(QWidget* owner, const QString& caption, int width, int height) {
  owner_ = owner;
  InstallComboBoxAccessibleNames();
  setObjectName(GetWindowClassName());
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
  setWindowTitle(caption);

  QString error;
  root_ = skin::BuildSkinFile(GetSkinPath() + GetSkinFile(), this, this, error);
  if (root_ == nullptr) {
    skin::ReportSkinFailure(error);
    return false;
  }
  const QSize skinSize = root_->size();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(root_);
  if (root_->property(kSizeBoxProperty).toBool()) {
    // A frameless window has no border to drag, so a grip in the corner resizes it.
    sizeGrip_ = new QSizeGrip(this);
    sizeGrip_->setObjectName(QStringLiteral("sizebox"));
    sizeGrip_->setAccessibleName(TrQ("Resize window"));
  }
  // No size given: the size the skin file gives its root.
  resize(width > 0 && height > 0 ? QSize(width, height) : skinSize);

  if (owner_ != nullptr) {
    // Keeps the window above its owner and lets window modality refer to it.
    createWinId();
    if (QWidget* ownerWindow = owner_->window(); ownerWindow->windowHandle() != nullptr) {
      windowHandle()->setTransientParent(ownerWindow->windowHandle());
    }
  }

  AddNotifier(this);
  AttachControls(root_);
  InitWindow();
  return true;
}

void WindowImplBase::CenterWindow() {
  QRect area;
  if (owner_ != nullptr && owner_->window()->isVisible()) {
    area = owner_->window()->frameGeometry();
  } else if (QScreen* display = screen(); display != nullptr) {
    area = display->availableGeometry();
  } else if (QScreen* primary = QGuiApplication::primaryScreen(); primary != nullptr) {
    area = primary->availableGeometry();
  } else {
    return;
  }
  QRect frame = frameGeometry();
  frame.moveCenter(area.center());
  move(frame.topLeft());
}

QString WindowImplBase::GetSkinPath() const { return skin::ResolveSkinDirectory(GetSkinFolder()); }

QWidget* WindowImplBase::BuildSkin(const QString& fileName, IDialogBuilderCallback* callback,
                                   QWidget* parent) {
  QString error;
  QWidget* root = skin::BuildSkinFile(GetSkinPath() + fileName, callback, parent, error);
  if (root == nullptr) skin::ReportSkinFailure(error);
  return root;
}

QWidget* WindowImplBase::FindControl(const QString& name) const {
  if (name.isEmpty()) return nullptr;
  return findChild<QWidget*>(name, Qt::FindChildrenRecursively);
}

QWidget* WindowImplBase::FindSubControlByName(const QWidget* parent, const QString& name) {
  if (parent == nullptr || name.isEmpty()) return nullptr;
  return parent->findChild<QWidget*>(name, Qt::FindChildrenRecursively);
}

void WindowImplBase::AddNotifier(INotifyUI* receiver) {
  if (receiver != nullptr && std::find(notifiers_.begin(), notifiers_.end(), receiver) == notifiers_.end()) {
    notifiers_.push_back(receiver);
  }
}

void WindowImplBase::RemoveNotifier(INotifyUI* receiver) {
  notifiers_.erase(std::remove(notifiers_.begin(), notifiers_.end(), receiver), notifiers_.end());
}

void WindowImplBase::AttachControls(QWidget* subtree) {
  if (subtree == nullptr) return;
  AttachControl(subtree);
  const QList<QWidget*> below = subtree->findChildren<QWidget*>();
  for (QWidget* control : below) {
    if (!InsideCompoundControl(control, subtree)) AttachControl(control);
  }
}

void WindowImplBase::AttachControl(QWidget* control) {
  if (control->property(kCaptionProperty).toBool()) WatchCaptionArea(control);
  if (control->property(kAttachedProperty).toBool()) return;
  control->setProperty(kAttachedProperty, true);

  if (auto* button = qobject_cast<QAbstractButton*>(control)) {
    connect(button, &QAbstractButton::clicked, this, [this, button] { SendNotify(button, notify_type::kClick); });
    if (button->isCheckable()) {
      connect(button, &QAbstractButton::toggled, this,
              [this, button] { SendNotify(button, notify_type::kSelectChanged); });
    }
  } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
    connect(edit, &QLineEdit::textChanged, this, [this, edit] { SendNotify(edit, notify_type::kTextChanged); });
  } else if (auto* rich = qobject_cast<QTextEdit*>(control)) {
    // A read-only text (the output log) changes only by the program's own hand.
    if (!rich->isReadOnly()) {
      connect(rich, &QTextEdit::textChanged, this, [this, rich] { SendNotify(rich, notify_type::kTextChanged); });
    }
  } else if (auto* plain = qobject_cast<QPlainTextEdit*>(control)) {
    if (!plain->isReadOnly()) {
      connect(plain, &QPlainTextEdit::textChanged, this,
              [this, plain] { SendNotify(plain, notify_type::kTextChanged); });
    }
  } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
    connect(combo, &QComboBox::currentIndexChanged, this,
            [this, combo] { SendNotify(combo, notify_type::kSelectChanged); });
  } else if (auto* view = qobject_cast<QAbstractItemView*>(control)) {
    connect(view, &QAbstractItemView::clicked, this, [this, view] { SendNotify(view, notify_type::kItemClick); });
    connect(view, &QAbstractItemView::activated, this,
            [this, view] { SendNotify(view, notify_type::kItemActivate); });
    if (QItemSelectionModel* selection = view->selectionModel()) {
      connect(selection, &QItemSelectionModel::selectionChanged, this,
              [this, view] { SendNotify(view, notify_type::kSelectChanged); });
    }
  }
}

void WindowImplBase::RemoveControl(QWidget* control) {
  if (control == nullptr) return;
  control->hide();
  control->setParent(nullptr);
  control->deleteLater();
}

void WindowImplBase::SendNotify(QWidget* sender, const QString& type) {
  TNotifyUI msg{type, sender};
  // A receiver may unregister another (or itself) while the notification is under way.
  const std::vector<INotifyUI*> receivers = notifiers_;
  for (INotifyUI* receiver : receivers) {
    if (std::find(notifiers_.begin(), notifiers_.end(), receiver) != notifiers_.end()) receiver->Notify(msg);
  }
}

void WindowImplBase::SendSystemCommand(SystemCommand command) {
  switch (command) {
    case SystemCommand::Minimize:
      showMinimized();
      break;
    case SystemCommand::Maximize:
      showMaximized();
      break;
    case SystemCommand::Restore:
      showNormal();
      break;
    case SystemCommand::Close:
      close();
      break;
  }
}

int WindowImplBase::ShowModal() {
  QEventLoop loop;
  modalLoop_ = &loop;
  modalResult_ = 0;
  show();
  raise();
  activateWindow();
  loop.exec(QEventLoop::DialogExec);
  modalLoop_ = nullptr;
  return modalResult_;
}

void WindowImplBase::Close(int code) {
  modalResult_ = code;
  hide();
  if (modalLoop_ != nullptr) modalLoop_->exit(code);
}

void WindowImplBase::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (sizeGrip_ != nullptr) {
    const QSize hint = sizeGrip_->sizeHint();
    sizeGrip_->setGeometry(width() - hint.width(), height() - hint.height(), hint.width(), hint.height());
    sizeGrip_->raise();
  }
}

void WindowImplBase::WatchCaptionArea(QWidget* area) {
  area->installEventFilter(this);
}

bool WindowImplBase::eventFilter(QObject* watched, QEvent* event) {
  auto* area = qobject_cast<QWidget*>(watched);
  if (area == nullptr || !area->property(kCaptionProperty).toBool()) return QWidget::eventFilter(watched, event);

  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() != Qt::LeftButton || isMaximized()) break;
      // The window manager moves the window when it can; otherwise follow the mouse here. A
      // Wayland client cannot place itself: there only the compositor moves it.
      if (windowHandle() != nullptr && windowHandle()->startSystemMove()) return true;
      if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return true;
      dragging_ = true;
      dragOffset_ = mouse->globalPosition().toPoint() - frameGeometry().topLeft();
      return true;
    }
    case QEvent::MouseMove:
      if (dragging_) {
        move(static_cast<QMouseEvent*>(event)->globalPosition().toPoint() - dragOffset_);
        return true;
      }
      break;
    case QEvent::MouseButtonRelease:
      if (dragging_) {
        dragging_ = false;
        return true;
      }
      break;
    case QEvent::MouseButtonDblClick:
      if (root_ != nullptr && root_->property(kMaximizableProperty).toBool()) {
        SendSystemCommand(isMaximized() ? SystemCommand::Restore : SystemCommand::Maximize);
        return true;
      }
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}
