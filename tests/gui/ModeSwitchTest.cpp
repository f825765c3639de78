// The interface-mode switch from the panel, beyond what the action table pins: no option, a
// switch that went through, the answer before any connect, and the whole switch with its re-plug
// in demo mode.
#include <QAbstractButton>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/DemoMode.h"
#include "app/DeviceChangeMonitor.h"
#include "app/setup/InitDemoToCardUI.h"
#include "app/setup/InterfaceModeOptions.h"
#include "device/PcscInterface.h"
#include "oath/OathCommands.h"

using namespace guitest;
using namespace readertest;

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST_F(ReaderPanelWindow, NoneSelectedSendsAndLogsNothing) {
  PlugKey(kVirtualCcidInterface);
  Start();
  SelectOption("none_select");
  key->ClearReceivedApdus();
  Click("btn_apply");
  EXPECT_TRUE(key->ReceivedApdus().empty());
  EXPECT_TRUE(Log().empty());
}

TEST_F(ReaderPanelWindow, ASuccessfulSwitchStoresTheModeAndChangesNothingElse) {
  PlugKey(kAllInterfaces);
  Start();
  SelectOption("otp_u2f_select");
  const std::shared_ptr<KeyConnection> connection = window->Connection();
  Click("btn_apply");

  // The log of a switch is pinned in the action table; here, the option's own name in it.
  ASSERT_EQ(Log().size(), 4u);
  EXPECT_EQ(Log()[1].text, QStringLiteral("Apply otp and u2f device successful.\n\n"));
  EXPECT_EQ(key->StoredInterfaceMode(), 0x30);
  EXPECT_EQ(key->PresentInterfaces(), 0x70);  // until the key is plugged in again
  EXPECT_EQ(window->Connection(), connection);
  EXPECT_TRUE(DeviceIsOpen(*window));
  EXPECT_EQ(SelectedOptions(), QStringList{QStringLiteral("otp_u2f_select")});
  EXPECT_FALSE(Enabled("Card_Connect"));
}

TEST_F(ReaderPanelWindow, BeforeAnyConnectAskToConnectAndShowTheReaderPanel) {
  Start();
  Click("show_reader_ui_btn");  // the operator had folded the reader panel away
  ASSERT_FALSE(Control("communicate_panel_ui")->isVisibleTo(window.get()));

  SelectOption("none_select");
  Click("btn_apply");
  EXPECT_TRUE(Log().empty());

  SelectOption("u2f_select");
  Click("btn_apply");
  ExpectLog(*window, {{"Please connect device.\n", kLogRed}});
  EXPECT_TRUE(Control("communicate_panel_ui")->isVisibleTo(window.get()));
  EXPECT_FALSE(Control("communicate_panel_ui_hide")->isVisibleTo(window.get()));
}

// ---- demo mode ----

TEST(DemoModeSwitch, TheKeyComesBackWithTheNewInterfacesListedAndPreselected) {
  QTemporaryDir configDir;
  ASSERT_TRUE(configDir.isValid());
  DemoMode demo;
  demo.SetReplugDelay(150);
  CMainWnd window(demo.Backends());
  window.SetVidPidConfigFiles({WriteMakerConfig(configDir)});
  demo.SetDeviceChangeListener([&window] { QCoreApplication::postEvent(&window, new DeviceChangeEvent()); });
  demo.SetWindowBusyCheck([&window] { return window.Worker().IsBusy(); });
  ASSERT_TRUE(ShowMainWindow(window));
  ASSERT_EQ(ReaderRows(window), (QStringList{QString::fromLatin1(DemoMode::kReaderName), "VORTAN HID DEVICE KB 0",
                                              "VORTAN HID DEVICE U2F 1"}));
  ASSERT_TRUE(window.HasDevice());
  EXPECT_EQ(window.DeviceName(), L"VORTAN HID DEVICE U2F 1");
  ClearWindowLog(window);

  auto* option = window.FindControlAs<QAbstractButton>(QStringLiteral("otp_u2f_select"));
  ASSERT_NE(option, nullptr);
  option->setChecked(true);
  window.FindControlAs<QAbstractButton>(QStringLiteral("btn_apply"))->click();

  // Gone, and back with the keyboard and U2F interfaces only: listed, preselected, connected.
  const QStringList expected{"VORTAN HID DEVICE KB 0", "VORTAN HID DEVICE U2F 1"};
  // Settled once the refresh after the switch has let go of the old key and taken up the new one
  // (the reader list may show the new set a moment before that refresh runs).
  auto settled = [&] {
    const std::vector<LogEntry> log = WindowLog(window);
    return demo.IsPluggedIn() && ReaderRows(window) == expected && window.HasDevice() &&
           window.DeviceName() == L"VORTAN HID DEVICE U2F 1" && !window.IsBusy() && !log.empty() &&
           log.back().text == QStringLiteral("Connect successful.\n");
  };
  ASSERT_TRUE(QTest::qWaitFor(settled, 5000));
  EXPECT_FALSE(DeviceIsOpen(window));
  EXPECT_EQ(demo.Key().PresentInterfaces(), 0x30);
  auto* preset = window.FindControlAs<QAbstractButton>(QStringLiteral("otp_u2f_select"));
  EXPECT_TRUE(preset->isChecked());

  QStringList texts;
  for (const LogEntry& entry : WindowLog(window)) texts << entry.text;
  ASSERT_GE(texts.size(), 6) << texts.join(QStringLiteral("|")).toStdString();
  EXPECT_EQ(texts.mid(0, 4), (QStringList{"80 E1 FF 00 01 30\n", "Apply otp and u2f device successful.\n\n",
                                          "Mode switch finish please pull out plug card again.\n", "<< 90 00\n"}));
  EXPECT_TRUE(texts.contains(QStringLiteral("Disconnect successful.\n")));  // the old key let go
  EXPECT_EQ(texts.back(), QStringLiteral("Connect successful.\n"));         // the new set taken up
}

}  // namespace
