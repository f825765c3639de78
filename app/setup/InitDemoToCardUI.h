#pragma once
// The device setup panel: the reader list, connect / disconnect / reset, the device picture and
// the interface-mode options. Built from "InitDemoToCardUI.xml" inside the main window. It keeps
// itself current: every device change rebuilds the list, notices a selected key that has gone,
// probes the readers that appeared, preselects the mode option matching the interfaces present and
// connects to the preferred new reader. It is the only code that replaces the window's device.
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "app/PanelContext.h"
#include "device/ReaderDiscovery.h"
#include "ui/Notify.h"

class QAbstractButton;
class QLabel;
class QListWidget;
class WindowImplBase;

class InitDemoToCardUI : public QWidget, public INotifyUI {
  Q_OBJECT

 public:
  // Skin names of the eight interface-mode options, in the order of m_pModeOptions.
  static constexpr std::array<const char*, 8> kModeOptionNames{
      "ccid_select",     "otp_select",      "u2f_select",          "otp_u2f_select",
      "otp_ccid_select", "u2f_ccid_select", "u2f_ccid_otp_select", "none_select"};

  InitDemoToCardUI(PanelContext& context, QWidget* parent);
  ~InitDemoToCardUI() override;

  // Builds the panel's own skin below it and finds its controls; the disconnect and reset
  // buttons start disabled, since nothing is connected yet.
  void Init(WindowImplBase& manager);
  // Clicks only: connect, disconnect, reset (by control), and the mode switch ("btn_apply").
  void Notify(TNotifyUI& msg) override;

  // Rebuilds the list from the readers present now and reacts to what changed: a selected key
  // that vanished is disconnected, new readers are probed, the mode option preset, and the
  // preferred new reader connected. Updates the fix-it hint. Logs only through connect and
  // disconnect.
  void RefreshReaderList();
  // Installs a new transport for the reader as the window's device and opens it; on success
  // the panel shows the key as inserted and the transport is closed again. An empty name does nothing.
  void ConnectReader(const std::wstring& name);
  // The connect button: the selected reader, or the first one when none is selected.
  void ConnectSelectedReader();
  // Shows "No device inserted.", closes and releases the current device.
  void DisconnectCurrent();
  // Opens the current device again (for a smart card: a fresh connection, which resets it).
  void ResetCurrent();
  // Selects exactly the mode option that re-applies the interfaces present.
  void PresetModeOption(readers::PresentInterfaces present);
  // Sends the interface mode of the first selected option to the current device.
  void ApplyInterfaceMode();

  // The kind probes and the name comparison of the refresh.
  bool IsOtpHidName(const std::string& name) const;
  bool IsOtpHidName(const std::wstring& name) const;
  bool IsU2fHidName(const std::string& name) const;
  bool IsU2fHidName(const std::wstring& name) const;
  static std::vector<std::string> NamesMissingFrom(const std::vector<std::string>& a,
                                                   const std::vector<std::string>& b);
  // Where the smart-card service needs it (Windows XP), a new reader is woken before it is connected.
  void SetIsWindowsXp(bool isWindowsXp) { m_bIsWindowsXp = isWindowsXp; }
  // A device change while an action holds the device: the readers are listed at once and any
  // shown reader found missing is remembered, so the refresh after the action still sees a key
  // that went and came back meanwhile (its transport belongs to the gone key).
  void NoteReadersDuringAction();

 private:
  void ShowReaderRows();
  void SelectRowsNamed(const std::wstring& name);
  // Connects a reader by the name the listing gave it.
  void ConnectListedReader(const std::string& name);
  void ConnectTransport(const std::wstring& name, readers::Transport transport);
  // The first selected row, or -1.
  int SelectedRow() const;
  void ShowHint(const readers::Listing& listing);
  void ShowInserted(const std::wstring& name);
  void ShowNoDevice();
  void SetConnectedButtons(bool connected);
  void ClearOathCredentials();
  QAbstractButton* ModeOption(const char* name) const;
  // "Please connect device." and the reader panel brought into view.
  void AskForConnection();
  // What every listing and transport of the panel goes through: the window's backends.
  const DeviceBackends& Backends() const;
  // Runs a kind probe on the key worker.
  template <class Probe>
  bool ProbeOnWorker(Probe probe) const;

  QAbstractButton* m_pConnectBtn = nullptr;
  QAbstractButton* m_pDisconnectBtn = nullptr;
  QAbstractButton* m_pResetBtn = nullptr;
  QListWidget* m_pReaderList = nullptr;
  std::vector<std::string> ReaderNames;
  QAbstractButton* m_pApplyBtn = nullptr;
  std::array<QAbstractButton*, 8> m_pModeOptions{};
  QLabel* m_pInsertedInfo = nullptr;
  QLabel* m_pDeviceImg = nullptr;
  // Where the panel tells the operator how to fix what keeps a key from being listed.
  QLabel* m_pReaderHint = nullptr;
  PanelContext& m_Context;
  WindowImplBase* m_pManager = nullptr;
  bool m_bIsWindowsXp = false;
  // Shown readers found missing by a listing during an action, until the next refresh.
  std::vector<std::string> m_GoneDuringAction;
};
