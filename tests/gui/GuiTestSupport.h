#pragma once
// What the GUI tests share: answering message boxes, reading the output log back with its
// colours, a device that hands every command to a card in the same process, and (readertest) the
// real main window over the virtual key, reached through both seams (an in-process smart-card
// reader and virtual HID interfaces), with refreshes only when a test asks for one.
#include <QAccessible>
#include <QColor>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextEdit>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/KeyConnection.h"
#include "app/KeyTaskHost.h"
#include "app/MainWnd.h"
#include "app/MsgWnd.h"
#include "device/DeviceInterface.h"
#include "device/PcscApi.h"
#include "keysim/VirtualCard.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "tests/support/CardDevice.h"
#include "tests/support/ThreadCheckedSeams.h"

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
  bool operator==(const ShownBox&) const = default;
};
inline void PrintTo(const ShownBox& box, std::ostream* out) {
  *out << '"' << box.title.toStdString() << ": " << box.text.toStdString() << (box.ownerEnabled ? "\"" : "\" (modal)");
}

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

// A log entry: its header number, its text and the colour of that text.
struct LogEntry {
  int number = -1;
  QString text;
  QColor color;
  bool operator==(const LogEntry&) const = default;
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

// Creates the main window as the program does, its start-up boxes answered with `answer`, shows it
// and settles it; false when it could not be created. Not for use while another BoxAnswerer lives.
bool ShowMainWindow(CMainWnd& window, BoxAnswer answer = BoxAnswer::Confirm);

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

class QMessageBox;

namespace readertest {

inline constexpr const char* kKeyReader = "Tokvane Key CCID 00 00";
inline constexpr const char* kKbName = "VORTAN HID DEVICE KB 0";
inline constexpr const char* kU2fName = "VORTAN HID DEVICE U2F 1";
inline constexpr std::uint8_t kAllInterfaces = kVirtualOtpInterface | kVirtualU2fInterface | kVirtualCcidInterface;

// The virtual reader, except that reader changes are never reported: the main window's watcher
// stays quiet, and each test decides when a device change reaches the panel.
class QuietPcscApi final : public PcscApi {
 public:
  explicit QuietPcscApi(std::shared_ptr<PcscApi> inner) : inner_(std::move(inner)) {}
  // The service behind it stops or starts while the window holds on to this seam.
  void SetInner(std::shared_ptr<PcscApi> inner) {
    std::lock_guard lock(innerMutex_);
    inner_ = std::move(inner);
  }
  LONG EstablishContext(SCARDCONTEXT* context) override { return Inner()->EstablishContext(context); }
  LONG ReleaseContext(SCARDCONTEXT context) override { return Inner()->ReleaseContext(context); }
  LONG ListReaders(SCARDCONTEXT context, std::vector<char>& multiString) override {
    return Inner()->ListReaders(context, multiString);
  }
  LONG Connect(SCARDCONTEXT context, const std::string& readerName, DWORD shareMode, DWORD preferred,
               SCARDHANDLE* card, DWORD* active) override {
    return Inner()->Connect(context, readerName, shareMode, preferred, card, active);
  }
  LONG Disconnect(SCARDHANDLE card, DWORD disposition) override { return Inner()->Disconnect(card, disposition); }
  LONG Transmit(SCARDHANDLE card, DWORD protocol, const BYTE* send, DWORD sendLength, BYTE* receive,
                DWORD* receiveLength) override {
    return Inner()->Transmit(card, protocol, send, sendLength, receive, receiveLength);
  }
  LONG GetAttrib(SCARDHANDLE card, DWORD attributeId, std::vector<BYTE>& value) override {
    return Inner()->GetAttrib(card, attributeId, value);
  }
  LONG Status(SCARDHANDLE card, std::vector<BYTE>& atr, DWORD* state, DWORD* protocol) override {
    return Inner()->Status(card, atr, state, protocol);
  }
  // Waits out the time-out, or until cancelled, and reports no change.
  LONG GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states, DWORD count) override;
  LONG Cancel(SCARDCONTEXT context) override;
  std::string ErrorText(LONG code) override { return Inner()->ErrorText(code); }

 private:
  std::shared_ptr<PcscApi> Inner() {
    std::lock_guard lock(innerMutex_);
    return inner_;
  }

  std::mutex innerMutex_;
  std::shared_ptr<PcscApi> inner_;
  std::mutex mutex_;
  std::condition_variable cancelled_;
  std::uint64_t cancels_ = 0;
};

// Answers the system's information boxes (QMessageBox) while it lives, recording each one.
class InformationBoxAnswerer {
 public:
  InformationBoxAnswerer();
  ~InformationBoxAnswerer();
  InformationBoxAnswerer(const InformationBoxAnswerer&) = delete;
  InformationBoxAnswerer& operator=(const InformationBoxAnswerer&) = delete;

  const std::vector<guitest::ShownBox>& Shown() const { return shown_; }

 private:
  void AnswerOpenBoxes();
  std::vector<guitest::ShownBox> shown_;
  class QTimer* timer_;
};

// The virtual key with some of its answers replaced, and every command it was sent recorded.
class ScriptedAnswers final : public VirtualCard {
 public:
  using Bytes = std::vector<std::uint8_t>;
  // Returns the answer to give instead of the key's, or nothing to let the key answer.
  using Rule = std::function<std::optional<Bytes>(const Bytes& command)>;

  ScriptedAnswers(std::shared_ptr<VirtualKey> key, Rule rule) : key_(std::move(key)), rule_(std::move(rule)) {}
  Bytes Atr() override { return key_->Atr(); }
  void PowerOn() override { key_->PowerOn(); }
  void PowerOff() override { key_->PowerOff(); }
  void Reset() override { key_->Reset(); }
  Bytes ProcessApdu(const Bytes& command) override;
  std::vector<Bytes> Received() const;

 private:
  std::shared_ptr<VirtualKey> key_;
  Rule rule_;
  mutable std::mutex mutex_;
  std::vector<Bytes> received_;
};

// A VID/PID configuration naming the maker's vendor, written into `directory`; its path.
std::string WriteMakerConfig(const QTemporaryDir& directory);

class ReaderPanelWindow : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Plugs the key in with these interfaces (0x10 OTP, 0x20 U2F, 0x40 CCID): its HID interfaces
  // and its smart-card reader appear; no refresh yet.
  void PlugKey(std::uint8_t interfaces);
  void UnplugKey();
  // A reader of its own, without a card.
  void AddEmptyReader(const std::string& name);

  // Creates the main window; its start-up refresh sees what is plugged in now. The log is
  // cleared afterwards unless asked to keep it.
  void Start(bool keepLog = false);
  // One device change, as the window's monitors deliver it.
  void Refresh();
  void Click(const char* name);
  void SelectOption(const char* name);

  InitDemoToCardUI& Panel();
  QStringList Rows();
  std::vector<int> SelectedRows();
  // The names of every selected mode option.
  QStringList SelectedOptions();
  std::vector<guitest::LogEntry> Log();
  QWidget* Control(const char* name);
  template <class T>
  T* ControlAs(const char* name) {
    return qobject_cast<T*>(Control(name));
  }
  bool Enabled(const char* name);
  // A row of the credential list ("listview"), nullptr past its end; the names the rows show.
  QWidget* CredentialRow(int index);
  QStringList RowNames();
  std::string DeviceName();

  QTemporaryDir configDir;
  std::shared_ptr<VirtualKey> key;
  // What the key's interfaces reach; the key itself unless a test puts something in front of it.
  std::shared_ptr<VirtualCard> card;
  std::shared_ptr<VirtualPcscApi> pcsc;
  std::shared_ptr<VirtualHidApi> hid;
  // The window's backends: the virtual reader behind a quiet service seam, and the HID interfaces.
  std::shared_ptr<QuietPcscApi> service;
  // The seams the window gets: they note any call made on the GUI thread.
  std::shared_ptr<ThreadCheckedPcscApi> checkedPcsc;
  std::shared_ptr<ThreadCheckedHidApi> checkedHid;
  DeviceBackends backends;
  VirtualHidApi::KeyId hidKey = 0;
  std::unique_ptr<CMainWnd> window;
};

}  // namespace readertest
