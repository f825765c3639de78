#pragma once
// The device setup panel: the reader list, connect / disconnect / reset, the device picture and
// the interface-mode options. Built from "InitDemoToCardUI.xml" inside the main window. It keeps
// itself current: every device change rebuilds the list, notices a selected key that has gone,
// probes the readers that appeared, preselects the mode option matching the interfaces present and
// connects to the preferred new reader. It is the only code that replaces the window's device.
// Every listing, probe, open and close is a task on the key worker; the panel shows its result
// when it is done.
#include <QWidget>
#include <array>
#include <functional>
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
  // disconnect. `refreshed` follows once all of it is done.
  void RefreshReaderList();
  // Installs a new transport for the reader as the window's device and opens it; on success
  // the panel shows the key as inserted and the transport is closed again. An empty name does nothing.
  void ConnectReader(const std::wstring& name);
  // The connect button: the selected reader, or the first one when none is selected.
  void ConnectSelectedReader();
  // Shows "No device inserted.", releases the current device and closes it.
  void DisconnectCurrent();
  // Opens the current device again (for a smart card: a fresh connection, which resets it).
  void ResetCurrent();
  // Selects exactly the mode option that re-applies the interfaces present.
  void PresetModeOption(readers::PresentInterfaces present);
  // Sends the interface mode of the first selected option to the current device.
  void ApplyInterfaceMode();

  // Where the smart-card service needs it (Windows XP), a new reader is woken before it is connected.
  void SetIsWindowsXp(bool isWindowsXp) { m_bIsWindowsXp = isWindowsXp; }
 signals:
  // A refresh has been applied, with its connect when it made one.
  void refreshed();

 private:
  void ShowReaderRows();
  void SelectRowsNamed(const std::wstring& name);
  // Connects a reader by the name the listing gave it (its bytes as the service has them).
  void ConnectListedReader(const std::string& name, std::function<void()> then = {});
  // The refresh's second half, on what the listing found: the current key let go of when its
  // reader went, the new readers probed, and the preferred one connected.
  void ApplyListing(readers::Listing listing);
  // Makes the transport on the worker and opens it there; then it becomes the window's device
  // and the panel shows what came of it. `then` runs after that.
  void Connect(const std::wstring& name, std::function<readers::Transport()> make, std::function<void()> then = {});
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
};
