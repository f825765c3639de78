// The main window: start-up, tabs, window buttons, closing, device changes and the applet
// selections it offers the panels.
#include <QAbstractButton>
#include <QLineEdit>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTest>
#include <algorithm>
#include <stdexcept>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/DeviceChangeMonitor.h"
#include "app/KeyStatusLine.h"
#include "app/MainWnd.h"
#include "app/oath/OtpOath.h"
#include "device/KeyModels.h"
#include "device/VidPidConfig.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualPcscApi.h"
#include "oath/OathCommands.h"

using namespace guitest;

namespace {

// The main window with the stand-in for the OATH panel's notifications within reach.
class ProbedMainWnd final : public CMainWnd {
 public:
  using CMainWnd::CMainWnd;
  using CMainWnd::OathNotify;
  using CMainWnd::SetOathNotify;
};

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tempDir.isValid());
    // The host's readers and keys play no part: the start-up refresh finds none to connect to.
    card = std::make_shared<SelectCard>();
    auto device = std::make_unique<CardDevice>(card);
    device_ = device.get();
    window = std::make_unique<ProbedMainWnd>(
        MakeDeviceBackends(std::make_shared<VirtualPcscApi>(), std::make_shared<VirtualHidApi>()), std::move(device));
    window->SetVidPidConfigFiles({tempDir.filePath("absent/Pid_Vid_Config.xml").toStdString()});
  }

  void TearDown() override { window.reset(); }

  // `settle`: wait for the start-up listing to be shown.
  void Start(bool settle = true) {
    BoxAnswerer answerer(BoxAnswer::Confirm);
    ASSERT_TRUE(window->Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690));
    startupBoxes = answerer.Shown();
    window->show();
    if (settle) Settle(*window);
    window->CenterWindow();
  }

  template <class T = QWidget>
  T* Control(const char* name) {
    return window->FindControlAs<T>(QString::fromLatin1(name));
  }

  void Click(const char* name) {
    auto* button = Control<QAbstractButton>(name);
    ASSERT_NE(button, nullptr) << name;
    button->click();
  }

  std::vector<LogEntry> Log() { return WindowLog(*window); }

  QTemporaryDir tempDir;
  std::shared_ptr<SelectCard> card;
  CardDevice* device_ = nullptr;
  std::unique_ptr<ProbedMainWnd> window;
  std::vector<ShownBox> startupBoxes;
};

TEST_F(MainWindow, ConfigurationFileIsInstalledWithoutAWarning) {
  const QString path = tempDir.filePath("Pid_Vid_Config.xml");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("<config><device VID=\"0x1234\" PID=\"0x5678\"/></config>");
  file.close();
  window->SetVidPidConfigFiles({tempDir.filePath("absent.xml").toStdString(), path.toStdString()});
  Start();
  EXPECT_TRUE(startupBoxes.empty());
  EXPECT_EQ(window->Backends().models->Entries(), std::vector<VidPidEntry>{VidPidEntry::Make(0x1234, 0x5678)});
}

// The OATH tab also gives the OATH panel its notifications back; a tab naming no page changes nothing.
TEST_F(MainWindow, TabButtonsShowThePageTheirUserDataNames) {
  Start();
  auto* tabs = Control<QStackedWidget>("body_main_tablayout");
  ASSERT_NE(tabs, nullptr);
  window->SetOathNotify(nullptr);
  bool oathShown = false;
  for (const char* tab : {"personalization_tab", "personal_setting_tab", "get_opt_panel_tab", "personal_setting_tab"}) {
    Click(tab);
    oathShown = oathShown || std::string(tab) == "get_opt_panel_tab";
    EXPECT_EQ(window->OathNotify() != nullptr, oathShown) << tab;
    const QString page = Control(tab)->property("userdata").toString();
    ASSERT_FALSE(page.isEmpty()) << tab;
    EXPECT_EQ(tabs->currentWidget()->objectName(), page) << tab;
    // A page's long texts may wait until it is first shown, but a shown page shows them.
    for (const QLabel* label : tabs->currentWidget()->findChildren<QLabel*>()) {
      if (label->wordWrap()) {
        EXPECT_FALSE(label->text().isEmpty()) << label->objectName().toStdString();
      }
    }
  }
  EXPECT_TRUE(Control<QLabel>("guide_page_text")->text().contains(QStringLiteral("Plug in your key.")));
  EXPECT_EQ(window->OathNotify(), static_cast<INotifyUI*>(window->findChild<OtpOath*>()));
  QWidget* before = tabs->currentWidget();
  Control("personalization_tab")->setProperty("userdata", "no_such_page");
  Click("personalization_tab");
  EXPECT_EQ(tabs->currentWidget(), before);
}

TEST_F(MainWindow, MaximiseAndRestoreButtonsSwapWithTheWindowState) {
  Start();
  auto buttonsShow = [this](bool maxShown) {
    EXPECT_EQ(Control("maxbtn")->isVisibleTo(window.get()), maxShown);
    EXPECT_EQ(Control("restorebtn")->isVisibleTo(window.get()), !maxShown);
  };
  buttonsShow(true);
  Click("maxbtn");
  EXPECT_TRUE(window->isMaximized());
  buttonsShow(false);
  Click("restorebtn");
  EXPECT_FALSE(window->isMaximized());
  buttonsShow(true);

  // Zoomed or restored by anything else: the window manager, a shortcut.
  window->setWindowState(Qt::WindowMaximized);
  buttonsShow(false);
  window->setWindowState(Qt::WindowNoState);
  buttonsShow(true);
  window->showMinimized();
  buttonsShow(true);
}

TEST_F(MainWindow, CloseButtonAndSystemCloseEndTheLoopWithZero) {
  Start();
  const std::vector<std::pair<const char*, std::function<void()>>> closers = {
      {"close button", [this] { Click("closebtn"); }},
      {"system close command", [this] { window->SendSystemCommand(SystemCommand::Close); }},
      {"window manager close (Alt+F4)", [this] { window->close(); }},
  };
  for (const auto& [what, closeIt] : closers) {
    QTimer::singleShot(0, closeIt);
    EXPECT_EQ(RunApplicationLoop(5000), 0) << what;
    EXPECT_TRUE(window->isVisible()) << what;  // the loop ends; the window is not destroyed by it
  }
}

// The program paints its window before it lists the readers: the configuration's warning still
// comes first, then the paint, then one refresh, and device changes are heard after it.
TEST_F(MainWindow, TheProgramListsTheReadersRightAfterItsFirstPaint) {
  std::vector<QString> order;
  struct FirstPaint : QObject {
    std::vector<QString>* order = nullptr;
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (event->type() == QEvent::Paint && std::find(order->begin(), order->end(), "paint") == order->end()) {
        order->push_back(QStringLiteral("paint"));
      }
      return QObject::eventFilter(watched, event);
    }
  } paint;
  paint.order = &order;
  window->installEventFilter(&paint);
  QObject::connect(window.get(), &CMainWnd::readerListRefreshed, [&order] { order.push_back(QStringLiteral("refresh")); });
  window->StartDevicesAfterFirstPaint();
  Start(/*settle=*/false);
  EXPECT_EQ(startupBoxes.size(), 1u);
  EXPECT_TRUE(order.empty());
  QSignalSpy refreshes(window.get(), &CMainWnd::readerListRefreshed);
  ASSERT_TRUE(refreshes.wait(5000));
  EXPECT_EQ(order, (std::vector<QString>{QStringLiteral("paint"), QStringLiteral("refresh")}));
  QCoreApplication::postEvent(window.get(), new DeviceChangeEvent());
  QCoreApplication::processEvents();
  Settle(*window);
  EXPECT_EQ(refreshes.count(), 2);
  window->removeEventFilter(&paint);
}

TEST_F(MainWindow, StartsWithTheLogAndTheReaderPanelShownAndTheirButtonsSwapThem) {
  Start();
  EXPECT_FALSE(Control("restorebtn")->isVisibleTo(window.get()));
  struct Case {
    const char* button;  // nullptr: as the window starts
    const char* shown;
    const char* hidden;
  } cases[] = {
      {nullptr, "show_output_in_initUI_layout", "hide_output_in_initUI_layout"},
      {nullptr, "communicate_panel_ui", "communicate_panel_ui_hide"},
      {"hide_output_in_initUI", "hide_output_in_initUI_layout", "show_output_in_initUI_layout"},
      {"show_output_in_initUI", "show_output_in_initUI_layout", "hide_output_in_initUI_layout"},
      {"show_reader_ui_btn", "communicate_panel_ui_hide", "communicate_panel_ui"},
      {"hide_reader_ui_btn", "communicate_panel_ui", "communicate_panel_ui_hide"},
  };
  for (const Case& c : cases) {
    if (c.button != nullptr) Click(c.button);
    EXPECT_TRUE(Control(c.shown)->isVisibleTo(window.get())) << c.shown;
    EXPECT_FALSE(Control(c.hidden)->isVisibleTo(window.get())) << c.hidden;
  }
}

TEST_F(MainWindow, DraggingTheTitleBarMovesTheWindow) {
  Start();
  QWidget* title = Control("title_bar");
  ASSERT_NE(title, nullptr);
  const QPoint start = window->pos();
  const QPoint local(300, 15);
  const QPoint global = title->mapToGlobal(local);
  auto send = [title](QEvent::Type type, QPoint at, QPoint globalAt, Qt::MouseButtons buttons) {
    QMouseEvent event(type, at, globalAt, Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(title, &event);
  };
  send(QEvent::MouseButtonPress, local, global, Qt::LeftButton);
  send(QEvent::MouseMove, local + QPoint(40, 25), global + QPoint(40, 25), Qt::LeftButton);
  send(QEvent::MouseButtonRelease, local + QPoint(40, 25), global + QPoint(40, 25), Qt::NoButton);
  EXPECT_EQ(window->pos(), start + QPoint(40, 25));
}

TEST_F(MainWindow, TheOathPanelHearsEveryNotificationBeforeTheWindowActsOnIt) {
  Start();
  struct Recorder : INotifyUI {
    void Notify(TNotifyUI& msg) override {
      seen.push_back(msg.sType + ":" + msg.pSender->objectName());
      logWasEmpty.push_back(log->toPlainText().isEmpty());
    }
    QTextEdit* log = nullptr;
    QStringList seen;
    std::vector<bool> logWasEmpty;
  } recorder;
  recorder.log = LogControl(*window);
  window->SetOathNotify(&recorder);
  window->AppendLog(L"entry\n", log_color::kBlue);
  Click("clare_output_in_initUI");
  Control<QLineEdit>("personinalize_edit_name")->setText(QStringLiteral("x"));
  ASSERT_EQ(recorder.seen,
            (QStringList{"click:clare_output_in_initUI", "textchanged:personinalize_edit_name"}));
  EXPECT_FALSE(recorder.logWasEmpty[0]);  // the clear came after the panel had its turn
  EXPECT_TRUE(LogControl(*window)->toPlainText().isEmpty());
  // The log is read-only, and its numbering goes on after a clear.
  EXPECT_TRUE(LogControl(*window)->isReadOnly());
  window->AppendLog(L"after\n", log_color::kBlue);
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_EQ(Log()[0].number, 1);
}

TEST_F(MainWindow, TheStatusLineHasAStripOfItsOwnUnderTheLogAndAClickDismissesIt) {
  Start();
  auto* status = window->findChild<KeyStatusLine*>();
  QTextEdit* log = LogControl(*window);
  ASSERT_TRUE(status != nullptr && log != nullptr);
  EXPECT_FALSE(status->isVisible());
  window->AppendLog(L"Select ins error.\n", log_color::kRed);  // a failure is announced
  const auto rectOf = [this](QWidget* widget) { return QRect(widget->mapTo(window.get(), QPoint(0, 0)), widget->size()); };
  // Laid out under the log, never over it.
  ASSERT_TRUE(QTest::qWaitFor([&] { return status->isVisible() && rectOf(status).top() >= rectOf(log).bottom(); }, 2000))
      << "status at " << rectOf(status).top() << ", log ends at " << rectOf(log).bottom();
  EXPECT_EQ(status->text(), QStringLiteral("Select ins error."));
  QTest::mouseClick(status, Qt::LeftButton);
  EXPECT_FALSE(status->isVisible());
}

// ---- the services the panels use ----

// The applet selections, for each way the device answers: the log, the boxes, and whether the
// caller's action goes on. A refusing status word still counts as selected; the OATH selection
// leaves the device open for the caller, the FIDO one opens, sends and closes, its status word
// unexamined.
TEST_F(MainWindow, AppletSelectionsLogTheCommandAndTheOutcome) {
  enum Fault { None, ClosedDevice, FailOpen, FailExchange, NoStatusWord };
  struct Case {
    const char* what;
    bool fido;
    Fault fault;
    std::uint16_t statusWord;
    bool selected;
    std::vector<ExpectedEntry> log;
    std::vector<ShownBox> boxes;
  };
  const ExpectedEntry oath{Hex(BuildSelectOath()) + "\n", kLogBlue};
  const ExpectedEntry fido{Hex(BuildSelectFido()) + "\n", kLogBlue};
  const ShownBox connectFirst{"Error", "Please connect device first"};
  const QString removed = QStringLiteral("The card was removed.");
  const QString noStatusWord = QString::fromLatin1(kNoStatusWordText);
  const Case cases[] = {
      {"closed device", false, ClosedDevice, 0x9000, false, {}, {connectFirst}},
      {"9000", false, None, 0x9000, true, {oath, {"Select ins successful.\n", kLogBlue}}, {}},
      {"6A82", false, None, 0x6A82, true, {oath, {"Select ins error.\n", kLogRed}}, {}},
      {"6984", false, None, 0x6984, true, {oath, {"Select ins error.\n", kLogRed}}, {}},
      {"no answer", false, FailExchange, 0x9000, false, {oath, {removed + "\n", kLogRed}},
       {{"Communication error", removed}}},
      {"no status word", false, NoStatusWord, 0x9000, false, {oath, {noStatusWord + "\n", kLogRed}},
       {{"Communication error", noStatusWord}}},
      {"fido", true, None, 0x6D00, false, {fido}, {}},
      {"fido cannot open", true, FailOpen, 0x9000, false, {fido, {"The device is not open.\n", kLogRed}},
       {connectFirst, {"Communication error", "The device is not open."}}},
  };
  Start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ClearWindowLog(*window);
    card->statusWord = c.statusWord;
    card->received.clear();
    device_->failOpen = c.fault == FailOpen;
    device_->failExchange = c.fault == FailExchange;
    device_->silentIns = c.fault == FailExchange || c.fault == NoStatusWord ? 0xA4 : -1;
    const int opens = device_->opens;
    BoxAnswerer answerer(BoxAnswer::Confirm, window.get());
    bool selected = false;
    bool open = false;
    RunTask(*window, [&](KeyTaskHost& host) {
      if (c.fido) {
        host.SelectFidoApplet();
      } else {
        if (c.fault != ClosedDevice) host.Device().Open();
        selected = host.SelectOathApplet();
      }
      open = host.Device().IsOpen();
      host.Device().Close();
    });
    EXPECT_EQ(selected, c.selected);
    EXPECT_EQ(open, !c.fido && c.fault != ClosedDevice);
    ExpectLog(*window, c.log);
    // The boxes' owner stays enabled: the window's own notices leave it usable.
    EXPECT_EQ(answerer.Shown(), c.boxes);
    if (c.fault == None || c.fault == ClosedDevice) {
      const std::vector<std::vector<std::uint8_t>> sent{c.fido ? BuildSelectFido() : BuildSelectOath()};
      EXPECT_EQ(card->received, c.fault == None ? sent : decltype(sent){});
      EXPECT_EQ(device_->opens - opens, c.fault == None ? 1 : 0);
    }
  }
}

// A worker step that throws ends its action with a red line; the window goes on.
TEST_F(MainWindow, ATaskThatThrowsEndsWithARedLineAndTheWindowGoesOn) {
  Start();
  RunTask(*window, [](KeyTaskHost&) { throw std::runtime_error("the key's answer made no sense"); });
  ExpectLog(*window, {{"The action ended unexpectedly: the key's answer made no sense\n", kLogRed}});
  RunTask(*window, [](KeyTaskHost& host) { host.SelectFidoApplet(); });
  EXPECT_EQ(card->received.size(), 1u) << "the next task still runs";
}

}  // namespace
