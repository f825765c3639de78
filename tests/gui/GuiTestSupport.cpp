#include "GuiTestSupport.h"

#include <PCSC/pcsclite.h>
#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

#include "BuildConfig.h"
#include "app/DeviceChangeMonitor.h"
#include "app/KeyWorker.h"
#include "app/oath/CredentialRows.h"
#include "app/setup/InitDemoToCardUI.h"
#include "device/ApduCommand.h"
#include "device/ApduResponse.h"

namespace guitest {

namespace {

void Answer(CMsgWnd& box, BoxAnswer answer) {
  auto click = [&box](const char* name) {
    if (auto* button = box.FindControlAs<QAbstractButton>(QString::fromLatin1(name))) button->click();
  };
  switch (answer) {
    case BoxAnswer::Confirm:
      click("confirm_btn");
      break;
    case BoxAnswer::Cancel:
      click("cancel_btn");
      break;
    case BoxAnswer::CloseButton:
      click("closebtn");
      break;
    case BoxAnswer::SystemClose:
      box.close();
      break;
    case BoxAnswer::Leave:
      break;
  }
}

// One stretch of log text in one colour.
struct LogRun {
  QString text;
  QColor color;
};

std::vector<LogRun> LogRuns(const QTextEdit& log) {
  std::vector<LogRun> runs;
  for (QTextBlock block = log.document()->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const QColor color = fragment.charFormat().foreground().color();
      if (!runs.empty() && runs.back().color == color) {
        runs.back().text += fragment.text();
      } else {
        runs.push_back({fragment.text(), color});
      }
    }
    // Paragraph ends carry no fragment; they are the line breaks of the entries.
    if (block.next().isValid()) {
      if (runs.empty()) runs.push_back({QString(), QColor()});
      runs.back().text += QLatin1Char('\n');
    }
  }
  return runs;
}

}  // namespace

BoxAnswerer::BoxAnswerer(BoxAnswer answer, QWidget* watchedOwner) : answer_(answer), watchedOwner_(watchedOwner) {
  SetMessageBoxShownHook([this](CMsgWnd& box) {
    ShownBox seen;
    if (QWidget* title = box.FindControl(QStringLiteral("MessageTitle"))) seen.title = title->property("text").toString();
    if (QWidget* text = box.FindControl(QStringLiteral("MessageText"))) seen.text = text->property("text").toString();
    seen.ownerEnabled = watchedOwner_ == nullptr || watchedOwner_->isEnabled();
    shown_.push_back(seen);
    if (whileOpen_) whileOpen_(box);
    Answer(box, answer_);
  });
}

BoxAnswerer::~BoxAnswerer() { SetMessageBoxShownHook(nullptr); }

std::vector<LogEntry> LogEntries(const QTextEdit& log, bool* headersPurple) {
  static const QRegularExpression header(QStringLiteral("^={30}command\\^(-?\\d+)={35}\\n\\n"));
  std::vector<LogEntry> entries;
  bool purple = true;
  // Line breaks are kept by whichever run precedes them, so colours are judged per run and the
  // text is split by headers.
  std::vector<LogRun> runs = LogRuns(log);
  QString all;
  std::vector<std::pair<int, QColor>> colorAt;  // start offset of each run and its colour
  for (const LogRun& run : runs) {
    colorAt.emplace_back(all.size(), run.color);
    all += run.text;
  }
  auto colorOf = [&colorAt](int offset) {
    QColor color;
    for (const auto& [start, runColor] : colorAt) {
      if (start <= offset) color = runColor;
    }
    return color;
  };
  int position = 0;
  while (position < all.size()) {
    const QRegularExpressionMatch match = header.match(all.mid(position));
    if (!match.hasMatch()) break;
    if (colorOf(position) != kLogPurple) purple = false;
    LogEntry entry;
    entry.number = match.captured(1).toInt();
    const int textStart = position + static_cast<int>(match.capturedLength());
    int next = all.indexOf(QStringLiteral("==============================command^"), textStart);
    if (next < 0) next = static_cast<int>(all.size());
    entry.text = all.mid(textStart, next - textStart);
    entry.color = entry.text.isEmpty() ? QColor() : colorOf(textStart);
    entries.push_back(entry);
    position = next;
  }
  if (headersPurple != nullptr) *headersPurple = purple;
  return entries;
}

AccessibleEventRecorder::AccessibleEventRecorder(QObject* watched) {
  watched_ = watched;
  events_ = &events;
  platform_ = QGuiApplicationPrivate::platformIntegration()->accessibility();
  if (platform_ != nullptr) {
    wasActive_ = platform_->isActive();
    platform_->setActive(true);
  }
  previous_ = QAccessible::installUpdateHandler(Record);
}

AccessibleEventRecorder::~AccessibleEventRecorder() {
  QAccessible::installUpdateHandler(previous_);
  if (platform_ != nullptr) platform_->setActive(wasActive_);
  events_ = nullptr;
  watched_ = nullptr;
}

void AccessibleEventRecorder::Record(QAccessibleEvent* event) {
  if (events_ != nullptr && event->object() == watched_ && event->accessibleInterface() != nullptr) {
    events_->emplace_back(event->type(), event->accessibleInterface()->text(QAccessible::Name));
  }
}

int RunApplicationLoop(int limitMs) {
  // A local timer: it cannot fire in a later test's loop and end that one.
  QTimer limit;
  limit.setSingleShot(true);
  QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(7); });
  limit.start(limitMs);
  return QApplication::exec();
}

namespace {

std::string ColourName(const QColor& colour) {
  if (colour == kLogBlue) return "blue";
  if (colour == kLogRed) return "red";
  if (colour == QColor(Qt::black)) return "black";
  return colour.name().toStdString();
}

// The log as "text [colour]" lines, for a failure message.
std::string DescribeLog(const std::vector<LogEntry>& entries) {
  std::string text;
  for (const LogEntry& entry : entries) {
    QString shown = entry.text;
    shown.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
    text += "  \"" + shown.toStdString() + "\" [" + ColourName(entry.color) + "]\n";
  }
  return text;
}

}  // namespace

void ExpectLog(const QWidget& window, const std::vector<ExpectedEntry>& expected) {
  const std::vector<LogEntry> actual = WindowLog(window);
  bool same = actual.size() == expected.size();
  for (std::size_t i = 0; same && i < actual.size(); ++i) {
    same = actual[i].text == expected[i].text && actual[i].color == expected[i].color;
  }
  if (same) return;
  std::vector<LogEntry> wanted;
  for (const ExpectedEntry& entry : expected) wanted.push_back({-1, entry.text, entry.color});
  ADD_FAILURE() << "the log differs\nexpected:\n" << DescribeLog(wanted) << "actual:\n" << DescribeLog(actual);
}

bool ShowMainWindow(CMainWnd& window, BoxAnswer answer) {
  BoxAnswerer startup(answer);
  if (!window.Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690)) return false;
  window.show();
  Settle(window);
  return true;
}

void Settle(const CMainWnd& window, int limitMs) {
  // A closing window applies nothing more: it has settled too.
  const bool settled =
      QTest::qWaitFor([&window] { return !window.IsBusy() || window.IsClosing(); }, limitMs);
  EXPECT_TRUE(settled) << "the window's key worker was still busy after " << limitMs << " ms";
}

void SettleBehindBox(CMainWnd& window, int waitingTasks) {
  const bool settled = QTest::qWaitFor([&] { return window.Worker().PendingTasks() <= waitingTasks; }, 15000);
  EXPECT_TRUE(settled) << "the tasks queued behind the open box did not finish";
}

void ClickAndSettle(CMainWnd& window, QAbstractButton* button) {
  ASSERT_NE(button, nullptr);
  button->click();
  Settle(window);
}

void RunTask(CMainWnd& window, const std::function<void(KeyTaskHost&)>& step) {
  std::shared_ptr<KeyConnection> connection = window.Connection();
  ASSERT_NE(connection, nullptr);
  window.Worker().Start([&window, connection, step, owner = QPointer<QWidget>(&window)] {
    KeyTaskHost host(window, connection, owner);
    step(host);
  });
  Settle(window);
}

bool DeviceIsOpen(CMainWnd& window) {
  if (!window.HasDevice()) return false;
  bool open = false;
  RunTask(window, [&open](KeyTaskHost& host) { open = host.Device().IsOpen(); });
  return open;
}

bool OpenAndSelectOath(CMainWnd& window) {
  bool selected = false;
  RunTask(window, [&selected](KeyTaskHost& host) {
    selected = host.Device().Open() && host.SelectOathApplet();
    if (!selected) ADD_FAILURE() << host.Device().GetLastErrorText();
  });
  return selected;
}

QString Hex(const std::vector<std::uint8_t>& bytes) {
  QStringList pairs;
  for (std::uint8_t byte : bytes) pairs << QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
  return pairs.join(QLatin1Char(' '));
}

QTextEdit* LogControl(const QWidget& window) {
  return window.findChild<QTextEdit*>(QStringLiteral("RichEdit_InitDeomo"), Qt::FindChildrenRecursively);
}

QStringList ReaderRows(const QWidget& window) {
  QStringList rows;
  const auto* list = window.findChild<QListWidget*>(QStringLiteral("list_for_reader"), Qt::FindChildrenRecursively);
  if (list == nullptr) return rows;
  for (int row = 0; row < list->count(); ++row) rows << list->item(row)->text();
  return rows;
}

std::vector<LogEntry> WindowLog(const QWidget& window) {
  const QTextEdit* log = LogControl(window);
  if (log == nullptr) {
    ADD_FAILURE() << "the window has no output log";
    return {};
  }
  return LogEntries(*log);
}

void ClearWindowLog(const QWidget& window) {
  QTextEdit* log = LogControl(window);
  if (log == nullptr) {
    ADD_FAILURE() << "the window has no output log";
    return;
  }
  log->clear();
}

}  // namespace guitest

namespace readertest {

LONG QuietPcscApi::GetStatusChange(SCARDCONTEXT, DWORD timeoutMs, SCARD_READERSTATE*, DWORD) {
  std::unique_lock lock(mutex_);
  const std::uint64_t seen = cancels_;
  const auto limit = timeoutMs == INFINITE ? std::chrono::milliseconds(60000) : std::chrono::milliseconds(timeoutMs);
  const bool cancelled = cancelled_.wait_for(lock, limit, [this, seen] { return cancels_ != seen; });
  return cancelled ? SCARD_E_CANCELLED : SCARD_E_TIMEOUT;
}

LONG QuietPcscApi::Cancel(SCARDCONTEXT) {
  {
    std::lock_guard lock(mutex_);
    ++cancels_;
  }
  cancelled_.notify_all();
  return SCARD_S_SUCCESS;
}

InformationBoxAnswerer::InformationBoxAnswerer() : timer_(new QTimer) {
  QObject::connect(timer_, &QTimer::timeout, [this] { AnswerOpenBoxes(); });
  timer_->start(10);
}

InformationBoxAnswerer::~InformationBoxAnswerer() { delete timer_; }

void InformationBoxAnswerer::AnswerOpenBoxes() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box == nullptr || !box->isVisible()) continue;
    shown_.push_back({box->windowTitle(), box->text()});
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
      ok->click();
    } else {
      box->reject();
    }
  }
}

ScriptedAnswers::Bytes ScriptedAnswers::ProcessApdu(const Bytes& command) {
  {
    std::lock_guard lock(mutex_);
    received_.push_back(command);
  }
  if (std::optional<Bytes> answer = rule_(command)) return *answer;
  return key_->ProcessApdu(command);
}

std::vector<ScriptedAnswers::Bytes> ScriptedAnswers::Received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

std::string WriteMakerConfig(const QTemporaryDir& directory) {
  const QString path = directory.filePath(QStringLiteral("Pid_Vid_Config.xml"));
  QFile config(path);
  if (config.open(QIODevice::WriteOnly)) {
    config.write(QStringLiteral("<VidPidConfig><Key VID=\"%1\"/></VidPidConfig>")
                     .arg(tokvane::build::kMakerVendorId, 4, 16, QLatin1Char('0'))
                     .toLatin1());
  }
  return path.toStdString();
}

void ReaderPanelWindow::SetUp() {
  ASSERT_TRUE(configDir.isValid());
  key = std::make_shared<VirtualKey>();
  card = key;
  pcsc = std::make_shared<VirtualPcscApi>();
  hid = std::make_shared<VirtualHidApi>();
  service = std::make_shared<QuietPcscApi>(pcsc);
  checkedPcsc = std::make_shared<ThreadCheckedPcscApi>(service);
  checkedHid = std::make_shared<ThreadCheckedHidApi>(hid);
  backends = MakeDeviceBackends(checkedPcsc, checkedHid);
}

void ReaderPanelWindow::TearDown() {
  window.reset();
  // Whatever the test did, no listing, probe, open or exchange ran on the GUI thread.
  EXPECT_EQ(checkedPcsc->Seen(), std::vector<std::string>());
  EXPECT_EQ(checkedHid->Seen(), std::vector<std::string>());
}

void ReaderPanelWindow::PlugKey(std::uint8_t interfaces) {
  const std::uint8_t hidInterfaces = interfaces & (kVirtualOtpInterface | kVirtualU2fInterface);
  if (hidInterfaces != 0) {
    if (hidKey == 0) {
      VirtualHidKeyOptions options;
      options.vendorId = tokvane::build::kMakerVendorId;
      options.interfaces = hidInterfaces;
      hidKey = hid->AddKey(card, options);
    } else {
      hid->SetInterfaces(hidKey, hidInterfaces);
      hid->PlugIn(hidKey);
    }
  }
  if ((interfaces & kVirtualCcidInterface) != 0) {
    ASSERT_TRUE(pcsc->AddReader(kKeyReader));
    ASSERT_TRUE(pcsc->InsertCard(kKeyReader, card));
  }
}

void ReaderPanelWindow::UnplugKey() {
  if (hidKey != 0) hid->Unplug(hidKey);
  pcsc->RemoveReader(kKeyReader);
}

void ReaderPanelWindow::AddEmptyReader(const std::string& name) { ASSERT_TRUE(pcsc->AddReader(name)); }

void ReaderPanelWindow::Start(bool keepLog) {
  window = std::make_unique<CMainWnd>(backends);
  window->SetVidPidConfigFiles({WriteMakerConfig(configDir)});
  // No box answerer of its own here: it would end the one a fixture may already hold.
  ASSERT_TRUE(window->Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690));
  window->show();
  ASSERT_NE(window->findChild<InitDemoToCardUI*>(), nullptr);
  guitest::Settle(*window);
  if (!keepLog) guitest::ClearWindowLog(*window);
}

void ReaderPanelWindow::Refresh() {
  DeviceChangeEvent change;
  QCoreApplication::sendEvent(window.get(), &change);
  guitest::Settle(*window);
}

void ReaderPanelWindow::Click(const char* name) {
  auto* button = qobject_cast<QAbstractButton*>(Control(name));
  ASSERT_NE(button, nullptr) << name;
  guitest::ClickAndSettle(*window, button);
}

void ReaderPanelWindow::SelectOption(const char* name) {
  auto* option = qobject_cast<QAbstractButton*>(Control(name));
  ASSERT_NE(option, nullptr) << name;
  option->setChecked(true);
}

InitDemoToCardUI& ReaderPanelWindow::Panel() { return *window->findChild<InitDemoToCardUI*>(); }

QStringList ReaderPanelWindow::Rows() { return guitest::ReaderRows(*window); }

std::vector<int> ReaderPanelWindow::SelectedRows() {
  std::vector<int> rows;
  auto* list = ControlAs<QListWidget>("list_for_reader");
  if (list == nullptr) return rows;
  for (int row = 0; row < list->count(); ++row) {
    if (list->item(row)->isSelected()) rows.push_back(row);
  }
  return rows;
}

QStringList ReaderPanelWindow::SelectedOptions() {
  QStringList selected;
  for (const char* name : InitDemoToCardUI::kModeOptionNames) {
    auto* option = qobject_cast<QAbstractButton*>(Control(name));
    if (option != nullptr && option->isChecked()) selected << QString::fromLatin1(name);
  }
  return selected;
}

std::vector<guitest::LogEntry> ReaderPanelWindow::Log() { return guitest::WindowLog(*window); }

QWidget* ReaderPanelWindow::Control(const char* name) { return window->FindControl(QString::fromLatin1(name)); }

bool ReaderPanelWindow::Enabled(const char* name) {
  QWidget* control = Control(name);
  return control != nullptr && control->isEnabled();
}

QWidget* ReaderPanelWindow::CredentialRow(int index) {
  auto* list = ControlAs<QListWidget>("listview");
  QListWidgetItem* item = list != nullptr ? list->item(index) : nullptr;
  return item != nullptr ? list->itemWidget(item) : nullptr;
}

QStringList ReaderPanelWindow::RowNames() {
  QStringList names;
  for (int i = 0; QWidget* row = CredentialRow(i); ++i) {
    names << row->findChild<QLabel*>(QString::fromLatin1(credential_rows::kUserName))->text();
  }
  return names;
}

std::string ReaderPanelWindow::DeviceName() {
  if (!window->HasDevice()) return "<none>";
  const std::wstring name = window->DeviceName();
  return std::string(name.begin(), name.end());
}

}  // namespace readertest
