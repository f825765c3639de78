#include "app/MainWnd.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QShortcut>
#include <QStackedWidget>
#include <QTextEdit>
#include <QTimer>
#include <QWindowStateChangeEvent>
#include <utility>

#include "BuildConfig.h"
#include "app/DeviceChangeMonitor.h"
#include "app/KeyStatusLine.h"
#include "app/MsgWnd.h"
#include "app/oath/OtpOath.h"
#include "app/setup/InitDemoToCardUI.h"
#include "core/Conversions.h"
#include "device/KeyModels.h"
#include "device/PcscApi.h"
#include "device/PcscInterface.h"
#include "ui/Controls.h"
#include "ui/SkinTexts.h"


namespace {

const QString kReaderPanelClass = QStringLiteral("CommunicatePanelUI");
const QString kOathPanelClass = QStringLiteral("OATH_GET_OTP_PANELUI");
const QString kQuitButton = QStringLiteral("quitbtn");
const QString kTabLayout = QStringLiteral("body_main_tablayout");
constexpr const char* kDeferredTextProperty = "tokvaneDeferredText";
const QString kOathTab = QStringLiteral("get_opt_panel_tab");
const QString kPersonalizationTab = QStringLiteral("personalization_tab");
const QString kSettingTab = QStringLiteral("personal_setting_tab");

// The box layout, within `layout` and its nested layouts, that holds `widget` itself.
QBoxLayout* BoxLayoutHolding(QLayout* layout, QWidget* widget) {
  if (layout == nullptr) return nullptr;
  auto* box = qobject_cast<QBoxLayout*>(layout);
  if (box != nullptr && box->indexOf(widget) >= 0) return box;
  for (int i = 0; i < layout->count(); ++i) {
    if (QBoxLayout* inner = BoxLayoutHolding(layout->itemAt(i)->layout(), widget)) return inner;
  }
  return nullptr;
}

// How long an action may take before the window shows it as busy: quicker ones do not flicker.
constexpr auto kBusyShowDelay = std::chrono::milliseconds(150);
// The longest a shown window waits for its first paint before it lists the readers anyway.
constexpr auto kDevicesAfterShowLimit = std::chrono::milliseconds(250);

}  // namespace

CMainWnd::CMainWnd(DeviceBackends backends, std::unique_ptr<IDeveiceInterface> device)
    : m_VidPidConfigFiles(VidPidConfigSearchPath(tokvane::build::kDataDir)),
      m_pConnection(device != nullptr ? std::make_shared<KeyConnection>(std::move(device), std::wstring(), false)
                                      : nullptr),
      m_Backends(std::move(backends)) {}

CMainWnd::CMainWnd(DeviceBackends backends)
    : CMainWnd(backends, std::make_unique<CPcscInterface>("", backends.pcsc)) {}

CMainWnd::~CMainWnd() {
  // The watcher thread posts to this window: it ends before the window does.
  m_pDeviceMonitor.reset();
  if (m_bBusyShown) QGuiApplication::restoreOverrideCursor();
  // No result is shown in a window being taken apart; the device is let go of on the worker, which
  // closes it before its thread ends, last of all.
  QObject::disconnect(&m_KeyWorker, nullptr, nullptr, nullptr);
  m_KeyWorker.SetClosing();
  ReplaceDevice(nullptr);
}

QWidget* CMainWnd::CreateControl(const QString& className, QWidget* parent) {
  if (className == kReaderPanelClass) {
    auto* panel = new InitDemoToCardUI(*this, parent);
    m_pReaderPanel = panel;
    panel->Init(*this);
    return panel;
  }
  if (className == kOathPanelClass) {
    auto* panel = new OtpOath(*this, parent);
    m_pOathPanel = panel;
    m_pOathNotify = panel;
    panel->Init(*this);
    return panel;
  }
  return nullptr;
}

void CMainWnd::InitWindow() {
  m_pCloseBtn = FindControl(QStringLiteral("closebtn"));
  m_pMaxBtn = FindControl(QStringLiteral("maxbtn"));
  m_pRestoreBtn = FindControl(QStringLiteral("restorebtn"));
  m_pMinBtn = FindControl(QStringLiteral("minbtn"));
  m_pLog = FindControlAs<QTextEdit>(QStringLiteral("RichEdit_InitDeomo"));
  m_pClearOutputBtn = FindControl(QStringLiteral("clare_output_in_initUI"));
  m_pHideReaderBtn = FindControl(QStringLiteral("hide_reader_ui_btn"));
  m_pShowReaderBtn = FindControl(QStringLiteral("show_reader_ui_btn"));
  m_pReaderPanelLayout = FindControl(QStringLiteral("communicate_panel_ui"));
  m_pReaderPanelHiddenLayout = FindControl(QStringLiteral("communicate_panel_ui_hide"));
  m_pHideOutputBtn = FindControl(QStringLiteral("hide_output_in_initUI"));
  m_pShowOutputBtn = FindControl(QStringLiteral("show_output_in_initUI"));
  m_pOutputShownLayout = FindControl(QStringLiteral("show_output_in_initUI_layout"));
  m_pOutputHiddenLayout = FindControl(QStringLiteral("hide_output_in_initUI_layout"));

  DeferHiddenPageTexts();

  m_pStatusLine = new KeyStatusLine(this);
  PlaceStatusLine();
  m_pBusyDelay = new QTimer(this);
  m_pBusyDelay->setSingleShot(true);
  m_pBusyDelay->setInterval(kBusyShowDelay);
  connect(m_pBusyDelay, &QTimer::timeout, this, [this] { ShowBusy(true); });
  connect(&m_KeyWorker, &KeyWorker::stepRunning, this, &CMainWnd::OnStepRunning);
  connect(&m_KeyWorker, &KeyWorker::taskFailed, this, [this](const QString& what) {
    AppendLog(TrQ("The action ended unexpectedly: %1\n").arg(what).toStdWString(), log_color::kRed);
  });
  if (m_pReaderPanel != nullptr) {
    connect(m_pReaderPanel, &InitDemoToCardUI::refreshed, this, &CMainWnd::readerListRefreshed);
  }
  connect(&m_KeyWorker, &KeyWorker::touchWaitStarted, m_pStatusLine, &KeyStatusLine::StartTouchCountdown);
  connect(&m_KeyWorker, &KeyWorker::touchWaitEnded, m_pStatusLine, &KeyStatusLine::StopTouchCountdown);

  // The keyboard starts where the work starts: the reader list. F5 lists the readers again, as a
  // device change would.
  auto* refresh = new QShortcut(QKeySequence(Qt::Key_F5), this);
  connect(refresh, &QShortcut::activated, this, [this] { RefreshReaders(); });
  if (QWidget* readers = FindControl(QStringLiteral("list_for_reader"))) {
    readers->setFocus();
    readers->setToolTip(TrQ("The readers of the plugged-in keys (F5 lists them again)"));
  }

  // The warning about a missing configuration comes before the window, as it always did.
  LoadDeviceConfiguration();
  if (m_bDevicesAfterFirstPaint) {
    m_bDevicesPending = true;
  } else {
    StartDevices();
  }
}

void CMainWnd::PlaceStatusLine() {
  // A line of its own right under the log, so it never hides the newest entries; a skin without
  // a log in a box layout gets it at the bottom of the window.
  if (m_pLog != nullptr && m_pLog->parentWidget() != nullptr) {
    if (QBoxLayout* box = BoxLayoutHolding(m_pLog->parentWidget()->layout(), m_pLog)) {
      box->insertWidget(box->indexOf(m_pLog) + 1, m_pStatusLine);
      return;
    }
  }
  if (auto* box = qobject_cast<QBoxLayout*>(layout())) box->addWidget(m_pStatusLine);
}

void CMainWnd::StartDevices() {
  RefreshReaders();
  StartDeviceNotifications();
}

void CMainWnd::StartPendingDevices() {
  if (!m_bDevicesPending) return;
  m_bDevicesPending = false;
  StartDevices();
}

void CMainWnd::LoadDeviceConfiguration() {
  if (!LoadKeyModels(m_VidPidConfigFiles, *m_Backends.models)) {
    ShowMessageBox(nullptr, tokvane::TrW("Warning"), tokvane::TrW("Can find the vid and pid config file"));
  }
}

void CMainWnd::RefreshReaders() {
  // Queued behind whatever the worker is doing; while an action waits for the operator it runs at
  // once, so a key pulled out meanwhile is let go of before the action sends anything more.
  if (m_pReaderPanel != nullptr) m_pReaderPanel->RefreshReaderList();
}

void CMainWnd::StartDeviceNotifications() {
  m_pDeviceMonitor = std::make_unique<DeviceChangeMonitor>(this);
  m_pDeviceMonitor->StartUdev();
  m_pDeviceMonitor->StartPcscWatcher(m_Backends.pcsc);
}

bool CMainWnd::event(QEvent* event) {
  if (event->type() == DeviceChangeEvent::EventType()) {
    RefreshReaders();
    return true;
  }
  if (m_bDevicesPending) {
    // The readers are listed right after the window's first paint; a window that is shown but
    // not painted (started minimised) lists them a moment after it is shown.
    if (event->type() == QEvent::Paint) {
      QTimer::singleShot(0, this, [this] { StartPendingDevices(); });
    } else if (event->type() == QEvent::Show) {
      QTimer::singleShot(kDevicesAfterShowLimit, this, [this] { StartPendingDevices(); });
    }
  }
  return WindowImplBase::event(event);
}

void CMainWnd::Notify(TNotifyUI& msg) {
  const bool click = msg.sType == notify_type::kClick;
  // One action at a time: a panel's click while the key works is not taken.
  if (click && m_KeyWorker.IsBusy() && IsPanelControl(msg.pSender)) return;
  if (m_pOathNotify != nullptr) m_pOathNotify->Notify(msg);
  if (m_pReaderPanel != nullptr) m_pReaderPanel->Notify(msg);
  if (click) OnClick(msg);
}

bool CMainWnd::IsPanelControl(const QWidget* control) const {
  if (control == nullptr) return false;
  return (m_pOathPanel != nullptr && m_pOathPanel->isAncestorOf(control)) ||
         (m_pReaderPanel != nullptr && m_pReaderPanel->isAncestorOf(control));
}

void CMainWnd::OnStepRunning(bool running) {
  if (running) {
    if (m_pBusyDelay != nullptr) m_pBusyDelay->start();
    return;
  }
  if (m_pBusyDelay != nullptr) m_pBusyDelay->stop();
  ShowBusy(false);
}

void CMainWnd::ShowBusy(bool shown) {
  if (shown == m_bBusyShown) return;
  m_bBusyShown = shown;
  QWidget* panels[] = {m_pReaderPanel, m_pOathPanel};
  if (shown) {
    QWidget* focused = QApplication::focusWidget();
    m_pFocusBeforeBusy = focused != nullptr && IsPanelControl(focused) ? focused : nullptr;
    // Disabling a panel keeps the state of each control within; enabling it gives them back.
    for (QWidget* panel : panels) {
      if (panel != nullptr) panel->setEnabled(false);
    }
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
  } else {
    for (QWidget* panel : panels) {
      if (panel != nullptr) panel->setEnabled(true);
    }
    QGuiApplication::restoreOverrideCursor();
    if (m_pFocusBeforeBusy != nullptr && m_pFocusBeforeBusy->isEnabled() && m_pFocusBeforeBusy->isVisible()) {
      m_pFocusBeforeBusy->setFocus();
    }
    m_pFocusBeforeBusy = nullptr;
  }
  if (m_pStatusLine != nullptr) m_pStatusLine->SetWaiting(shown);
}

void CMainWnd::OnClick(TNotifyUI& msg) {
  QWidget* sender = msg.pSender;
  if (sender == nullptr) return;
  const QString name = controls::Name(sender);
  const QString lowerName = name.toLower();

  if (sender == m_pCloseBtn || name == kQuitButton) {
    PostQuit();
  } else if (sender == m_pMinBtn) {
    SendSystemCommand(SystemCommand::Minimize);
  } else if (sender == m_pMaxBtn) {
    SendSystemCommand(SystemCommand::Maximize);
  } else if (sender == m_pRestoreBtn) {
    SendSystemCommand(SystemCommand::Restore);
  } else if (lowerName == kOathTab || lowerName == kPersonalizationTab || lowerName == kSettingTab) {
    if (lowerName == kOathTab) m_pOathNotify = m_pOathPanel;
    SelectTab(sender);
  } else if (sender == m_pClearOutputBtn) {
    if (m_pLog != nullptr) m_pLog->clear();
  } else if (sender == m_pHideOutputBtn) {
    controls::SetVisible(m_pOutputHiddenLayout, true);
    controls::SetVisible(m_pOutputShownLayout, false);
  } else if (sender == m_pShowOutputBtn) {
    controls::SetVisible(m_pOutputHiddenLayout, false);
    controls::SetVisible(m_pOutputShownLayout, true);
  } else if (sender == m_pHideReaderBtn) {
    controls::SetVisible(m_pReaderPanelHiddenLayout, false);
    controls::SetVisible(m_pReaderPanelLayout, true);
  } else if (sender == m_pShowReaderBtn) {
    controls::SetVisible(m_pReaderPanelHiddenLayout, true);
    controls::SetVisible(m_pReaderPanelLayout, false);
  }
}

// Laying out a page's long wrapped rich text is most of what the first paint would spend on pages
// nobody sees yet ("Getting started", "About"): their texts wait until the page is first chosen.
void CMainWnd::DeferHiddenPageTexts() {
  auto* tabs = FindControlAs<QStackedWidget>(kTabLayout);
  if (tabs == nullptr) return;
  for (int index = 0; index < tabs->count(); ++index) {
    if (index == tabs->currentIndex()) continue;
    for (QLabel* label : tabs->widget(index)->findChildren<QLabel*>()) {
      if (!label->wordWrap() || label->text().isEmpty()) continue;
      label->setProperty(kDeferredTextProperty, label->text());
      label->clear();
    }
  }
}

void CMainWnd::RestoreDeferredTexts(QWidget* page) {
  for (QLabel* label : page->findChildren<QLabel*>()) {
    const QVariant deferred = label->property(kDeferredTextProperty);
    if (!deferred.isValid()) continue;
    label->setText(deferred.toString());
    label->setProperty(kDeferredTextProperty, QVariant());
  }
}

void CMainWnd::SelectTab(QWidget* tabButton) {
  auto* tabs = FindControlAs<QStackedWidget>(kTabLayout);
  if (tabs == nullptr) return;
  const QString pageName = controls::UserData(tabButton);
  if (pageName.isEmpty()) return;
  for (int index = 0; index < tabs->count(); ++index) {
    if (tabs->widget(index)->objectName() == pageName) {
      RestoreDeferredTexts(tabs->widget(index));
      tabs->setCurrentIndex(index);
      return;
    }
  }
}

void CMainWnd::changeEvent(QEvent* event) {
  if (event->type() == QEvent::WindowStateChange) {
    // Whatever zoomed or restored the window (its own buttons, the window manager, a shortcut),
    // the title bar offers the other action.
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasMaximized = (change->oldState() & Qt::WindowMaximized) != 0;
    const bool isMaximized = (windowState() & Qt::WindowMaximized) != 0;
    if (!wasMaximized && isMaximized) {
      controls::SetVisible(m_pMaxBtn, false);
      controls::SetVisible(m_pRestoreBtn, true);
    } else if (wasMaximized && !isMaximized) {
      controls::SetVisible(m_pMaxBtn, true);
      controls::SetVisible(m_pRestoreBtn, false);
    }
  }
  WindowImplBase::changeEvent(event);
}

void CMainWnd::closeEvent(QCloseEvent* event) {
  // The system close (Alt+F4, the taskbar) ends the application like the close button; the
  // window itself stays until the loop has ended.
  event->ignore();
  PostQuit();
}

void CMainWnd::PostQuit() {
  m_KeyWorker.SetClosing();
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void CMainWnd::ReplaceDevice(std::shared_ptr<KeyConnection> connection) {
  std::shared_ptr<KeyConnection> previous = std::exchange(m_pConnection, std::move(connection));
  if (previous == nullptr) return;
  // A task still holding it sees it released at once; the transport itself goes on the worker,
  // behind every task that may still use it.
  previous->released = true;
  m_KeyWorker.Post([previous = std::move(previous)]() mutable { previous.reset(); });
}

void CMainWnd::ShowReaderPanel() {
  controls::SetVisible(m_pReaderPanelLayout, true);
  controls::SetVisible(m_pReaderPanelHiddenLayout, false);
}

void CMainWnd::CredentialsChanged() {
  if (m_pOathPanel != nullptr) m_pOathPanel->ClearCredentials();
}

void CMainWnd::ForgetTypedSecret() {
  if (m_pOathPanel != nullptr) m_pOathPanel->ClearSecretField();
}

bool CMainWnd::AppendLog(const std::wstring& text, COLORREF colour) {
  const QString entry = QString::fromStdWString(text);
  // A failure is said aloud as well as written in red.
  if (colour == log_color::kRed && m_pStatusLine != nullptr) m_pStatusLine->Announce(entry);
  return AppendLogEntry(m_pLog, m_nLogCount, entry, colour);
}

bool CMainWnd::CheckDeviceSelected() {
  if (m_pConnection != nullptr) return true;
  AppendLog(tokvane::TrW("Please select device.\n"), log_color::kRed);
  return false;
}
