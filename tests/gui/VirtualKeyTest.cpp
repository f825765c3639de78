// The main window over the in-process reader (the real PC/SC transport on top): a card pulled out
// after opening, pcscd-style reader-change notifications, and the demo mode's seams.
#include <QSignalSpy>
#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "GuiTestSupport.h"
#include "app/DemoMode.h"
#include "app/MainWnd.h"
#include "device/HidDiscovery.h"
#include "device/PcscInterface.h"
#include "device/PcscReaderList.h"
#include "keysim/VirtualHidApi.h"
#include "keysim/VirtualKey.h"
#include "keysim/VirtualPcscApi.h"
#include "oath/OathCommands.h"

using namespace guitest;

namespace {

constexpr const char* kReader = "Virtual PCD 00 00";

// The virtual reader, counting the reader watcher's waits for a change: once one has begun, the
// watcher has taken its first look, and a change made then is one it sees.
class WatchedPcscApi final : public VirtualPcscApi {
 public:
  LONG GetStatusChange(SCARDCONTEXT context, DWORD timeoutMs, SCARD_READERSTATE* states, DWORD count) override {
    if (timeoutMs > 0 && count == 1 && states[0].szReader != nullptr &&
        std::strcmp(states[0].szReader, kPnpNotification) == 0) {
      ++waits_;
    }
    return VirtualPcscApi::GetStatusChange(context, timeoutMs, states, count);
  }
  int Waits() const { return waits_; }

 private:
  std::atomic<int> waits_{0};
};

// Generous: only a broken watcher takes this long.
constexpr int kWatcherLimitMs = 10'000;

class VirtualReaderWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    pcsc = std::make_shared<WatchedPcscApi>();
    ASSERT_TRUE(pcsc->AddReader(kReader));
  }
  void TearDown() override { window.reset(); }

  void StartWith(std::shared_ptr<VirtualCard> card) {
    if (card != nullptr) {
      ASSERT_TRUE(pcsc->InsertCard(kReader, std::move(card)));
    }
    window = std::make_unique<CMainWnd>(MakeDeviceBackends(pcsc, std::make_shared<VirtualHidApi>()),
                                        std::make_unique<CPcscInterface>(kReader, pcsc));
    window->SetVidPidConfigFiles({});
    ASSERT_TRUE(ShowMainWindow(*window));
    ClearWindowLog(*window);
  }

  std::vector<LogEntry> Log() { return WindowLog(*window); }

  // Waits until the watcher has begun its next wait after `waitsBefore`, then handles what it posted.
  bool WatcherWaitsAgain(int waitsBefore) {
    const bool waiting = QTest::qWaitFor([&] { return pcsc->Waits() > waitsBefore; }, kWatcherLimitMs);
    QCoreApplication::processEvents();
    return waiting;
  }

  std::shared_ptr<WatchedPcscApi> pcsc;
  std::unique_ptr<CMainWnd> window;
};

TEST_F(VirtualReaderWindow, CardPulledOutAfterOpeningAsksToConnectAndSendsNothing) {
  auto key = std::make_shared<VirtualKey>();
  StartWith(key);
  RunTask(*window, [](KeyTaskHost& host) { ASSERT_TRUE(host.Device().Open()); });
  ASSERT_TRUE(pcsc->RemoveCard(kReader));
  BoxAnswerer answerer;
  bool selected = true;
  RunTask(*window, [&selected](KeyTaskHost& host) { selected = host.SelectOathApplet(); });
  EXPECT_FALSE(selected);
  EXPECT_EQ(answerer.Shown(), (std::vector<ShownBox>{{"Error", "Please connect device first"}}));
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(key->ReceivedApdus().empty());
}

TEST_F(VirtualReaderWindow, AReaderAppearingOrVanishingRefreshesTheListOnce) {
  StartWith(nullptr);
  QSignalSpy refreshes(window.get(), &CMainWnd::readerListRefreshed);
  ASSERT_TRUE(WatcherWaitsAgain(0)) << "the watcher never took its first look";
  int waits = pcsc->Waits();
  ASSERT_TRUE(pcsc->AddReader("Second Reader 00 00"));
  EXPECT_TRUE(refreshes.wait(kWatcherLimitMs));
  // Back to waiting, the watcher has posted all it will for the change.
  ASSERT_TRUE(WatcherWaitsAgain(waits));
  EXPECT_EQ(refreshes.count(), 1);
  waits = pcsc->Waits();
  ASSERT_TRUE(pcsc->RemoveReader("Second Reader 00 00"));
  EXPECT_TRUE(refreshes.wait(kWatcherLimitMs));
  ASSERT_TRUE(WatcherWaitsAgain(waits));
  EXPECT_EQ(refreshes.count(), 2);
}

TEST_F(VirtualReaderWindow, ClosingTheWindowStopsTheReaderWatcherPromptly) {
  StartWith(nullptr);
  ASSERT_TRUE(WatcherWaitsAgain(0)) << "the watcher never began to wait";
  QElapsedTimer timer;
  timer.start();
  window.reset();
  EXPECT_LT(timer.elapsed(), 3000);
}

// ---- demo mode ----

std::vector<std::wstring> HidNames(const DeviceBackends& backends) {
  std::vector<std::wstring> names;
  EnumerateHidDevices(*backends.hid, *backends.models, names);
  return names;
}

std::vector<std::string> PcscNames(const DeviceBackends& backends) {
  std::vector<std::string> names;
  ListPcscReaderNamesNarrow(names, backends.pcsc);
  return names;
}

TEST(Demo, PresentsTheVirtualKeyThroughItsOwnSeamsOnly) {
  auto demo = std::make_unique<DemoMode>();
  EXPECT_EQ(PcscNames(demo->Backends()), std::vector<std::string>{DemoMode::kReaderName});
  const auto hid = HidNames(demo->Backends());
  ASSERT_EQ(hid.size(), 2u);
  EXPECT_NE(hid[0].find(L"KB"), std::wstring::npos);
  EXPECT_NE(hid[1].find(L"U2F"), std::wstring::npos);

  CPcscInterface reader(DemoMode::kReaderName, demo->Backends().pcsc);
  ASSERT_TRUE(reader.Open());
  const OathBytes select = BuildSelectOath();
  CApduCommand command;
  command.Parse(select.data(), select.size());
  CApduResponse answer;
  ASSERT_TRUE(reader.Exchange(command, answer));
  EXPECT_TRUE(answer.IsSuccess());
  reader.Close();
  EXPECT_EQ(demo->Key().Credentials().size(), 2u);  // the sample credentials

  // The system's seams do not reach the demo key.
  const DeviceBackends system = SystemDeviceBackends();
  const std::vector<std::string> systemReaders = PcscNames(system);
  EXPECT_EQ(std::find(systemReaders.begin(), systemReaders.end(), DemoMode::kReaderName), systemReaders.end());
  EXPECT_FALSE(CPcscInterface(DemoMode::kReaderName, system.pcsc).Open());
}

}  // namespace
