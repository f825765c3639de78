// The reader panel's refresh on the real window: start-up with a key, device changes that change
// nothing, readers without cards, a new interface next to a listed one, and a key pulled out.
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "app/setup/InitDemoToCardUI.h"

using namespace guitest;
using namespace readertest;

namespace {

const QString kConnected = QStringLiteral("Connect successful.\n");

TEST_F(ReaderPanelWindow, FirstRefreshWithAllThreeInterfacesConnectsTheU2fInterface) {
  PlugKey(kAllInterfaces);
  Start(/*keepLog=*/true);

  EXPECT_EQ(Rows(), (QStringList{kKeyReader, kKbName, kU2fName}));
  EXPECT_EQ(SelectedOptions(), QStringList{QStringLiteral("u2f_ccid_otp_select")});
  EXPECT_EQ(DeviceName(), kU2fName);
  EXPECT_TRUE(window->IsHidDevice());
  EXPECT_FALSE(DeviceIsOpen(*window));  // connected, then closed until the next action
  EXPECT_EQ(SelectedRows(), std::vector<int>{2});

  ExpectLog(*window, {{kConnected, kLogBlue}});

  EXPECT_EQ(ControlAs<QLabel>("inserted_info")->text(), QStringLiteral("VORTAN HID DEVICE U2F 1 is inserted"));
  EXPECT_EQ(ControlAs<QLabel>("device_img")->property("bkimage").toString(), QStringLiteral("R5.png"));
  EXPECT_FALSE(ControlAs<QLabel>("device_img")->pixmap().isNull());
  EXPECT_FALSE(Enabled("Card_Connect"));
  EXPECT_TRUE(Enabled("Card_Disconnect"));
  EXPECT_TRUE(Enabled("Card_Reset"));
  // No probe or connect sent the key a command.
  EXPECT_TRUE(key->ReceivedApdus().empty());
}

TEST_F(ReaderPanelWindow, AChangeThatChangesNothingRebuildsTheListAndDoesNothingElse) {
  PlugKey(kAllInterfaces);
  Start();
  SelectOption("ccid_select");  // the operator's own choice survives
  const std::shared_ptr<KeyConnection> connection = window->Connection();

  Refresh();

  EXPECT_EQ(Rows(), (QStringList{kKeyReader, kKbName, kU2fName}));
  EXPECT_TRUE(SelectedRows().empty());
  EXPECT_EQ(SelectedOptions(), QStringList{QStringLiteral("ccid_select")});
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(window->Connection(), connection);
  EXPECT_EQ(DeviceName(), kU2fName);
}

TEST_F(ReaderPanelWindow, OnlyReadersWithoutCardsPresetNoneAndConnectNothing) {
  AddEmptyReader("Virtual PCD 00 00");
  AddEmptyReader("Virtual PCD 00 01");
  Start(/*keepLog=*/true);

  EXPECT_EQ(Rows(), (QStringList{"Virtual PCD 00 00", "Virtual PCD 00 01"}));
  EXPECT_EQ(SelectedOptions(), QStringList{QStringLiteral("none_select")});
  EXPECT_EQ(DeviceName(), "");  // still the unnamed start transport
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(Enabled("Card_Connect"));
  EXPECT_FALSE(Enabled("Card_Disconnect"));
  EXPECT_FALSE(Enabled("Card_Reset"));
}

TEST_F(ReaderPanelWindow, CcidAddedNextToAListedU2fPresetsBothButConnectsNothingNew) {
  PlugKey(kVirtualU2fInterface);
  Start();
  ASSERT_EQ(DeviceName(), "VORTAN HID DEVICE U2F 0");

  // A second key, smart-card only, in a reader of its own.
  auto second = std::make_shared<VirtualKey>();
  ASSERT_TRUE(pcsc->AddReader("Second Key CCID 00 00"));
  ASSERT_TRUE(pcsc->InsertCard("Second Key CCID 00 00", second));
  EXPECT_EQ(Rows(), QStringList{"VORTAN HID DEVICE U2F 0"});
  // F5 lists the readers again as a device change would.
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  QTest::keyClick(window.get(), Qt::Key_F5);
  Settle(*window);

  EXPECT_EQ(Rows(), (QStringList{"Second Key CCID 00 00", "VORTAN HID DEVICE U2F 0"}));
  EXPECT_EQ(SelectedOptions(), QStringList{QStringLiteral("u2f_ccid_select")});
  EXPECT_EQ(DeviceName(), "VORTAN HID DEVICE U2F 0");
  EXPECT_TRUE(Log().empty());
}

TEST_F(ReaderPanelWindow, ANewKeyDoesNotDisplaceOneAnActionLeftOpen) {
  PlugKey(kVirtualU2fInterface);
  Start();
  RunTask(*window, [](KeyTaskHost& host) { ASSERT_TRUE(host.Device().Open()); });
  auto second = std::make_shared<VirtualKey>();
  ASSERT_TRUE(pcsc->AddReader("Second Key CCID 00 00"));
  ASSERT_TRUE(pcsc->InsertCard("Second Key CCID 00 00", second));
  const std::shared_ptr<KeyConnection> connection = window->Connection();
  Refresh();
  EXPECT_EQ(window->Connection(), connection);
  EXPECT_TRUE(DeviceIsOpen(*window));
  EXPECT_TRUE(Log().empty());
}

// Pulling out the selected key, by the kind of reader it was connected through.
struct PullOutCase {
  const char* what;
  std::uint8_t interfaces;
  const char* logged;
  bool red;
};

class PullingOutTheSelectedKey : public ReaderPanelWindow, public ::testing::WithParamInterface<PullOutCase> {};

TEST_P(PullingOutTheSelectedKey, DisconnectsItAndShowsNoDevice) {
  const PullOutCase& c = GetParam();
  PlugKey(c.interfaces);
  Start();
  ASSERT_TRUE(window->HasDevice());
  ASSERT_NE(DeviceName(), "");

  UnplugKey();
  Refresh();

  EXPECT_TRUE(Rows().isEmpty());
  EXPECT_FALSE(window->HasDevice());
  EXPECT_FALSE(window->IsHidDevice());
  ExpectLog(*window, {{c.logged, c.red ? kLogRed : kLogBlue}});
  EXPECT_EQ(ControlAs<QLabel>("inserted_info")->text(), QStringLiteral("No device inserted."));
  EXPECT_TRUE(ControlAs<QLabel>("device_img")->pixmap().isNull());
  EXPECT_TRUE(Enabled("Card_Connect"));
  EXPECT_FALSE(Enabled("Card_Disconnect"));
  EXPECT_FALSE(Enabled("Card_Reset"));
  // Nothing of a key is left anywhere: no mode is offered.
  EXPECT_EQ(SelectedOptions(), QStringList{QStringLiteral("none_select")});
}

INSTANTIATE_TEST_SUITE_P(
    ByReaderKind, PullingOutTheSelectedKey,
    ::testing::Values(PullOutCase{"HID", kVirtualOtpInterface | kVirtualU2fInterface, "Disconnect successful.\n", false},
                      // The connection was closed after the connect, so the release finds nothing to end.
                      PullOutCase{"PC/SC", kVirtualCcidInterface, "Interface already disconnected.\n", true}),
    [](const ::testing::TestParamInfo<PullOutCase>& info) { return info.param.what == std::string("HID") ? "Hid" : "Pcsc"; });

TEST_F(ReaderPanelWindow, AKeySwappedInOneChangeIsReleasedAndTheNewOneConnected) {
  PlugKey(kVirtualCcidInterface);
  Start();
  UnplugKey();
  PlugKey(kVirtualOtpInterface);
  Refresh();
  ExpectLog(*window, {{"Interface already disconnected.\n", kLogRed}, {kConnected, kLogBlue}});
  EXPECT_EQ(DeviceName(), kKbName);
  EXPECT_EQ(SelectedOptions(), QStringList{QStringLiteral("otp_select")});
}

}  // namespace
