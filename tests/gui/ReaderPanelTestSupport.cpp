#include "ReaderPanelTestSupport.h"

#include <PCSC/pcsclite.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QTimer>
#include <chrono>

#include "BuildConfig.h"
#include "app/DeviceChangeMonitor.h"
#include "app/oath/CredentialRows.h"
#include "app/setup/InitDemoToCardUI.h"
#include "device/HidApi.h"
#include "device/PcscInterface.h"
#include "device/VidPidConfig.h"

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
