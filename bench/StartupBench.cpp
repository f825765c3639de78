// Start-up to the main window shown, and the peak resident memory on the way, of Tokvane against a
// bare Qt 6 window program built for the purpose, both started as fresh processes on Qt's
// offscreen platform in the same run. Each probe ends itself once its window is first painted.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/RatioReporter.h"

namespace {

std::string ExecutableDirectory() {
  char buffer[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return ".";
  std::string path(buffer, static_cast<std::size_t>(length));
  return path.substr(0, path.find_last_of('/'));
}

struct ProbeRun {
  long peakKiB = -1;  // -1: the probe failed
  double secondsToShown = 0;
};

// Runs one probe to its end. The time counts from the start of the process to the line the probe
// prints once its window is shown; tearing the program down afterwards is not start-up.
ProbeRun RunProbe(const std::string& program) {
  ProbeRun run;
  const auto start = std::chrono::steady_clock::now();
  int fds[2];
  if (::pipe(fds) != 0) return run;
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    // Qt's remarks about the offscreen platform would drown the table.
    const int quiet = ::open("/dev/null", O_WRONLY);
    if (quiet >= 0) ::dup2(quiet, STDERR_FILENO);
    ::close(fds[0]);
    ::close(fds[1]);
    ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  if (child < 0) {
    ::close(fds[0]);
    return run;
  }
  std::string output;
  char chunk[256];
  bool shown = false;
  for (;;) {
    const ssize_t got = ::read(fds[0], chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    output.append(chunk, static_cast<std::size_t>(got));
    if (!shown && output.find('\n') != std::string::npos) {
      shown = true;
      run.secondsToShown = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  const auto at = output.find("peak_rss_kib=");
  if (!shown || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || at == std::string::npos) return run;
  run.peakKiB = std::strtol(output.c_str() + at + 13, nullptr, 10);
  return run;
}

void StartUp(benchmark::State& state, const std::string& program) {
  double peakSum = 0;
  for (auto _ : state) {
    const ProbeRun run = RunProbe(program);
    if (run.peakKiB < 0) {
      state.SkipWithError(("the probe failed: " + program).c_str());
      return;
    }
    state.SetIterationTime(run.secondsToShown);
    peakSum += static_cast<double>(run.peakKiB);
  }
  state.counters["peak_rss_kib"] = benchmark::Counter(peakSum, benchmark::Counter::kAvgIterations);
}

}  // namespace

int main(int argc, char** argv) {
  // Headless and comparable: both probes draw on Qt's offscreen platform.
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const std::string directory = ExecutableDirectory();
  const std::string bare = directory + "/BareQtWindow";
  const std::string ours = directory + "/MainWindowStartup";
  // One untimed run of each first, so neither pays alone for a cold page cache.
  if (RunProbe(bare).peakKiB < 0 || RunProbe(ours).peakKiB < 0) {
    std::printf("StartupBench: a probe did not show its window (%s, %s)\n", bare.c_str(), ours.c_str());
    return 1;
  }
  benchmark::RegisterBenchmark("BareQtWindowStartup", StartUp, bare)
      ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);
  benchmark::RegisterBenchmark("MainWindowStartup", StartUp, ours)
      ->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);
  return tokvane::bench::RunAndPrintRatios(
      argc, argv,
      {{"start-up to main window shown / bare Qt window", "MainWindowStartup", "BareQtWindowStartup", 1.5},
       {"peak resident memory / bare Qt window", "MainWindowStartup", "BareQtWindowStartup", 1.25,
        "peak_rss_kib"}});
}
