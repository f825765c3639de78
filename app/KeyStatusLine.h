#pragma once
// A status strip under the output log that says what the key is doing and what went wrong, for the
// eye and for assistive technology alike: "Waiting for the key…" while a step takes its time, a
// live countdown while the key waits for the operator's touch, and a short-lived announcement of a
// failed action. Each new text is also sent to screen readers as an alert. It takes a line of its
// own, so it never covers the log; hidden while it has nothing to say; a click dismisses an
// announcement; it never takes the keyboard focus.
#include <QLabel>
#include <QTimer>
#include <chrono>

class KeyStatusLine : public QLabel {
  Q_OBJECT

 public:
  explicit KeyStatusLine(QWidget* parent);

  void SetWaiting(bool waiting);
  void StartTouchCountdown(std::chrono::milliseconds window);
  void StopTouchCountdown();
  // Says `text` for a few seconds.
  void Announce(const QString& text);

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Shows the most pressing text (countdown, announcement, waiting) or hides the line.
  void Refresh(bool alert);

  bool waiting_ = false;
  bool counting_ = false;
  std::chrono::steady_clock::time_point touchDeadline_;
  QString announcement_;
  QTimer countdownTick_;
  QTimer announcementEnd_;
};
