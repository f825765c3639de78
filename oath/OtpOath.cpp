#include "oath/OtpOath.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include "app/MainWnd.h"
#include "ui/WindowImplBase.h"

OtpOath::OtpOath(CMainWnd& mainWnd, QWidget* parent) : QWidget(parent), m_MainWnd(mainWnd) {}

OtpOath::~OtpOath() = default;

void OtpOath::Init(WindowImplBase& manager) {
  m_pManager = &manager;
  QWidget* root = manager.BuildSkin(QStringLiteral("GetOtp.xml"), nullptr, this);
  if (root == nullptr) return;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(root);

  auto find = [root](const char* name) { return WindowImplBase::FindSubControlByName(root, QString::fromLatin1(name)); };
  m_pListView = qobject_cast<QListWidget*>(find("listview"));
  m_pListNames = qobject_cast<QAbstractButton*>(find("list_names"));
  m_pGetAppletVersion = qobject_cast<QAbstractButton*>(find("get_applet_version"));
  m_pResetNames = qobject_cast<QAbstractButton*>(find("reset_names"));
  m_pCalculateAll = find("caculate_all");
  m_pHotpLength = qobject_cast<QComboBox*>(find("hotp_length"));
  m_pPersonalization = qobject_cast<QAbstractButton*>(find("btn_personalization"));
  m_pRandomGenerate = qobject_cast<QAbstractButton*>(find("btn_random_generate"));
  m_pImfEdit = qobject_cast<QLineEdit*>(find("imf_edit"));
  m_pPasswordEdit = qobject_cast<QLineEdit*>(find("personinalize_edit_password"));
  m_pNameEdit = qobject_cast<QLineEdit*>(find("personinalize_edit_name"));
}

void OtpOath::Notify(TNotifyUI&) {
  // Listing, versions, reset, personalization and the row actions are bound here together with
  // the panel's behaviour.
}

void OtpOath::ClearCredentials() {
  // Rows and records arrive with the panel's behaviour; there is nothing to remove yet.
}
