#pragma once
// The main window: loads "main.xml", creates the two panels the skin asks for, routes every
// control notification to them, reacts to its own buttons and tabs, and offers the panels the
// current device, the output log and the applet selections.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/OutputLog.h"
#include "device/DeviceBackends.h"
#include "device/DeviceInterface.h"
#include "ui/WindowImplBase.h"

class DeviceChangeMonitor;
class InitDemoToCardUI;
class OtpOath;
class QTextEdit;

class CMainWnd : public WindowImplBase {
  Q_OBJECT

 public:
  // Every listing, transport and device watch of the window and its panels goes through
  // `backends`; the window starts with `device`, or with an unnamed PC/SC transport.
  CMainWnd(DeviceBackends backends, std::unique_ptr<IDeveiceInterface> device);
  explicit CMainWnd(DeviceBackends backends);
  ~CMainWnd() override;

  QString GetWindowClassName() const override { return QStringLiteral("MainWnd"); }
  QString GetSkinFile() const override { return QStringLiteral("main.xml"); }
  void InitWindow() override;
  void Notify(TNotifyUI& msg) override;
  void OnClick(TNotifyUI& msg) override;
  QWidget* CreateControl(const QString& className, QWidget* parent) override;

  // One numbered log entry; false when the skin has no log.
  bool AppendLog(const std::wstring& text, COLORREF colour);
  // True when a device is selected; otherwise logs "Please select device." in red.
  bool CheckDeviceSelected();
  // Selects the OATH applet on the open current device. False when the device is not open or
  // the exchange failed; a refusing status word is logged and still counts as selected.
  bool SelectOathApplet();
  // Re-selects the FIDO applet (opening the device if needed) and closes the device.
  bool SelectFidoApplet();
  const DeviceBackends& Backends() const { return m_Backends; }

  // Where the VID/PID configuration is looked for, in order: beside the executable, then in the
  // installed data directory. The first file that loads wins.
  std::vector<std::string> m_VidPidConfigFiles;

  // Installs `device` as the current device (nullptr releases it), deleting the previous one,
  // and starts a new device generation. The reader panel is its only caller.
  void ReplaceDevice(std::unique_ptr<IDeveiceInterface> device, bool isHidDevice);

  // What the panels share. The reader panel alone replaces m_pDevice, through ReplaceDevice.
  std::unique_ptr<IDeveiceInterface> m_pDevice;
  // Counts every replacement or release of m_pDevice. A message box runs a nested loop in which a
  // device change may replace the device; an action that held the device across a box compares
  // the generation it noted before the box with this one before using the device again.
  std::uint64_t m_nDeviceGeneration = 0;
  bool m_bIsWindowsXp = false;
  bool m_bIsHidDevice = false;
  OtpOath* m_pOathPanel = nullptr;
  InitDemoToCardUI* m_pReaderPanel = nullptr;
  INotifyUI* m_pOathNotify = nullptr;
  std::int32_t m_nLogCount = 0;
  QTextEdit* m_pLog = nullptr;

  // Controls of the window's own skin; null when the skin lacks one.
  QWidget* m_pCloseBtn = nullptr;
  QWidget* m_pMaxBtn = nullptr;
  QWidget* m_pRestoreBtn = nullptr;
  QWidget* m_pMinBtn = nullptr;
  QWidget* m_pClearOutputBtn = nullptr;
  QWidget* m_pHideReaderBtn = nullptr;
  QWidget* m_pShowReaderBtn = nullptr;
  QWidget* m_pReaderPanelLayout = nullptr;
  QWidget* m_pReaderPanelHiddenLayout = nullptr;
  QWidget* m_pHideOutputBtn = nullptr;
  QWidget* m_pShowOutputBtn = nullptr;
  QWidget* m_pOutputShownLayout = nullptr;
  QWidget* m_pOutputHiddenLayout = nullptr;

 signals:
  // After every reader-list refresh that a device change (or the start) asked for.
  void readerListRefreshed();

 protected:
  bool event(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void ReportExchangeFailure(IDeveiceInterface& device);
  void LoadDeviceConfiguration();
  void RefreshReaders();
  void StartDeviceNotifications();
  void SelectTab(QWidget* tabButton);
  // Ends the application's loop with code 0 once the current handler has returned.
  static void PostQuit();

  DeviceBackends m_Backends;
  std::unique_ptr<DeviceChangeMonitor> m_pDeviceMonitor;
};
