// The output log after long use: of 10,000 AppendLog entries on the real main window, the cost of
// the last 1,000 against the first 1,000, measured in the same run. Entries come ten at a time,
// as an action writes them, with the event loop (layout, scrolling, painting) run between.
#include <QApplication>
#include <QTextEdit>
#include <memory>
#include <string>

#include "app/MainWnd.h"
#include "bench/RatioReporter.h"
#include "device/PcscInterface.h"
#include "ui/SkinFiles.h"

namespace {

constexpr int kTotalEntries = 10000;
constexpr int kMeasuredEntries = 1000;
constexpr int kEntriesPerAction = 10;

CMainWnd* gWindow = nullptr;
// The window's output log, found by its skin name.
QTextEdit* gLog = nullptr;

void AppendEntries(int count) {
  for (int i = 0; i < count; ++i) {
    if (i % 2 == 0) {
      gWindow->AppendLog(L"00 A4 04 00 05 F0 54 4B 56 4E\n", log_color::kBlue);
    } else {
      gWindow->AppendLog(L"<< 71 00 01 05 90 00\n", log_color::kBlue);
    }
    if ((i + 1) % kEntriesPerAction == 0) QCoreApplication::processEvents();
  }
}

void StartAfter(benchmark::State& state, int entriesBefore) {
  for (auto _ : state) {
    state.PauseTiming();
    gLog->clear();
    AppendEntries(entriesBefore);
    QCoreApplication::processEvents();
    state.ResumeTiming();
    AppendEntries(kMeasuredEntries);
  }
}

void AppendLogFirst1000(benchmark::State& state) { StartAfter(state, 0); }
BENCHMARK(AppendLogFirst1000)->Unit(benchmark::kMillisecond)->Iterations(5);

void AppendLogLast1000(benchmark::State& state) { StartAfter(state, kTotalEntries - kMeasuredEntries); }
BENCHMARK(AppendLogLast1000)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  skin::SetSkinDirectoryOverride(QStringLiteral(TOKVANE_SOURCE_DIR "/skin"));
  auto window = std::make_unique<CMainWnd>(SystemDeviceBackends());
  window->SetVidPidConfigFiles({TOKVANE_SOURCE_DIR "/packaging/Pid_Vid_Config.xml"});
  if (window->Create(nullptr, QStringLiteral("Quillon Tokvane"), 990, 690)) {
    gLog = window->FindControlAs<QTextEdit>(QStringLiteral("RichEdit_InitDeomo"));
  }
  if (gLog == nullptr) {
    std::printf("AppendLogBench: the main window or its log could not be built\n");
    return 1;
  }
  window->show();
  QCoreApplication::processEvents();
  gWindow = window.get();
  return tokvane::bench::RunAndPrintRatios(
      argc, argv, {{"AppendLog: last 1,000 of 10,000 / first 1,000", "AppendLogLast1000", "AppendLogFirst1000", 1.5}});
}
