#pragma once
// The device setup panel: the reader list, connect / disconnect / reset, the device picture and
// the interface-mode options. Built from "InitDemoToCardUI.xml" inside the main window.
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "ui/Notify.h"

class CMainWnd;
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

  InitDemoToCardUI(CMainWnd& mainWnd, QWidget* parent);
  ~InitDemoToCardUI() override;

  // Builds the panel's own skin below it and finds its controls; the disconnect and reset
  // buttons start disabled, since nothing is connected yet.
  void Init(WindowImplBase& manager);
  void Notify(TNotifyUI& msg) override;

  // Rebuilds the reader list from the readers present now. The listing, probing and automatic
  // connection come with the panel's behaviour; until then the list stays as it is.
  void RefreshReaderList();

  QAbstractButton* m_pConnectBtn = nullptr;
  QAbstractButton* m_pDisconnectBtn = nullptr;
  QAbstractButton* m_pResetBtn = nullptr;
  QListWidget* m_pReaderList = nullptr;
  std::vector<std::string> ReaderNames;
  QAbstractButton* m_pApplyBtn = nullptr;
  std::array<QAbstractButton*, 8> m_pModeOptions{};
  CMainWnd& m_MainWnd;
  QLabel* m_pInsertedInfo = nullptr;
  QLabel* m_pDeviceImg = nullptr;
  // Where the panel tells the operator how to fix what keeps a key from being listed.
  QLabel* m_pReaderHint = nullptr;

 private:
  WindowImplBase* m_pManager = nullptr;
};
