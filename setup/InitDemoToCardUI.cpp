#include "setup/InitDemoToCardUI.h"

#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include "app/MainWnd.h"
#include "ui/Controls.h"
#include "ui/WindowImplBase.h"

InitDemoToCardUI::InitDemoToCardUI(CMainWnd& mainWnd, QWidget* parent) : QWidget(parent), m_MainWnd(mainWnd) {}

InitDemoToCardUI::~InitDemoToCardUI() = default;

void InitDemoToCardUI::Init(WindowImplBase& manager) {
  m_pManager = &manager;
  QWidget* root = manager.BuildSkin(QStringLiteral("InitDemoToCardUI.xml"), nullptr, this);
  if (root == nullptr) return;
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(root);

  auto find = [root](const char* name) { return WindowImplBase::FindSubControlByName(root, QString::fromLatin1(name)); };
  m_pConnectBtn = qobject_cast<QAbstractButton*>(find("Card_Connect"));
  m_pDisconnectBtn = qobject_cast<QAbstractButton*>(find("Card_Disconnect"));
  m_pResetBtn = qobject_cast<QAbstractButton*>(find("Card_Reset"));
  m_pReaderList = qobject_cast<QListWidget*>(find("list_for_reader"));
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

void InitDemoToCardUI::Notify(TNotifyUI&) {
  // Connect, disconnect, reset and the mode switch are bound here together with the panel's
  // behaviour.
}

void InitDemoToCardUI::RefreshReaderList() {
  // The listing, the probes of new readers and the automatic connection come with the panel's
  // behaviour; the main window already calls this at start and on every device change.
}
