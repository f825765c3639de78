// A reader-list refresh that finds nothing changed (what every unrelated device change costs)
// against the two listings it cannot do without: the PC/SC readers from pcscd and the HID
// interfaces. Both on the real services, in the same run: pcscd with the vpcd reader (started
// here when none runs) and the system's hidraw devices, with the real main window and panel.
#include <QApplication>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/MainWnd.h"
#include "app/setup/InitDemoToCardUI.h"
#include "bench/RatioReporter.h"
#include "device/HidDiscovery.h"
#include "device/PcscInterface.h"
#include "device/PcscReaderList.h"
#include "tests/support/PcscdService.h"
#include "ui/SkinFiles.h"

namespace {

CMainWnd* gWindow = nullptr;

void TwoListings(benchmark::State& state) {
  const DeviceBackends& backends = gWindow->Backends();
  std::vector<std::string> pcscNames;
  std::vector<std::wstring> hidNames;
  for (auto _ : state) {
    ListPcscReaderNamesNarrow(pcscNames, backends.pcsc);
    hidNames.clear();
    EnumerateHidDevices(*backends.hid, *backends.models, hidNames);
    benchmark::DoNotOptimize(pcscNames.data());
    benchmark::DoNotOptimize(hidNames.data());
  }
}
BENCHMARK(TwoListings)->Unit(benchmark::kMicrosecond);

void RefreshReaderListUnchanged(benchmark::State& state) {
  for (auto _ : state) {
    gWindow->findChild<InitDemoToCardUI*>()->RefreshReaderList();
    QCoreApplication::processEvents();
  }
}
BENCHMARK(RefreshReaderListUnchanged)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  auto& service = tokvane::integration::PcscdService::Instance();
  if (!service.Ensure()) {
    std::printf("RefreshReaderListBench: not run, %s\n", service.Reason().c_str());
    return 0;
  }
  int result = 1;
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    skin::SetSkinDirectoryOverride(QStringLiteral(TOKVANE_SOURCE_DIR "/skin"));
    auto window = std::make_unique<CMainWnd>(SystemDeviceBackends());
    window->SetVidPidConfigFiles({TOKVANE_SOURCE_DIR "/packaging/Pid_Vid_Config.xml"});
    if (window->Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690) &&
        window->findChild<InitDemoToCardUI*>() != nullptr) {
      window->show();
      QCoreApplication::processEvents();
      gWindow = window.get();
      // The first refresh at start listed everything there is; from now on nothing changes.
      result = tokvane::bench::RunAndPrintRatios(
          argc, argv,
          {{"RefreshReaderList (nothing changed) / the two listings", "RefreshReaderListUnchanged", "TwoListings",
            1.1}});
    } else {
      std::printf("RefreshReaderListBench: the main window or its reader panel could not be built\n");
    }
  }
  service.Shutdown();
  return result;
}
