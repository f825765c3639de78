#pragma once
// The OATH credentials panel: the credential list and the fields that write a new HOTP
// credential. Built from "GetOtp.xml" inside the main window.
#include <QWidget>

#include "ui/Notify.h"

class CMainWnd;
class QAbstractButton;
class QComboBox;
class QLineEdit;
class QListWidget;
class WindowImplBase;

class OtpOath : public QWidget, public INotifyUI {
  Q_OBJECT

 public:
  OtpOath(CMainWnd& mainWnd, QWidget* parent);
  ~OtpOath() override;

  // Builds the panel's own skin below it and finds its controls.
  void Init(WindowImplBase& manager);
  void Notify(TNotifyUI& msg) override;

  // Removes every credential row and record. The rows and records come with the panel's
  // behaviour; until then there is nothing to remove.
  void ClearCredentials();

  CMainWnd& m_MainWnd;
  WindowImplBase* m_pManager = nullptr;
  QListWidget* m_pListView = nullptr;
  QAbstractButton* m_pListNames = nullptr;
  QAbstractButton* m_pGetAppletVersion = nullptr;
  QAbstractButton* m_pResetNames = nullptr;
  QWidget* m_pCalculateAll = nullptr;
  QComboBox* m_pHotpLength = nullptr;
  QAbstractButton* m_pPersonalization = nullptr;
  QAbstractButton* m_pRandomGenerate = nullptr;
  QLineEdit* m_pImfEdit = nullptr;
  QLineEdit* m_pPasswordEdit = nullptr;
  QLineEdit* m_pNameEdit = nullptr;
};
