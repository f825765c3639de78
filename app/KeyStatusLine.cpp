#include "app/KeyStatusLine.h"

#include <QAccessible>
#include <QEvent>
#include <QMouseEvent>
#include <QPalette>

#include "oath/UserPresence.h"
#include "ui/SkinStyle.h"
#include "ui/SkinTexts.h"

namespace {

constexpr auto kAnnouncementTime = std::chrono::seconds(6);
constexpr auto kCountdownTick = std::chrono::milliseconds(200);

}  // namespace

KeyStatusLine::KeyStatusLine(QWidget* parent) : QLabel(parent) {
  setObjectName(QStringLiteral("key_status"));
  setAccessibleName(TrQ("Key status"));
  setFocusPolicy(Qt::NoFocus);
  setTextFormat(Qt::PlainText);
  setWordWrap(true);
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
    shown = TrQ("Waiting for the key…");
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
  show();
  if (alert) {
    QAccessibleEvent event(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
  }
}

void KeyStatusLine::mousePressEvent(QMouseEvent* event) {
  // The operator has read it: the announcement goes; a countdown or wait still shows.
  announcementEnd_.stop();
  announcement_.clear();
  Refresh(false);
  QLabel::mousePressEvent(event);
}
