#include "app/setup/InitDemoToCardUI.h"

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "app/KeyWorker.h"
#include "app/setup/InterfaceModeOptions.h"
#include "core/Conversions.h"
#include "device/HidDiscovery.h"
#include "device/PcscReaderList.h"
#include "ui/Controls.h"
#include "ui/WindowImplBase.h"

namespace {

// Skin colours (0xAARRGGBB) of the inserted-device label.
constexpr std::uint32_t kInsertedTextColor = 0x281401;  // near black
constexpr std::uint32_t kNoDeviceTextColor = 0xFF0000;  // red

const QString kApplyButton = QStringLiteral("btn_apply");
const QString kDevicePicture = QStringLiteral("R5.png");
// The picture's file name, kept on the control as the skin's own "bkimage" attribute would be.
constexpr const char* kPictureProperty = "bkimage";

constexpr const wchar_t* kCcidMarker = L"CCID";

// The system's plain information box, modal to the owner's window, with an OK button only.
void ShowInformationBox(QWidget* owner, const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Information, caption, text, QMessageBox::Ok, owner != nullptr ? owner->window() : nullptr);
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::WindowModal);
  box.exec();
}

}  // namespace

InitDemoToCardUI::InitDemoToCardUI(PanelContext& context, QWidget* parent) : QWidget(parent), m_Context(context) {}

InitDemoToCardUI::~InitDemoToCardUI() = default;

void InitDemoToCardUI::Init(WindowImplBase& manager) {
  m_pManager = &manager;
  QWidget* root = manager.BuildSkin(QStringLiteral("InitDemoToCardUI.xml"), nullptr, this);
  if (root == nullptr) return;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  // The panel scrolls when the window is too short for it (a fix-it hint of several lines at the
  // default size): squeezed instead, its last controls (the Apply button) were cut off.
  auto* scroller = new QScrollArea(this);
  scroller->setObjectName(QStringLiteral("reader_panel_scroller"));
  scroller->setFrameShape(QFrame::NoFrame);
  // Not a stop of its own: Tab goes to the controls inside, and it scrolls to the one focused.
  scroller->setFocusPolicy(Qt::NoFocus);
  scroller->setWidgetResizable(true);
  scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scroller->viewport()->setAutoFillBackground(false);
  scroller->setWidget(root);
  root->setAutoFillBackground(false);
  layout->addWidget(scroller);

  auto find = [root](const char* name) { return WindowImplBase::FindSubControlByName(root, QString::fromLatin1(name)); };
  m_pConnectBtn = qobject_cast<QAbstractButton*>(find("Card_Connect"));
  m_pDisconnectBtn = qobject_cast<QAbstractButton*>(find("Card_Disconnect"));
  m_pResetBtn = qobject_cast<QAbstractButton*>(find("Card_Reset"));
  m_pReaderList = qobject_cast<QListWidget*>(find("list_for_reader"));
  // The list asks for the height of its rows, not a fixed one: where the panel has to scroll, it
  // is not the empty list that pushes the mode options out of sight. With room to spare it still
  // takes all of it.
  if (m_pReaderList != nullptr) m_pReaderList->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
  m_pApplyBtn = qobject_cast<QAbstractButton*>(find("btn_apply"));
  for (std::size_t i = 0; i < kModeOptionNames.size(); ++i) {
    m_pModeOptions[i] = qobject_cast<QAbstractButton*>(find(kModeOptionNames[i]));
  }
  m_pInsertedInfo = qobject_cast<QLabel*>(find("inserted_info"));
  m_pDeviceImg = qobject_cast<QLabel*>(find("device_img"));
  m_pReaderHint = qobject_cast<QLabel*>(find("reader_hint"));

  controls::SetEnabled(m_pDisconnectBtn, false);
  controls::SetEnabled(m_pResetBtn, false);
}

void InitDemoToCardUI::Notify(TNotifyUI& msg) {
  if (msg.sType != notify_type::kClick || msg.pSender == nullptr) return;
  QWidget* sender = msg.pSender;
  if (sender == m_pConnectBtn) {
    ConnectSelectedReader();
  } else if (sender == m_pDisconnectBtn) {
    DisconnectCurrent();
  } else if (sender == m_pResetBtn) {
    ResetCurrent();
    ClearOathCredentials();
  }
  if (controls::Name(sender) == kApplyButton) ApplyInterfaceMode();
}

// ---- refresh ----

void InitDemoToCardUI::RefreshReaderList() {
  readers::Listing listing;
  const DeviceBackends& backends = Backends();
  // A closing program lists nothing and changes nothing.
  if (!m_Context.Worker().Run([&] { listing = readers::ListAll(backends); })) return;
  const std::vector<std::string> oldNames = std::move(ReaderNames);
  ReaderNames = listing.names;
  ShowHint(listing);
  ShowReaderRows();

  std::vector<std::string> added = NamesMissingFrom(ReaderNames, oldNames);
  std::vector<std::string> removed = NamesMissingFrom(oldNames, ReaderNames);
  // A reader that went away during an action and is back now is a new key behind an old name:
  // the transport held for it is let go of, and the key is taken up as a newly plugged one.
  for (std::string& gone : std::exchange(m_GoneDuringAction, {})) {
    if (std::find(removed.begin(), removed.end(), gone) != removed.end()) continue;
    if (std::find(ReaderNames.begin(), ReaderNames.end(), gone) != ReaderNames.end()) added.push_back(gone);
    removed.push_back(std::move(gone));
  }

  // The selected key has gone: let go of it. The unnamed start transport never matches. Names
  // are compared as shown, so one the locale cannot decode is matched too.
  if (m_Context.Device() != nullptr && !removed.empty()) {
    const std::wstring current = m_Context.Device()->GetName();
    const bool currentRemoved = std::any_of(removed.begin(), removed.end(), [&current](const std::string& name) {
      return !current.empty() && AnsiToWide(name) == current;
    });
    if (currentRemoved) {
      m_Context.Device()->Close();
      DisconnectCurrent();
    }
  }

  if (added.empty()) return;
  // A key an action left open is not displaced by a newly plugged one.
  if (m_Context.Device() != nullptr && m_Context.Device()->IsOpen()) return;

  // One probe for the whole refresh: each interface is opened at most once.
  readers::AddedKinds kinds;
  readers::PresentInterfaces present{};
  const std::vector<std::string> names = ReaderNames;
  const bool probed = m_Context.Worker().Run([&] {
    readers::KindProbe probe(backends);
    kinds = readers::ProbeAdded(added, probe);
    present = readers::ComputePresentInterfaces(names, probe);
  });
  if (!probed) return;
  PresetModeOption(present);

  const std::string target = readers::ChooseTarget(present, kinds);
  if (target.empty()) return;
  if (m_bIsWindowsXp) m_Context.Worker().Run([&] { readers::WakeUpPcscReader(backends, target); });
  ConnectListedReader(target);
}

void InitDemoToCardUI::NoteReadersDuringAction() {
  readers::Listing listing;
  const DeviceBackends& backends = Backends();
  if (!m_Context.Worker().Run([&] { listing = readers::ListAll(backends); })) return;
  for (const std::string& gone : NamesMissingFrom(ReaderNames, listing.names)) {
    if (std::find(m_GoneDuringAction.begin(), m_GoneDuringAction.end(), gone) == m_GoneDuringAction.end()) {
      m_GoneDuringAction.push_back(gone);
    }
  }
}

void InitDemoToCardUI::ShowReaderRows() {
  if (m_pReaderList == nullptr) return;
  // Rows that already show these names in this order stay, unselected: rebuilding them would
  // relayout and repaint the list on every device change that concerns no reader.
  bool unchanged = m_pReaderList->count() == static_cast<int>(ReaderNames.size());
  for (int row = 0; unchanged && row < m_pReaderList->count(); ++row) {
    unchanged = m_pReaderList->item(row)->text() == QString::fromStdWString(AnsiToWide(ReaderNames[row]));
  }
  if (unchanged) {
    m_pReaderList->clearSelection();
    return;
  }
  m_pReaderList->clear();
  for (const std::string& name : ReaderNames) m_pReaderList->addItem(QString::fromStdWString(AnsiToWide(name)));
}

void InitDemoToCardUI::ShowHint(const readers::Listing& listing) {
  const QString hint = QString::fromStdString(readers::FixItHint(listing));
  controls::SetText(m_pReaderHint, hint);
  controls::SetVisible(m_pReaderHint, !hint.isEmpty());
}

void InitDemoToCardUI::PresetModeOption(readers::PresentInterfaces present) {
  QAbstractButton* chosen = ModeOption(interface_mode::PresetOptionFor(present));
  // Exactly one option ends up selected, with or without an exclusive group in the skin.
  for (QAbstractButton* option : m_pModeOptions) {
    if (option != chosen) controls::SetSelected(option, false);
  }
  controls::SetSelected(chosen, true);
}

template <class Probe>
bool InitDemoToCardUI::ProbeOnWorker(Probe probe) const {
  bool answer = false;
  const DeviceBackends& backends = Backends();
  m_Context.Worker().Run([&] { answer = probe(backends); });
  return answer;
}

bool InitDemoToCardUI::IsOtpHidName(const std::string& name) const {
  return ProbeOnWorker([&name](const DeviceBackends& backends) { return readers::IsOtpHidName(backends, name); });
}
bool InitDemoToCardUI::IsOtpHidName(const std::wstring& name) const {
  return ProbeOnWorker([&name](const DeviceBackends& backends) { return readers::IsOtpHidName(backends, name); });
}
bool InitDemoToCardUI::IsU2fHidName(const std::string& name) const {
  return ProbeOnWorker([&name](const DeviceBackends& backends) { return readers::IsU2fHidName(backends, name); });
}
bool InitDemoToCardUI::IsU2fHidName(const std::wstring& name) const {
  return ProbeOnWorker([&name](const DeviceBackends& backends) { return readers::IsU2fHidName(backends, name); });
}

const DeviceBackends& InitDemoToCardUI::Backends() const { return m_Context.Backends(); }

std::vector<std::string> InitDemoToCardUI::NamesMissingFrom(const std::vector<std::string>& a,
                                                            const std::vector<std::string>& b) {
  return readers::NamesMissingFrom(a, b);
}

// ---- connect, disconnect, reset ----

void InitDemoToCardUI::ConnectSelectedReader() {
  if (ReaderNames.empty()) {
    ShowInformationBox(this, QStringLiteral("The device not found."), QStringLiteral("Information"));
    return;
  }
  const int row = SelectedRow();
  std::size_t index = static_cast<std::size_t>(static_cast<unsigned>(row));
  if (index >= ReaderNames.size()) index = 0;
  ConnectListedReader(ReaderNames[index]);
}

void InitDemoToCardUI::ConnectReader(const std::wstring& name) {
  // A listed reader keeps the service's own bytes for its name.
  const auto listed = std::find_if(ReaderNames.begin(), ReaderNames.end(),
                                   [&name](const std::string& narrow) { return AnsiToWide(narrow) == name; });
  ConnectTransport(name, listed != ReaderNames.end() ? readers::CreateTransport(Backends(), *listed)
                                                     : readers::CreateTransport(Backends(), name));
}

void InitDemoToCardUI::ConnectListedReader(const std::string& name) {
  ConnectTransport(AnsiToWide(name), readers::CreateTransport(Backends(), name));
}

void InitDemoToCardUI::ConnectTransport(const std::wstring& name, readers::Transport transport) {
  if (name.empty()) return;
  m_Context.ReplaceDevice(std::move(transport.device), transport.isHid);
  IDeveiceInterface& device = *m_Context.Device();
  device.SetName(name);
  if (!device.Open()) {
    // The unopened transport stays selected; the panel keeps showing what it showed.
    m_Context.AppendLog(L"Connect fail.\n", log_color::kRed);
    return;
  }
  ShowInserted(name);
  m_Context.AppendLog(L"Connect successful.\n", log_color::kBlue);
  ClearOathCredentials();
  SetConnectedButtons(true);
  SelectRowsNamed(name);
  // Every later action opens the key again.
  device.Close();
}

void InitDemoToCardUI::DisconnectCurrent() {
  ShowNoDevice();

  // With no key interface left anywhere, no mode is offered.
  std::vector<std::wstring> pcscNames;
  std::vector<std::wstring> hidNames;
  const DeviceBackends& backends = Backends();
  m_Context.Worker().Run([&] {
    ListPcscReaderNames(pcscNames, backends.pcsc);
    EnumerateHidDevices(*backends.hid, *backends.models, hidNames);
  });
  const bool ccidListed = std::any_of(pcscNames.begin(), pcscNames.end(), [](const std::wstring& name) {
    return name.find(kCcidMarker) != std::wstring::npos;
  });
  if (hidNames.empty() && !ccidListed) controls::SetSelected(ModeOption(interface_mode::kNoneOption), true);

  if (m_Context.Device() == nullptr) return;
  IDeveiceInterface& device = *m_Context.Device();
  if (device.Close()) {
    m_Context.AppendLog(L"Disconnect successful.\n", log_color::kBlue);
  } else {
    m_Context.AppendLog(AnsiToWide(device.GetLastErrorText()) + L"\n", log_color::kRed);
  }
  ClearOathCredentials();
  // A secret typed for this key is not left on screen for whoever plugs in next.
  m_Context.ForgetTypedSecret();
  m_Context.ReplaceDevice(nullptr, false);
  SetConnectedButtons(false);
}

void InitDemoToCardUI::ResetCurrent() {
  if (m_Context.Device() == nullptr) return;
  IDeveiceInterface& device = *m_Context.Device();
  if (device.Open()) {
    m_Context.AppendLog(L"Reset successful.\n", log_color::kBlack);
    return;
  }
  m_Context.AppendLog(AnsiToWide(device.GetLastErrorText()) + L"\n", log_color::kRed);
  SetConnectedButtons(false);
}

// ---- what the panel shows ----

void InitDemoToCardUI::ShowInserted(const std::wstring& name) {
  controls::SetText(m_pInsertedInfo, QString::fromStdWString(name) + QStringLiteral(" is inserted"));
  controls::SetTextColor(m_pInsertedInfo, controls::SkinColor(kInsertedTextColor));
  if (m_pDeviceImg != nullptr && m_pManager != nullptr) {
    controls::SetImage(m_pDeviceImg, m_pManager->GetSkinPath(), kDevicePicture);
    m_pDeviceImg->setProperty(kPictureProperty, kDevicePicture);
  }
}

void InitDemoToCardUI::ShowNoDevice() {
  controls::SetText(m_pInsertedInfo, QStringLiteral("No device inserted."));
  controls::SetTextColor(m_pInsertedInfo, controls::SkinColor(kNoDeviceTextColor));
  if (m_pDeviceImg != nullptr) {
    controls::SetImage(m_pDeviceImg, QString(), QString());
    m_pDeviceImg->setProperty(kPictureProperty, QString());
  }
}

void InitDemoToCardUI::SetConnectedButtons(bool connected) {
  controls::SetEnabled(m_pConnectBtn, !connected);
  controls::SetEnabled(m_pDisconnectBtn, connected);
  controls::SetEnabled(m_pResetBtn, connected);
}

void InitDemoToCardUI::SelectRowsNamed(const std::wstring& name) {
  if (m_pReaderList == nullptr) return;
  const int rows = std::min(m_pReaderList->count(), static_cast<int>(ReaderNames.size()));
  for (int row = 0; row < rows; ++row) {
    if (AnsiToWide(ReaderNames[static_cast<std::size_t>(row)]) == name) m_pReaderList->item(row)->setSelected(true);
  }
}

int InitDemoToCardUI::SelectedRow() const {
  if (m_pReaderList == nullptr) return -1;
  for (int row = 0; row < m_pReaderList->count(); ++row) {
    if (m_pReaderList->item(row)->isSelected()) return row;
  }
  return -1;
}

void InitDemoToCardUI::ClearOathCredentials() { m_Context.CredentialsChanged(); }

QAbstractButton* InitDemoToCardUI::ModeOption(const char* name) const {
  for (std::size_t i = 0; i < kModeOptionNames.size(); ++i) {
    if (std::string_view(kModeOptionNames[i]) == name) return m_pModeOptions[i];
  }
  return nullptr;
}

void InitDemoToCardUI::AskForConnection() {
  m_Context.AppendLog(AnsiToWide(interface_mode::kPleaseConnect), log_color::kRed);
  m_Context.ShowReaderPanel();
}
