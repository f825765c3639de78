// The reader panel through the real smart-card service: the virtual key served to pcscd's vpcd
// reader is listed, connected to at start, and a reset reaches it as a power cycle. Real windows
// on Qt's offscreen platform; built apart from the other integration tests because it needs Qt.
#include <QAbstractButton>
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/MainWnd.h"
#include "app/setup/InitDemoToCardUI.h"
#include "device/PcscInterface.h"
#include "keysim/VirtualKey.h"
#include "tests/integration/PcscdHarness.h"
#include "tests/support/FaultInjectingCard.h"
#include "tests/support/VirtualOnlyBackends.h"
#include "ui/SkinFiles.h"

namespace tokvane::integration {
namespace {

// True when `events` hold a power-down followed by a power-up, or a reset.
bool HoldsPowerCycle(const std::vector<std::string>& events) {
  const auto off = std::find(events.begin(), events.end(), "off");
  if (off != events.end() && std::find(off, events.end(), "on") != events.end()) return true;
  return std::find(events.begin(), events.end(), "reset") != events.end();
}

class ReaderPanelThroughPcscd : public PcscdTest {
 protected:
  void TearDown() override {
    window.reset();
    served.reset();
  }
  std::unique_ptr<ServedCard> served;
  std::unique_ptr<CMainWnd> window;
};

TEST_F(ReaderPanelThroughPcscd, ListsConnectsAndResetsTheKeyInTheVpcdReader) {
  auto key = std::make_shared<VirtualKey>();
  auto recorder = std::make_shared<FaultInjectingCard>(key);  // records the power events vpcd passes on
  served = std::make_unique<ServedCard>(recorder);
  ASSERT_TRUE(served->Insert()) << "pcscd did not show the served key";

  QTemporaryDir configDir;
  ASSERT_TRUE(configDir.isValid());
  // Only the vpcd readers and no HID interface are in the window's reach: a key plugged into the
  // machine stays out of the test.
  window = std::make_unique<CMainWnd>(VirtualOnlySystemBackends());
  window->SetVidPidConfigFiles({});
  {
    guitest::BoxAnswerer answerer;  // the missing configuration's warning
    ASSERT_TRUE(window->Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690));
  }
  window->show();
  guitest::Settle(*window);

  EXPECT_TRUE(guitest::ReaderRows(*window).contains(QString::fromLatin1(kVpcdReader)));
  ASSERT_TRUE(window->HasDevice());
  EXPECT_EQ(window->DeviceName(), L"Virtual PCD 00 00");
  EXPECT_FALSE(window->IsHidDevice());
  const auto connected = guitest::WindowLog(*window);
  ASSERT_FALSE(connected.empty());
  EXPECT_EQ(connected.back().text, QStringLiteral("Connect successful.\n"));

  // An action selects the applet on an open connection; the reset then starts the card afresh.
  ASSERT_TRUE(guitest::OpenAndSelectOath(*window));
  ASSERT_TRUE(key->IsOathSelected());
  const std::size_t eventsBefore = recorder->PowerEvents().size();
  guitest::ClearWindowLog(*window);

  guitest::ClickAndSettle(*window, window->FindControlAs<QAbstractButton>(QStringLiteral("Card_Reset")));

  guitest::ExpectLog(*window, {{"Reset successful.\n", QColor(Qt::black)}});
  const std::vector<std::string> events = recorder->PowerEvents();
  const std::vector<std::string> sinceReset(events.begin() + static_cast<std::ptrdiff_t>(eventsBefore), events.end());
  EXPECT_TRUE(HoldsPowerCycle(sinceReset)) << "events since the reset: " << sinceReset.size();
  EXPECT_FALSE(key->IsOathSelected());
  EXPECT_TRUE(guitest::DeviceIsOpen(*window));
}

}  // namespace
}  // namespace tokvane::integration

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  skin::SetSkinDirectoryOverride(QStringLiteral(TOKVANE_SKIN_SOURCE_DIR));
  ::testing::InitGoogleTest(&argc, argv);
  // GoogleTest owns and deletes the environment.
  ::testing::AddGlobalTestEnvironment(new tokvane::integration::PcscdEnvironment);
  return RUN_ALL_TESTS();
}
