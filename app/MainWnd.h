#pragma once
// The main window: loads "main.xml", creates the two panels the skin asks for, routes every
// control notification to them, reacts to its own buttons and tabs, and offers the panels the
// current device, the output log and the applet selections through their PanelContext.
#include <QPointer>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/KeyWorker.h"
#include "app/OutputLog.h"
#include "app/PanelContext.h"
#include "device/DeviceBackends.h"
#include "app/KeyConnection.h"
#include "device/DeviceInterface.h"
#include "ui/WindowImplBase.h"

class DeviceChangeMonitor;
class InitDemoToCardUI;
class KeyStatusLine;
class OtpOath;
class QTextEdit;
class QTimer;

class CMainWnd : public WindowImplBase, public PanelContext {
  Q_OBJECT

 public:
  // `device`: the transport the window starts with, before any reader is connected (unnamed).
  CMainWnd(DeviceBackends backends, std::unique_ptr<IDeveiceInterface> device);
  explicit CMainWnd(DeviceBackends backends);
  ~CMainWnd() override;

  QString GetWindowClassName() const override { return QStringLiteral("MainWnd"); }
  QString GetSkinFile() const override { return QStringLiteral("main.xml"); }
  void InitWindow() override;
  void Notify(TNotifyUI& msg) override;
  void OnClick(TNotifyUI& msg) override;
  QWidget* CreateControl(const QString& className, QWidget* parent) override;

  // Where the VID/PID configuration is looked for, in order; the first file that loads wins.
  // By default beside the executable, then in the installed data directory. Read at start-up.
  void SetVidPidConfigFiles(std::vector<std::string> paths) { m_VidPidConfigFiles = std::move(paths); }
  // Called before Create by the program: the window is painted first, then the readers are listed
  // (and a key connected) and the device notifications start. Without it (tests), Create does both.
  void StartDevicesAfterFirstPaint() { m_bDevicesAfterFirstPaint = true; }

  // What the panels use (PanelContext).
  const DeviceBackends& Backends() const override { return m_Backends; }
  KeyWorker& Worker() override { return m_KeyWorker; }
  std::shared_ptr<KeyConnection> Connection() const override { return m_pConnection; }
  void ReplaceDevice(std::shared_ptr<KeyConnection> connection) override;
  bool AppendLog(const std::wstring& text, COLORREF colour) override;
  bool CheckDeviceSelected() override;
  void ShowReaderPanel() override;
  void CredentialsChanged() override;
  void ForgetTypedSecret() override;

  // Whether a device is selected, what it is called and whether it is a HID interface.
  bool HasDevice() const { return m_pConnection != nullptr; }
  std::wstring DeviceName() const { return m_pConnection != nullptr ? m_pConnection->name : std::wstring(); }
  bool IsHidDevice() const { return m_pConnection != nullptr && m_pConnection->isHid; }
  // A task of the key worker is under way or its result not yet shown.
  bool IsBusy() const { return m_KeyWorker.IsBusy(); }
  bool IsClosing() const { return m_KeyWorker.IsClosing(); }

 signals:
  // After every reader-list refresh that a device change (or the start) asked for.
  void readerListRefreshed();

 protected:
  bool event(QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

  // Who hears every notification before the window acts on it: the OATH panel, put back by its
  // tab. A test double may stand in.
  INotifyUI* OathNotify() const { return m_pOathNotify; }
  void SetOathNotify(INotifyUI* notify) { m_pOathNotify = notify; }

 private:
  // A task on the key that takes more than a moment shows: the panels disabled, a busy cursor,
  // and the status line saying the key is being waited for.
  void OnStepRunning(bool running);
  void ShowBusy(bool shown);
  void PlaceStatusLine();
  // Whether a click on `control` would start an action on the key.
  bool IsPanelControl(const QWidget* control) const;
  void LoadDeviceConfiguration();
  void RefreshReaders();
  void StartDeviceNotifications();
  void StartDevices();
  void StartPendingDevices();
  void SelectTab(QWidget* tabButton);
  void DeferHiddenPageTexts();
  void RestoreDeferredTexts(QWidget* page);
  // Ends the application's loop with code 0 once the current handler has returned. Nothing more
  // is sent to a key from then on: a task under way ends after the exchange it is in.
  void PostQuit();

  // Constructed first and destroyed last: every transport is let go of on it.
  KeyWorker m_KeyWorker;
  std::vector<std::string> m_VidPidConfigFiles;
  // The reader panel alone replaces it, through ReplaceDevice.
  std::shared_ptr<KeyConnection> m_pConnection;
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

  DeviceBackends m_Backends;
  std::unique_ptr<DeviceChangeMonitor> m_pDeviceMonitor;

  KeyStatusLine* m_pStatusLine = nullptr;
  bool m_bBusyShown = false;
  bool m_bDevicesAfterFirstPaint = false;
  bool m_bDevicesPending = false;
  QTimer* m_pBusyDelay = nullptr;
  // Where the keyboard was when the panels were disabled, given back afterwards.
  QPointer<QWidget> m_pFocusBeforeBusy;
};
