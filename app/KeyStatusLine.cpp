#include "app/KeyStatusLine.h"

#include <QAccessible>
#include <QEvent>
#include <QPalette>

#include "oath/UserPresence.h"
#include "ui/SkinStyle.h"

namespace {

constexpr auto kAnnouncementTime = std::chrono::seconds(6);
constexpr auto kCountdownTick = std::chrono::milliseconds(200);
constexpr int kMargin = 12;

}  // namespace

KeyStatusLine::KeyStatusLine(QWidget* window) : QLabel(window) {
  setObjectName(QStringLiteral("key_status"));
  setAccessibleName(QStringLiteral("Key status"));
  setFocusPolicy(Qt::NoFocus);
  // It floats over the log: clicks go to what lies beneath.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAlignment(Qt::AlignCenter);
  setMargin(8);
  // Dark on light windows, whatever the window's style says about labels.
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, QColor(skin::colour::kInk));
  colours.setColor(QPalette::WindowText, QColor(skin::colour::kSurface));
  setPalette(colours);
  hide();

  countdownTick_.setInterval(kCountdownTick);
  connect(&countdownTick_, &QTimer::timeout, this, [this] { Refresh(false); });
  announcementEnd_.setSingleShot(true);
  connect(&announcementEnd_, &QTimer::timeout, this, [this] {
    announcement_.clear();
    Refresh(false);
  });
  if (window != nullptr) window->installEventFilter(this);
}

void KeyStatusLine::SetWaiting(bool waiting) {
  if (waiting_ == waiting) return;
  waiting_ = waiting;
  Refresh(waiting);
}

void KeyStatusLine::StartTouchCountdown(std::chrono::milliseconds window) {
  counting_ = true;
  touchDeadline_ = std::chrono::steady_clock::now() + window;
  countdownTick_.start();
  Refresh(true);
}

void KeyStatusLine::StopTouchCountdown() {
  if (!counting_) return;
  counting_ = false;
  countdownTick_.stop();
  Refresh(false);
}

void KeyStatusLine::Announce(const QString& text) {
  announcement_ = text.trimmed();
  announcementEnd_.start(kAnnouncementTime);
  Refresh(true);
}

void KeyStatusLine::Refresh(bool alert) {
  QString shown;
  if (counting_) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(touchDeadline_ - std::chrono::steady_clock::now());
    // Rounded up: the last second shows as "1 s left" until the window has passed.
    const int seconds = left.count() <= 0 ? 0 : static_cast<int>((left.count() + 999) / 1000);
    shown = QString::fromStdString(TouchCountdownText(seconds));
  } else if (!announcement_.isEmpty()) {
    shown = announcement_;
  } else if (waiting_) {
    shown = QStringLiteral("Waiting for the key…");
  }
  if (shown.isEmpty()) {
    hide();
    return;
  }
  if (shown != text()) {
    setText(shown);
    // What a screen reader says of the line is what it shows.
    setAccessibleName(shown);
  }
  Place();
  show();
  raise();
  if (alert) {
    QAccessibleEvent event(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
  }
}

void KeyStatusLine::Place() {
  QWidget* window = parentWidget();
  if (window == nullptr) return;
  adjustSize();
  const int width = std::min(window->width() - 2 * kMargin, std::max(sizeHint().width(), 320));
  resize(width, sizeHint().height());
  move((window->width() - width) / 2, window->height() - height() - kMargin);
}

bool KeyStatusLine::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible()) Place();
  return QLabel::eventFilter(watched, event);
}
