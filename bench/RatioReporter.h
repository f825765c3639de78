#pragma once
// Runs the registered benchmarks and prints, besides Google Benchmark's own table, the ratio of
// each "ours" benchmark to its "raw" baseline measured in the same run. Times on their own are
// not comparable between machines; the ratios are what the project tracks.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace tokvane::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& run : runs) {
      if (run.error_occurred) continue;
      // With repetitions the median stands for the benchmark; without, its one run does.
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type != Run::RT_Iteration && !median) continue;
      // Known by its full name and by its function name alone (without "/iterations:N" and the like).
      for (const std::string& name : {run.benchmark_name(), run.run_name.function_name}) {
        if (!median && fromMedian_.count(name) != 0) continue;
        if (median) fromMedian_.insert(name);
        timePerIteration_[name] = run.GetAdjustedRealTime();
        for (const auto& [counterName, counter] : run.counters) counters_[name][counterName] = counter.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  double TimeOf(const std::string& name) const {
    const auto it = timePerIteration_.find(name);
    return it == timePerIteration_.end() ? 0.0 : it->second;
  }

  // A user counter of a benchmark as reported (after its own averaging); 0 when absent.
  double CounterOf(const std::string& name, const std::string& counter) const {
    const auto it = counters_.find(name);
    if (it == counters_.end()) return 0.0;
    const auto found = it->second.find(counter);
    return found == it->second.end() ? 0.0 : found->second;
  }

 private:
  std::map<std::string, double> timePerIteration_;
  std::map<std::string, std::map<std::string, double>> counters_;
  std::set<std::string> fromMedian_;
};

// Pairs of (ours, raw baseline) benchmark names and a label for each ratio.
struct RatioPair {
  std::string label;
  std::string ours;
  std::string raw;
  double goal;  // 0: no goal
  // Empty: the ratio of the times per iteration. Otherwise the ratio of this user counter.
  std::string counter = {};
};

inline int RunAndPrintRatios(int argc, char** argv, const std::vector<RatioPair>& pairs) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n%-58s %10s %8s\n", "ratio (ours / raw, same run)", "ratio", "goal");
  for (const auto& pair : pairs) {
    const double ours =
        pair.counter.empty() ? reporter.TimeOf(pair.ours) : reporter.CounterOf(pair.ours, pair.counter);
    const double raw =
        pair.counter.empty() ? reporter.TimeOf(pair.raw) : reporter.CounterOf(pair.raw, pair.counter);
    if (ours <= 0.0 || raw <= 0.0) {
      std::printf("%-58s %10s %8s\n", pair.label.c_str(), "n/a", "");
      continue;
    }
    if (pair.goal > 0.0) {
      std::printf("%-58s %10.3f %8.2f\n", pair.label.c_str(), ours / raw, pair.goal);
    } else {
      std::printf("%-58s %10.3f %8s\n", pair.label.c_str(), ours / raw, "-");
    }
  }
  benchmark::Shutdown();
  return 0;
}

}  // namespace tokvane::bench
