#pragma once
// What the GUI tests share: answering message boxes, reading the output log back with its
// colours, and a device that hands every command to a card in the same process.
#include <QAccessible>
#include <QColor>
#include <QString>
#include <QStringList>
#include <QTextEdit>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/KeyConnection.h"
#include "app/KeyTaskHost.h"
#include "app/MainWnd.h"
#include "app/MsgWnd.h"
#include "device/DeviceInterface.h"
#include "keysim/VirtualCard.h"
#include "tests/support/CardDevice.h"

class QAbstractButton;
class QPlatformAccessibility;

namespace guitest {

// How a test answers a message box.
// Leave: no answer; the action run while the box is open ends it some other way.
enum class BoxAnswer { Confirm, Cancel, CloseButton, SystemClose, Leave };

struct ShownBox {
  QString title;
  QString text;
  bool ownerEnabled = true;  // the owner's state while the box was open (true without owner)
};

// Answers every box with `answer` while it lives and records what each box showed. An action
// runs before the answer, with the box open.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(BoxAnswer answer = BoxAnswer::Confirm, QWidget* watchedOwner = nullptr);
  ~BoxAnswerer();
  BoxAnswerer(const BoxAnswerer&) = delete;
  BoxAnswerer& operator=(const BoxAnswerer&) = delete;

  void SetAnswer(BoxAnswer answer) { answer_ = answer; }
  void SetWhileOpen(std::function<void(CMsgWnd&)> action) { whileOpen_ = std::move(action); }
  const std::vector<ShownBox>& Shown() const { return shown_; }

 private:
  BoxAnswer answer_;
  QWidget* watchedOwner_;
  std::function<void(CMsgWnd&)> whileOpen_;
  std::vector<ShownBox> shown_;
};

void Answer(CMsgWnd& box, BoxAnswer answer);

// One stretch of log text in one colour.
struct LogRun {
  QString text;
  QColor color;
};
std::vector<LogRun> LogRuns(const QTextEdit& log);

// A log entry: its header number, its text and the colour of that text.
struct LogEntry {
  int number = -1;
  QString text;
  QColor color;
};
// Splits the log into entries by their headers; also checks every header is purple.
std::vector<LogEntry> LogEntries(const QTextEdit& log, bool* headersPurple = nullptr);

// One expected log entry: its exact text and colour.
struct ExpectedEntry {
  ExpectedEntry(const char* text, QColor color) : text(QString::fromUtf8(text)), color(std::move(color)) {}
  ExpectedEntry(QString text, QColor color) : text(std::move(text)), color(std::move(color)) {}
  QString text;
  QColor color;
};
// The window's whole log is exactly `expected`, entry by entry; a difference fails the test and
// prints both lists.
void ExpectLog(const QWidget& window, const std::vector<ExpectedEntry>& expected);
// The log as "text [colour]" lines, for a failure message.
std::string DescribeLog(const std::vector<LogEntry>& entries);

// The main window's output log, found by its skin name ("RichEdit_InitDeomo"); nullptr when the
// window has none.
QTextEdit* LogControl(const QWidget& window);
// The entries of the window's output log; a missing log fails the test and has none.
std::vector<LogEntry> WindowLog(const QWidget& window);
// Empties the window's output log; a missing log fails the test.
void ClearWindowLog(const QWidget& window);

// The rows of the window's reader list ("list_for_reader"), as shown; none without the list.
QStringList ReaderRows(const QWidget& window);

inline const QColor kLogBlue = QColor(0, 0, 255);
inline const QColor kLogRed = QColor(255, 0, 0);
inline const QColor kLogPurple = QColor(0x87, 0x13, 0x97);

using ::CardDevice;

// A card that answers the applet selections with a chosen status word and records what it got.
class SelectCard final : public VirtualCard {
 public:
  std::vector<std::uint8_t> Atr() override { return {0x3B, 0x02, 0x14, 0x50}; }
  void PowerOn() override {}
  void PowerOff() override {}
  void Reset() override {}
  std::vector<std::uint8_t> ProcessApdu(const std::vector<std::uint8_t>& command) override {
    received.push_back(command);
    return {static_cast<std::uint8_t>(statusWord >> 8), static_cast<std::uint8_t>(statusWord & 0xFF)};
  }
  std::uint16_t statusWord = 0x9000;
  std::vector<std::vector<std::uint8_t>> received;
};

using AccessibleEvents = std::vector<std::pair<QAccessible::Event, QString>>;

// While it lives, assistive technology counts as running (as a screen reader makes it on a
// desktop; the offscreen platform has none), and the events on `watched` are recorded with the
// name its interface has then, instead of going to the platform.
class AccessibleEventRecorder {
 public:
  explicit AccessibleEventRecorder(QObject* watched);
  ~AccessibleEventRecorder();
  AccessibleEventRecorder(const AccessibleEventRecorder&) = delete;
  AccessibleEventRecorder& operator=(const AccessibleEventRecorder&) = delete;

  AccessibleEvents events;

 private:
  static void Record(QAccessibleEvent* event);

  static inline QObject* watched_ = nullptr;
  static inline AccessibleEvents* events_ = nullptr;
  QPlatformAccessibility* platform_ = nullptr;
  bool wasActive_ = false;
  QAccessible::UpdateHandler previous_ = nullptr;
};

// Runs the application's loop until something ends it, or at most `limitMs` (then 7).
int RunApplicationLoop(int limitMs);

// Serves the GUI thread's events until the window's key worker has run every task and the window
// has shown their results; a window still busy after `limitMs` fails the test.
void Settle(const CMainWnd& window, int limitMs = 15000);
// The same from inside a box an action shows: until only the tasks waiting for the operator are
// left (the refresh a device change started meanwhile has been shown).
void SettleBehindBox(CMainWnd& window, int waitingTasks = 1);
// Clicks a button and settles the window afterwards.
void ClickAndSettle(CMainWnd& window, QAbstractButton* button);
// Runs `step` with a task host for the window's current device as one task on its worker, and
// settles the window; boxes are modal to the window.
void RunTask(CMainWnd& window, const std::function<void(KeyTaskHost&)>& step);
// Whether the window's current transport is open, asked on its worker; false without one.
bool DeviceIsOpen(CMainWnd& window);
// Opens the window's device and selects the OATH applet on it, as an action does, in one task;
// true when it opened and the selection was made. The device stays open.
bool OpenAndSelectOath(CMainWnd& window);

// Hex text of bytes as the log writes it ("00 A4 04 00").
QString Hex(const std::vector<std::uint8_t>& bytes);

}  // namespace guitest
