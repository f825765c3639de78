// The interface-mode switch from the panel: the command per option, the logged outcomes, the
// answers before a connect and after a disconnect, a key pulled out while the touch prompt is
// open, and the whole switch with its re-plug in demo mode.
#include <QAbstractButton>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include "ReaderPanelTestSupport.h"
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

TEST_F(ReaderPanelWindow, EachOptionSendsItsModeRightAfterTheVersionQuery) {
  PlugKey(kVirtualCcidInterface);
  Start();
  for (const interface_mode::Option& option : interface_mode::kOptions) {
    SCOPED_TRACE(option.name);
    key->ClearReceivedApdus();
    SelectOption(option.name);
    Click("btn_apply");
    const Bytes command{0x80, 0xE1, 0xFF, 0x00, 0x01, option.modeByte};
    EXPECT_EQ(key->ReceivedApdus(), (std::vector<Bytes>{BuildGetCosVersion(), command}));
    EXPECT_EQ(key->StoredInterfaceMode(), option.modeByte);
  }
}

TEST_F(ReaderPanelWindow, NoneSelectedSendsAndLogsNothing) {
  PlugKey(kVirtualCcidInterface);
  Start();
  SelectOption("none_select");
  key->ClearReceivedApdus();
  Click("btn_apply");
  EXPECT_TRUE(key->ReceivedApdus().empty());
  EXPECT_TRUE(Log().empty());
}

TEST_F(ReaderPanelWindow, ASuccessfulSwitchLogsFourEntriesAndChangesNothingElse) {
  PlugKey(kAllInterfaces);
  Start();
  SelectOption("otp_u2f_select");
  const std::shared_ptr<KeyConnection> connection = window->Connection();
  Click("btn_apply");

  const auto log = Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].text, QStringLiteral("80 E1 FF 00 01 30\n"));
  EXPECT_EQ(log[1].text, QStringLiteral("Apply otp and u2f device successful.\n\n"));
  EXPECT_EQ(log[2].text, QStringLiteral("Mode switch finish please pull out plug card again.\n"));
  EXPECT_EQ(log[3].text, QStringLiteral("<< 90 00\n"));
  for (const LogEntry& entry : log) EXPECT_EQ(entry.color, kLogBlue) << entry.text.toStdString();

  EXPECT_EQ(key->StoredInterfaceMode(), 0x30);
  EXPECT_EQ(key->PresentInterfaces(), 0x70);  // until the key is plugged in again
  EXPECT_EQ(window->Connection(), connection);
  EXPECT_TRUE(DeviceIsOpen(*window));
  EXPECT_EQ(SelectedOptions(), QStringList{QStringLiteral("otp_u2f_select")});
  EXPECT_FALSE(Enabled("Card_Connect"));
}

TEST_F(ReaderPanelWindow, ARefusedSwitchShowsTheAnswerAndTheFailure) {
  card = std::make_shared<ScriptedAnswers>(key, [](const Bytes& command) -> std::optional<Bytes> {
    if (command.size() >= 2 && command[1] == 0xE1) return Bytes{0x6A, 0x80};
    return std::nullopt;
  });
  PlugKey(kVirtualCcidInterface);
  Start();
  Click("btn_apply");  // the preset option, "ccid_select"
  const auto log = Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].text, QStringLiteral("80 E1 FF 00 01 40\n"));
  EXPECT_EQ(log[0].color, kLogBlue);
  EXPECT_EQ(log[1].text, QStringLiteral("<< 6A 80\n"));
  EXPECT_EQ(log[1].color, kLogBlue);
  EXPECT_EQ(log[2].text, QStringLiteral("Set device fail.\n\n"));
  EXPECT_EQ(log[2].color, kLogRed);
  EXPECT_EQ(key->StoredInterfaceMode(), 0x70);
}

TEST_F(ReaderPanelWindow, AKeyLeftUntouchedTimesOut) {
  VirtualKeyConfig config;
  config.cosVersion = {0x43, 0x01, 0x00};
  config.touch = TouchMode::Never;
  config.touchWindow = std::chrono::milliseconds(50);
  key = std::make_shared<VirtualKey>(config);
  card = key;
  PlugKey(kVirtualCcidInterface);
  Start();
  BoxAnswerer answerer(BoxAnswer::Confirm);
  Click("btn_apply");
  ASSERT_EQ(answerer.Shown().size(), 1u);
  const auto log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].text, QStringLiteral("Confirm Time out.\n\n"));
  EXPECT_EQ(log[1].color, kLogRed);
  EXPECT_EQ(key->TouchRequests(), 1);
}

TEST_F(ReaderPanelWindow, AFailedExchangeLogsTheTransportsReason) {
  key->SetCosVersion({0x43, 0x01, 0x00});
  PlugKey(kVirtualCcidInterface);
  Start();
  BoxAnswerer answerer(BoxAnswer::Confirm);
  // The card leaves the reader while the prompt is open; no device change reaches the panel.
  answerer.SetWhileOpen([this](CMsgWnd&) { pcsc->RemoveCard(kKeyReader); });
  Click("btn_apply");
  const auto log = Log();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].text, QStringLiteral("80 E1 FF 00 01 40\n"));
  EXPECT_TRUE(log[1].text.endsWith(QLatin1Char('\n')));
  EXPECT_GT(log[1].text.size(), 1);
  EXPECT_EQ(log[1].color, kLogRed);
}

TEST_F(ReaderPanelWindow, AfterADisconnectAskToSelectADevice) {
  PlugKey(kVirtualCcidInterface);
  Start();
  Click("Card_Disconnect");
  ClearWindowLog(*window);
  for (const char* option : {"otp_select", "none_select"}) {
    SelectOption(option);
    Click("btn_apply");
  }
  const auto log = Log();
  ASSERT_EQ(log.size(), 2u);
  for (const LogEntry& entry : log) {
    EXPECT_EQ(entry.text, QStringLiteral("Please select device.\n"));
    EXPECT_EQ(entry.color, kLogRed);
  }
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
  const auto log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].text, QStringLiteral("Please connect device.\n"));
  EXPECT_EQ(log[0].color, kLogRed);
  EXPECT_TRUE(Control("communicate_panel_ui")->isVisibleTo(window.get()));
  EXPECT_FALSE(Control("communicate_panel_ui_hide")->isVisibleTo(window.get()));
}

// The key pulled out while the touch prompt is open, through either kind of transport: the
// device change is handled at once, and the switch sends nothing to the gone key.
struct VanishCase {
  const char* what;
  std::uint8_t interfaces;
};

class KeyVanishingDuringThePrompt : public ReaderPanelWindow, public ::testing::WithParamInterface<VanishCase> {};

TEST_P(KeyVanishingDuringThePrompt, IsLetGoOfAtOnceAndTheSwitchSendsNothing) {
  key->SetCosVersion({0x43, 0x01, 0x00});
  PlugKey(GetParam().interfaces);
  Start();
  BoxAnswerer answerer(BoxAnswer::Confirm);
  answerer.SetWhileOpen([this](CMsgWnd&) {
    UnplugKey();
    DeviceChangeEvent change;
    QCoreApplication::sendEvent(window.get(), &change);
    SettleBehindBox(*window);
    EXPECT_FALSE(window->HasDevice()) << "let go of while the prompt is still open";
  });
  Click("btn_apply");

  ASSERT_EQ(answerer.Shown().size(), 1u);
  ExpectLog(*window, {{"Disconnect successful.\n", kLogBlue}, {"Please connect device.\n", kLogRed}});
  for (const auto& command : key->ReceivedApdus()) EXPECT_NE(command[1], 0xE1);
  EXPECT_EQ(key->StoredInterfaceMode(), 0x70);
  EXPECT_EQ(ControlAs<QLabel>("inserted_info")->text(), QStringLiteral("No device inserted."));
}

INSTANTIATE_TEST_SUITE_P(ByTransport, KeyVanishingDuringThePrompt,
                         ::testing::Values(VanishCase{"SmartCard", kVirtualCcidInterface},
                                           VanishCase{"U2fHid", kVirtualU2fInterface}),
                         [](const ::testing::TestParamInfo<VanishCase>& info) { return std::string(info.param.what); });

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
  ASSERT_TRUE(window.Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690));
  window.show();
  Settle(window);
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
