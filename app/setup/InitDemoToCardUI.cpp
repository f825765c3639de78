#include "app/setup/InitDemoToCardUI.h"

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QScrollArea>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>
#include <optional>
#include <utility>

#include "app/KeyWorker.h"
#include "app/setup/InterfaceModeOptions.h"
#include "core/Conversions.h"
#include "device/HidDiscovery.h"
#include "device/PcscReaderList.h"
#include "ui/Controls.h"
#include "ui/WindowImplBase.h"
#include "ui/SkinTexts.h"

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
  auto listing = std::make_shared<readers::Listing>();
  m_Context.Worker().Start([backends = Backends(), listing] { *listing = readers::ListAll(backends); },
                           [this, listing] { ApplyListing(std::move(*listing)); });
}

void InitDemoToCardUI::ApplyListing(readers::Listing listing) {
  const std::vector<std::string> oldNames = std::move(ReaderNames);
  ReaderNames = listing.names;
  ShowHint(listing);
  ShowReaderRows();

  const std::vector<std::string> added = readers::NamesMissingFrom(ReaderNames, oldNames);
  const std::vector<std::string> removed = readers::NamesMissingFrom(oldNames, ReaderNames);

  // The selected key has gone: let go of it. The unnamed start transport never matches. Names
  // are compared as shown, so one the locale cannot decode is matched too.
  if (const std::shared_ptr<KeyConnection> current = m_Context.Connection(); current != nullptr && !removed.empty()) {
    const bool currentRemoved = std::any_of(removed.begin(), removed.end(), [&current](const std::string& name) {
      return !current->name.empty() && AnsiToWide(name) == current->name;
    });
    if (currentRemoved) DisconnectCurrent();
  }

  if (added.empty()) {
    emit refreshed();
    return;
  }
  // One probe for the whole refresh: each interface is opened at most once. A key an action left
  // open is not displaced by a newly plugged one.
  struct Probed {
    bool currentOpen = false;
    readers::PresentInterfaces present{};
    std::string target;
  };
  auto probed = std::make_shared<Probed>();
  m_Context.Worker().Start(
      [backends = Backends(), current = m_Context.Connection(), added, names = ReaderNames, probed,
       wakeUp = m_bIsWindowsXp] {
        if (current != nullptr && current->transport->IsOpen()) {
          probed->currentOpen = true;
          return;
        }
        readers::KindProbe probe(backends);
        const readers::AddedKinds kinds = readers::ProbeAdded(added, probe);
        probed->present = readers::ComputePresentInterfaces(names, probe);
        probed->target = readers::ChooseTarget(probed->present, kinds);
        if (wakeUp && !probed->target.empty()) readers::WakeUpPcscReader(backends, probed->target);
      },
      [this, probed] {
        if (probed->currentOpen) {
          emit refreshed();
          return;
        }
        PresetModeOption(probed->present);
        if (probed->target.empty()) {
          emit refreshed();
          return;
        }
        ConnectListedReader(probed->target, [this] { emit refreshed(); });
      });
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

const DeviceBackends& InitDemoToCardUI::Backends() const { return m_Context.Backends(); }

// ---- connect, disconnect, reset ----

void InitDemoToCardUI::ConnectSelectedReader() {
  if (ReaderNames.empty()) {
    ShowInformationBox(this, TrQ("The device not found."), TrQ("Information"));
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
  if (listed != ReaderNames.end()) {
    ConnectListedReader(*listed);
    return;
  }
  if (name.empty()) return;
  Connect(name, [backends = Backends(), name] { return readers::CreateTransport(backends, name); });
}

void InitDemoToCardUI::ConnectListedReader(const std::string& name, std::function<void()> then) {
  const std::wstring shown = AnsiToWide(name);
  if (shown.empty()) {
    if (then) then();
    return;
  }
  Connect(shown, [backends = Backends(), name] { return readers::CreateTransport(backends, name); }, std::move(then));
}

void InitDemoToCardUI::Connect(const std::wstring& name, std::function<readers::Transport()> make,
                               std::function<void()> then) {
  struct Opened {
    std::shared_ptr<KeyConnection> connection;
    bool open = false;
  };
  auto opened = std::make_shared<Opened>();
  m_Context.Worker().Start(
      [name, make = std::move(make), opened] {
        readers::Transport transport = make();
        transport.device->SetName(name);
        auto connection = std::make_shared<KeyConnection>(std::move(transport.device), name, transport.isHid);
        opened->open = connection->transport->Open();
        // Every later action opens the key again.
        if (opened->open) connection->transport->Close();
        opened->connection = std::move(connection);
      },
      [this, name, opened, then = std::move(then)] {
        // The new transport is the window's device from here on, opened or not; the panel keeps
        // showing what it showed when it did not open.
        m_Context.ReplaceDevice(std::move(opened->connection));
        if (!opened->open) {
          m_Context.AppendLog(tokvane::TrW("Connect fail.\n"), log_color::kRed);
        } else {
          ShowInserted(name);
          m_Context.AppendLog(tokvane::TrW("Connect successful.\n"), log_color::kBlue);
          ClearOathCredentials();
          SetConnectedButtons(true);
          SelectRowsNamed(name);
        }
        if (then) then();
      });
}

void InitDemoToCardUI::DisconnectCurrent() {
  ShowNoDevice();
  // The device is let go of at once: a task that still holds it (its box open) sends nothing more.
  const std::shared_ptr<KeyConnection> connection = m_Context.Connection();
  if (connection != nullptr) {
    ClearOathCredentials();
    // A secret typed for this key is not left on screen for whoever plugs in next.
    m_Context.ForgetTypedSecret();
    m_Context.ReplaceDevice(nullptr);
    SetConnectedButtons(false);
  }

  struct Closed {
    bool anyInterface = false;
    bool closed = false;
    std::string reason;
  };
  auto closed = std::make_shared<Closed>();
  m_Context.Worker().Start(
      [backends = Backends(), connection, closed] {
        // With no key interface left anywhere, no mode is offered.
        std::vector<std::wstring> pcscNames;
        std::vector<std::wstring> hidNames;
        ListPcscReaderNames(pcscNames, backends.pcsc);
        EnumerateHidDevices(*backends.hid, *backends.models, hidNames);
        closed->anyInterface = !hidNames.empty() || std::any_of(pcscNames.begin(), pcscNames.end(),
                                                                 [](const std::wstring& name) {
                                                                   return name.find(kCcidMarker) != std::wstring::npos;
                                                                 });
        if (connection == nullptr) return;
        closed->closed = connection->transport->Close();
        if (!closed->closed) closed->reason = connection->transport->GetLastErrorText();
      },
      [this, hadDevice = connection != nullptr, closed] {
        if (!closed->anyInterface) controls::SetSelected(ModeOption(interface_mode::kNoneOption), true);
        if (!hadDevice) return;
        if (closed->closed) {
          m_Context.AppendLog(tokvane::TrW("Disconnect successful.\n"), log_color::kBlue);
        } else {
          m_Context.AppendLog(AnsiToWide(closed->reason) + L"\n", log_color::kRed);
        }
      });
}

void InitDemoToCardUI::ResetCurrent() {
  const std::shared_ptr<KeyConnection> connection = m_Context.Connection();
  if (connection == nullptr) return;
  auto reason = std::make_shared<std::optional<std::string>>();
  m_Context.Worker().Start(
      [connection, reason] {
        if (!connection->transport->Open()) *reason = connection->transport->GetLastErrorText();
      },
      [this, reason] {
        if (!*reason) {
          m_Context.AppendLog(tokvane::TrW("Reset successful.\n"), log_color::kBlack);
          return;
        }
        m_Context.AppendLog(AnsiToWide(**reason) + L"\n", log_color::kRed);
        SetConnectedButtons(false);
      });
}

// ---- what the panel shows ----

void InitDemoToCardUI::ShowInserted(const std::wstring& name) {
  controls::SetText(m_pInsertedInfo, TrQ("%1 is inserted").arg(QString::fromStdWString(name)));
  controls::SetTextColor(m_pInsertedInfo, controls::SkinColor(kInsertedTextColor));
  if (m_pDeviceImg != nullptr && m_pManager != nullptr) {
    controls::SetImage(m_pDeviceImg, m_pManager->GetSkinPath(), kDevicePicture);
    m_pDeviceImg->setProperty(kPictureProperty, kDevicePicture);
  }
}

void InitDemoToCardUI::ShowNoDevice() {
  controls::SetText(m_pInsertedInfo, TrQ("No device inserted."));
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
  m_Context.AppendLog(tokvane::TrW(interface_mode::kPleaseConnect), log_color::kRed);
  m_Context.ShowReaderPanel();
}
