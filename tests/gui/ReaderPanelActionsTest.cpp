// The reader panel's buttons and its quiet side: connect with and without a selection, the "not
// found" box, resets, the wake-up exchange, and the fix-it hint.
#include <PCSC/pcsclite.h>

#include <QLabel>
#include <QListWidget>
#include <gtest/gtest.h>

#include "BuildConfig.h"
#include "GuiTestSupport.h"
#include "app/setup/InitDemoToCardUI.h"
#include "oath/OathCommands.h"
#include "tests/support/ScriptedPcscApi.h"

using namespace guitest;
using namespace readertest;

namespace {

using Apdus = std::vector<std::vector<std::uint8_t>>;

TEST_F(ReaderPanelWindow, ConnectTakesTheSelectedRowOrElseTheFirst) {
  PlugKey(kVirtualCcidInterface);
  AddEmptyReader("Empty Reader 00 00");
  Start();
  ASSERT_EQ(Rows(), (QStringList{kKeyReader, "Empty Reader 00 00"}));
  Click("Card_Disconnect");
  ClearWindowLog(*window);

  ControlAs<QListWidget>("list_for_reader")->item(1)->setSelected(true);
  Click("Card_Connect");
  EXPECT_EQ(DeviceName(), "Empty Reader 00 00");
  ExpectLog(*window, {{"Connect fail.\n", kLogRed}});
  // A failed connect changes neither the buttons nor the label.
  EXPECT_TRUE(Enabled("Card_Connect"));
  EXPECT_EQ(ControlAs<QLabel>("inserted_info")->text(), QStringLiteral("No device inserted."));

  ControlAs<QListWidget>("list_for_reader")->clearSelection();
  Click("Card_Connect");
  EXPECT_EQ(DeviceName(), kKeyReader);
  ExpectLog(*window, {{"Connect fail.\n", kLogRed}, {"Connect successful.\n", kLogBlue}});
  EXPECT_EQ(SelectedRows(), std::vector<int>{0});
  EXPECT_FALSE(window->IsHidDevice());
}

TEST_F(ReaderPanelWindow, ConnectWithoutReadersSaysTheDeviceIsNotFound) {
  Start();
  const std::shared_ptr<KeyConnection> connection = window->Connection();
  InformationBoxAnswerer answerer;
  Click("Card_Connect");
  EXPECT_EQ(answerer.Shown(), (std::vector<ShownBox>{{"Information", "The device not found."}}));
  EXPECT_TRUE(Log().empty());
  EXPECT_EQ(window->Connection(), connection);
}

TEST_F(ReaderPanelWindow, AReaderNameTheLocaleCannotDecodeIsShownWithAMarkAndConnects) {
  // The service's own bytes, one of which no encoding of the locale reads.
  const std::string rawName = "Key \xFF Reader";
  ASSERT_TRUE(pcsc->AddReader(rawName));
  ASSERT_TRUE(pcsc->InsertCard(rawName, card));
  Start();
  ASSERT_EQ(Rows(), (QStringList{QStringLiteral("Key \uFFFD Reader")}));
  Click("Card_Disconnect");
  ClearWindowLog(*window);

  ControlAs<QListWidget>("list_for_reader")->item(0)->setSelected(true);
  Click("Card_Connect");
  ExpectLog(*window, {{"Connect successful.\n", kLogBlue}});
  EXPECT_EQ(ControlAs<QLabel>("inserted_info")->text(), QStringLiteral("Key \uFFFD Reader is inserted"));
  EXPECT_TRUE(OpenAndSelectOath(*window));
  EXPECT_TRUE(key->IsOathSelected());
}

TEST_F(ReaderPanelWindow, TwoResetsOnAHidKeyOpenItThenFailWithTheReason) {
  PlugKey(kVirtualOtpInterface);
  Start();
  ASSERT_EQ(DeviceName(), kKbName);

  Click("Card_Reset");
  EXPECT_TRUE(DeviceIsOpen(*window));
  Click("Card_Reset");

  // The key is still open from the first reset: the HID transport says so.
  ExpectLog(*window, {{"Reset successful.\n", QColor(Qt::black)}, {"The HID interface is already open.\n", kLogRed}});
  EXPECT_TRUE(Enabled("Card_Connect"));
  EXPECT_FALSE(Enabled("Card_Disconnect"));
  EXPECT_FALSE(Enabled("Card_Reset"));
  EXPECT_EQ(DeviceName(), kKbName);  // the key stays selected
}

TEST_F(ReaderPanelWindow, ResetOnASmartCardPowersItAgainAndLeavesItOpen) {
  PlugKey(kVirtualCcidInterface);
  Start();
  ASSERT_TRUE(OpenAndSelectOath(*window));
  ASSERT_TRUE(key->IsOathSelected());
  ClearWindowLog(*window);

  Click("Card_Reset");
  EXPECT_FALSE(key->IsOathSelected());  // the card was powered down and up again
  EXPECT_TRUE(DeviceIsOpen(*window));
  ExpectLog(*window, {{"Reset successful.\n", QColor(Qt::black)}});
}

TEST_F(ReaderPanelWindow, DisconnectOfAClosedSmartCardSaysSoAndReleasesIt) {
  PlugKey(kVirtualCcidInterface);
  Start();
  Click("Card_Disconnect");
  ExpectLog(*window, {{"Interface already disconnected.\n", kLogRed}});
  EXPECT_FALSE(window->HasDevice());
  EXPECT_EQ(ControlAs<QLabel>("inserted_info")->text(), QStringLiteral("No device inserted."));
  // The key's reader is a CCID one: the mode options stay as they were.
  EXPECT_EQ(SelectedOptions(), QStringList{QStringLiteral("ccid_select")});
  // Reset without a device does nothing at all.
  Click("Card_Reset");
  EXPECT_EQ(Log().size(), 1u);
}

// The wake-up exchange after plug-in: only with the flag set, and only to a smart-card target.
struct WakeUpCase {
  const char* what;
  bool flag;
  std::uint8_t interfaces;
  bool woken;
};

class WakeUpExchange : public ReaderPanelWindow, public ::testing::WithParamInterface<WakeUpCase> {};

TEST_P(WakeUpExchange, ReachesTheKeyOnlyWhenDue) {
  const WakeUpCase& c = GetParam();
  Start();
  Panel().SetIsWindowsXp(c.flag);
  PlugKey(c.interfaces);
  Refresh();
  ASSERT_FALSE(Log().empty());  // the target was connected
  const Apdus expected = c.woken ? Apdus{BuildSelectOath(), BuildE3P1Command()} : Apdus{};
  EXPECT_EQ(key->ReceivedApdus(), expected);
}

INSTANTIATE_TEST_SUITE_P(FlagAndTarget, WakeUpExchange,
                         ::testing::Values(WakeUpCase{"FlagSmartCard", true, kVirtualCcidInterface, true},
                                           WakeUpCase{"NoFlagSmartCard", false, kVirtualCcidInterface, false},
                                           WakeUpCase{"FlagU2f", true, kAllInterfaces, false},
                                           WakeUpCase{"FlagKeyboard", true, kVirtualOtpInterface, false}),
                         [](const ::testing::TestParamInfo<WakeUpCase>& info) { return std::string(info.param.what); });

// ---- the fix-it hint ----

TEST_F(ReaderPanelWindow, HintSaysWhatToFixAndGoesAwayOnceFixed) {
  auto stopped = std::make_shared<ScriptedPcscApi>();  // a smart-card service that is not running
  stopped->establishResult = SCARD_E_NO_SERVICE;
  service->SetInner(stopped);
  VirtualHidKeyOptions denied;
  denied.vendorId = tokvane::build::kMakerVendorId;
  denied.permissionDenied = true;
  const auto deniedKey = hid->AddKey(key, denied);
  Start(/*keepLog=*/true);

  QLabel* hint = ControlAs<QLabel>("reader_hint");
  ASSERT_NE(hint, nullptr);
  EXPECT_TRUE(hint->isVisibleTo(window.get()));
  EXPECT_TRUE(hint->text().contains(QStringLiteral("pcscd")));
  EXPECT_TRUE(hint->text().contains(QStringLiteral("udev rules")));
  EXPECT_TRUE(Rows().isEmpty());
  EXPECT_TRUE(Log().empty());  // hints never go to the log
  // At the default size the hint's lines leave too little height: the panel scrolls, and every
  // control keeps its least size inside it (squeezed, the Apply button was cut off).
  QCoreApplication::processEvents();
  for (const char* name : {"mode_group", "btn_apply"}) {
    QWidget* control = Control(name);
    ASSERT_NE(control, nullptr) << name;
    EXPECT_GE(control->height(), control->minimumSizeHint().height()) << name;
  }
  EXPECT_GE(hint->height(), hint->heightForWidth(hint->width()));

  // The service starts; the key's node stays closed to us.
  service->SetInner(pcsc);
  Refresh();
  EXPECT_FALSE(hint->text().contains(QStringLiteral("pcscd")));
  EXPECT_TRUE(hint->text().contains(QStringLiteral("udev rules")));

  // The rules are installed and the key plugged in again.
  hid->Unplug(deniedKey);
  PlugKey(kVirtualU2fInterface);
  Refresh();
  EXPECT_TRUE(hint->text().isEmpty());
  EXPECT_FALSE(hint->isVisibleTo(window.get()));
  EXPECT_EQ(DeviceName(), "VORTAN HID DEVICE U2F 0");
  EXPECT_EQ(Log().size(), 1u);
}

}  // namespace
