// The panels under faults: a message box left open while the key is pulled out and plugged in
// again several times, and hostile answers (length fields past their data, 61 xx chains that
// never end or pass 65,535 bytes) reaching the credentials panel. Each ends with the program
// responsive, a log line that says what happened, the panels in a state that matches the key,
// and the key's credentials intact.
#include <QAbstractButton>
#include <QLabel>
#include <QListWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "app/DemoMode.h"
#include "app/DeviceChangeMonitor.h"
#include "oath/OathCommands.h"
#include "tests/support/FaultInjectingCard.h"
#include "tests/support/TestKeys.h"

using namespace guitest;
using namespace readertest;

namespace {

using Bytes = std::vector<std::uint8_t>;

using test_keys::KeyWithTwoCredentials;
using test_keys::NamesOf;

// A device change as the monitors deliver it; the refresh it starts is left to the caller.
void SendDeviceChange(CMainWnd& window) {
  DeviceChangeEvent change;
  QCoreApplication::sendEvent(&window, &change);
}

// Every red entry after the first `from` entries, joined.
QString RedTextSince(const CMainWnd& window, std::size_t from = 0) {
  const auto entries = WindowLog(window);
  QString text;
  for (std::size_t i = from; i < entries.size(); ++i) {
    if (entries[i].color == kLogRed) text += entries[i].text;
  }
  return text;
}

// ---- a box left open while the key comes and goes ----

TEST(FaultPanels, ABoxLeftOpenWhileTheKeyIsPulledOutAndPluggedInAgainSeveralTimes) {
  DemoMode demo;
  const auto before = demo.Key().Credentials();
  CMainWnd window(demo.Backends());
  window.SetVidPidConfigFiles({});
  demo.SetDeviceChangeListener([&window] { QCoreApplication::postEvent(&window, new DeviceChangeEvent()); });
  ASSERT_TRUE(ShowMainWindow(window));
  ASSERT_TRUE(window.HasDevice()) << "the demo key is connected at start";

  int cycles = 0;
  int refreshes = 0;
  QObject::connect(&window, &CMainWnd::readerListRefreshed, [&refreshes] { ++refreshes; });
  const std::shared_ptr<KeyConnection> asked = window.Connection();
  BoxAnswerer answerer(BoxAnswer::Confirm, &window);
  answerer.SetWhileOpen([&](CMsgWnd&) {
    if (cycles != 0) return;  // only the first box; later ones are answered at once
    for (cycles = 1; cycles <= 3; ++cycles) {
      demo.Unplug();
      SendDeviceChange(window);
      SettleBehindBox(window);
      demo.PlugIn();
      SendDeviceChange(window);
      SettleBehindBox(window);
    }
    // Every change was handled while the question was open: the key it was asked for is gone.
    EXPECT_TRUE(asked->IsReleased());
    EXPECT_GE(refreshes, 6);
  });
  auto* reset = window.FindControlAs<QAbstractButton>(QStringLiteral("reset_names"));
  ClickAndSettle(window, reset);  // asks first; the key comes and goes while the question is open
  ASSERT_EQ(answerer.Shown().size(), 1u);
  EXPECT_EQ(cycles, 4);

  // The reset was meant for a key that went away: nothing was wiped, and the log says so last.
  EXPECT_EQ(NamesOf(demo.Key().Credentials()), NamesOf(before));
  const auto log = WindowLog(window);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().text, QStringLiteral("Please connect device.\n"));
  EXPECT_EQ(log.back().color, kLogRed);

  // The panels show the key as it is now: connected, and the list works.
  ASSERT_TRUE(window.HasDevice());
  EXPECT_NE(window.Connection(), asked);
  auto* connect = window.FindControlAs<QAbstractButton>(QStringLiteral("Card_Connect"));
  auto* disconnect = window.FindControlAs<QAbstractButton>(QStringLiteral("Card_Disconnect"));
  ASSERT_NE(connect, nullptr);
  ASSERT_NE(disconnect, nullptr);
  EXPECT_FALSE(connect->isEnabled());
  EXPECT_TRUE(disconnect->isEnabled());
  auto* label = window.FindControlAs<QLabel>(QStringLiteral("inserted_info"));
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), QStringLiteral("VORTAN HID DEVICE U2F 1 is inserted"));
  ClickAndSettle(window, window.FindControlAs<QAbstractButton>(QStringLiteral("list_names")));
  auto* rows = window.FindControlAs<QListWidget>(QStringLiteral("listview"));
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(rows->count(), static_cast<int>(before.size()));
  demo.SetDeviceChangeListener(nullptr);
}

// ---- the key pulled out in the middle of an action, or a HID key that stops answering ----

// The key with two credentials behind a card that can fault, plugged in with `interfaces`; every
// box is confirmed.
class FaultOnKey : public ReaderPanelWindow {
 protected:
  void StartWithTwoCredentials(std::uint8_t interfaces) {
    key = KeyWithTwoCredentials();
    before = key->Credentials();
    faulty = std::make_shared<FaultInjectingCard>(key);
    card = faulty;
    PlugKey(interfaces);
    Start();
    ASSERT_TRUE(window->HasDevice()) << "the key is connected at start";
  }
  int CredentialRows() { return ControlAs<QListWidget>("listview")->count(); }

  BoxAnswerer answerer{BoxAnswer::Confirm};
  std::vector<VirtualCredentialState> before;
  std::shared_ptr<FaultInjectingCard> faulty;
};

// How the key is lost: pulled out while it works on the list command (its answer never arrives),
// or, on a HID key still plugged in, an interface that stops answering.
struct LostCase {
  const char* name;
  std::uint8_t interfaces;
  VirtualHidFault fault;  // None: pulled out
};

class FaultLostKey : public FaultOnKey, public ::testing::WithParamInterface<LostCase> {};

TEST_P(FaultLostKey, TheActionEndsInBoundedTimeAndTheKeyListsWhatItHeldOnceItIsBack) {
  const LostCase& c = GetParam();
  const bool pulled = c.fault == VirtualHidFault::None;
  StartWithTwoCredentials(c.interfaces);
  if (pulled) {
    faulty->Arm(FaultInjectingCard::OnInstruction(oath::kInsList), [this] { UnplugKey(); }, true);
  } else {
    hid->SetFault(hidKey, c.fault);
  }
  const auto start = std::chrono::steady_clock::now();
  ControlAs<QAbstractButton>("list_names")->click();
  Settle(*window, 60000);
  // Each exchange gives up after its own limit; a click holds a few of them.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(pulled ? 15 : 40));
  EXPECT_EQ(CredentialRows(), 0);
  EXPECT_FALSE(RedTextSince(*window).trimmed().isEmpty()) << "the failure is logged in red";
  if (pulled) {
    EXPECT_TRUE(faulty->Fired());
    // The device change that follows releases the key; back again, it is connected by itself.
    Refresh();
    EXPECT_FALSE(window->HasDevice());
    EXPECT_TRUE(Enabled("Card_Connect"));
    EXPECT_EQ(ControlAs<QLabel>("inserted_info")->text(), QStringLiteral("No device inserted."));
    PlugKey(c.interfaces);
    Refresh();
    EXPECT_TRUE(ControlAs<QLabel>("inserted_info")->text().endsWith(QStringLiteral(" is inserted")));
  } else {
    EXPECT_TRUE(window->HasDevice()) << "a key still plugged in stays selected";
    hid->SetFault(hidKey, VirtualHidFault::None);
  }
  ASSERT_TRUE(window->HasDevice());
  Click("list_names");
  EXPECT_EQ(CredentialRows(), 2);
  EXPECT_EQ(NamesOf(key->Credentials()), NamesOf(before));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, FaultLostKey,
    ::testing::Values(LostCase{"PcscPulled", kVirtualCcidInterface, VirtualHidFault::None},
                      LostCase{"U2fPulled", kVirtualU2fInterface, VirtualHidFault::None},
                      LostCase{"KbPulled", kVirtualOtpInterface, VirtualHidFault::None},
                      LostCase{"U2fSilent", kVirtualU2fInterface, VirtualHidFault::NeverAnswers},
                      LostCase{"U2fZeroLengthForever", kVirtualU2fInterface, VirtualHidFault::ZeroLengthForever},
                      LostCase{"KbSilent", kVirtualOtpInterface, VirtualHidFault::NeverAnswers},
                      LostCase{"KbZeroLengthForever", kVirtualOtpInterface, VirtualHidFault::ZeroLengthForever}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- hostile answers ----

class FaultHostileAnswers : public ReaderPanelWindow {
 protected:
  enum class Mode { Friendly, ListAnswer, EndlessEmptyChain, ChainPastTheLimit };

  void SetUp() override {
    ReaderPanelWindow::SetUp();
    key = KeyWithTwoCredentials(/*useT0=*/true);  // 61 xx chains are T=0's
    // The key, except that the list command (and the 61 xx chain after it) is answered the mode's way.
    card = std::make_shared<ScriptedAnswers>(key, [this](const Bytes& command) -> std::optional<Bytes> {
      std::lock_guard lock(mutex_);
      const std::uint8_t ins = command.size() >= 2 ? command[1] : 0;
      const bool chained = mode_ == Mode::EndlessEmptyChain || mode_ == Mode::ChainPastTheLimit;
      if (ins == oath::kInsList && mode_ == Mode::ListAnswer) return listAnswer_;
      inChain_ = chained && (ins == oath::kInsList || (ins == 0xC0 && inChain_));
      if (!inChain_) return std::nullopt;
      Bytes answer(mode_ == Mode::ChainPastTheLimit && ins == 0xC0 ? 256 : 0, 0x5A);
      answer.push_back(0x61);
      answer.push_back(0x00);
      return answer;
    });
    PlugKey(kVirtualCcidInterface);
    Start();
  }

  void Set(Mode mode, Bytes listAnswer = {}) {
    std::lock_guard lock(mutex_);
    mode_ = mode;
    listAnswer_ = std::move(listAnswer);
  }

  int ListedRows() {
    BoxAnswerer answerer(BoxAnswer::Confirm);
    Click("list_names");
    return ControlAs<QListWidget>("listview")->count();
  }

  std::mutex mutex_;
  Mode mode_ = Mode::Friendly;
  Bytes listAnswer_;
  bool inChain_ = false;
};

TEST_F(FaultHostileAnswers, TheCredentialsPanelSurvivesEveryHostileListAnswer) {
  ASSERT_TRUE(window->HasDevice()) << "the key's reader is connected at start";
  ASSERT_EQ(ListedRows(), 2);
  const auto before = key->Credentials();

  // An entry is a tag, a length, a kind byte and the name: "alpha" as a well-formed first entry.
  const Bytes good{0x71, 0x06, 0x21, 'a', 'l', 'p', 'h', 'a'};
  auto withTail = [&](Bytes tail) {
    Bytes answer = good;
    answer.insert(answer.end(), tail.begin(), tail.end());
    answer.push_back(0x90);
    answer.push_back(0x00);
    return answer;
  };
  struct Case {
    const char* what;
    Mode mode;
    Bytes listAnswer;
    const char* failureText;  // a red log entry must contain it (nullptr: any or none)
  } cases[] = {
      {"an entry whose length runs past the data", Mode::ListAnswer, withTail({0x71, 0xFF, 0x21, 'b'}),
       nullptr},
      {"an entry of length 0", Mode::ListAnswer, withTail({0x71, 0x00}), nullptr},
      {"a lone tag byte at the end", Mode::ListAnswer, withTail({0x71}), nullptr},
      {"no status word at all", Mode::ListAnswer, Bytes{0x71}, nullptr},
      {"a 61 xx chain that never ends", Mode::EndlessEmptyChain, {},
       "The card's response chain did not end."},
      {"a 61 xx chain past 65,535 bytes", Mode::ChainPastTheLimit, {},
       "The card's response is longer than 65535 bytes."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Set(c.mode, c.listAnswer);
    const std::size_t entriesBefore = Log().size();
    const auto start = std::chrono::steady_clock::now();
    // Known records stay, and nothing malformed becomes a row.
    EXPECT_EQ(ListedRows(), 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    if (c.failureText != nullptr) {
      const QString red = RedTextSince(*window, entriesBefore);
      EXPECT_TRUE(red.contains(QString::fromLatin1(c.failureText))) << red.toStdString();
    }
    // Still connected, and the key keeps what it holds.
    EXPECT_TRUE(window->HasDevice());
    EXPECT_EQ(NamesOf(key->Credentials()), NamesOf(before));
    Set(Mode::Friendly);
    EXPECT_EQ(ListedRows(), 2) << "a friendly answer lists both again";
  }
}

}  // namespace
