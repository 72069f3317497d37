#include "bench/support/ratio_report.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace ko::bench {
namespace {

// Remembers the real time per iteration, in seconds, of every run it prints.
class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  RecordingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      const std::string& name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") medians_[name] = seconds;
      } else {
        samples_[name].push_back(seconds);
      }
    }
  }

  // The reported median when repetitions produced one, else the median of the runs seen.
  bool median(const std::string& name, double& out) const {
    if (const auto found = medians_.find(name); found != medians_.end()) {
      out = found->second;
      return true;
    }
    const auto found = samples_.find(name);
    if (found == samples_.end() || found->second.empty()) return false;
    std::vector<double> sorted = found->second;
    std::sort(sorted.begin(), sorted.end());
    out = sorted[sorted.size() / 2];
    return true;
  }

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, std::vector<double>> samples_;
};

}  // namespace

int runWithRatios(int argc, char** argv, const std::vector<Comparison>& comparisons) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  for (const Comparison& comparison : comparisons) {
    double ours = 0;
    double theirs = 0;
    if (!reporter.median(comparison.ours, ours) || !reporter.median(comparison.theirs, theirs) || ours <= 0)
      continue;
    std::printf("%s / %s median time: %.2f\n", comparison.theirs.c_str(), comparison.ours.c_str(),
                theirs / ours);
  }
  return 0;
}

}  // namespace ko::bench
