#include "utt/stage_report.h"

#include <cstdio>

namespace ko::utt {
namespace {

double perJob(double total, int64_t count) {
  return count > 0 ? total / static_cast<double>(count) : 0.0;
}

}  // namespace

std::string stageReport(const StageTotals& totals) {
  char line[640];
  const int pipe = totals.pipelinedTeeth ? 1 : 0;
  const auto jobsB = static_cast<long long>(totals.teethJobs);
  const auto timed = static_cast<long long>(totals.timedSpeech);
  if (totals.pasteJobs > 0) {
    const int64_t rendered = totals.speechRendered;
    std::snprintf(
        line, sizeof line,
        "[ko_utt-stage] pipe=%d jobsB=%lld jobsC=%lld stageA_ms=%.3f stageA_work_ms=%.3f "
        "stageA_wait_ms=%.3f stageB_ms=%.3f stageC_ms=%.3f deliver_lat_ms=%.3f over %lld speech frames\n",
        pipe, jobsB, static_cast<long long>(totals.pasteJobs), perJob(totals.renderMs, rendered),
        perJob(totals.renderMs - totals.renderWaitMs, rendered), perJob(totals.renderWaitMs, rendered),
        perJob(totals.teethMs, totals.teethJobs), perJob(totals.pasteMs, totals.pasteJobs),
        perJob(totals.deliverLatencyMs, totals.timedSpeech), timed);
  } else {
    std::snprintf(
        line, sizeof line,
        "[ko_utt-stage] MEASURED NOTHING — the stage report was asked for and the paste-job counter "
        "never advanced (pipe=%d jobsB=%lld jobsC=0, %lld speech frames delivered). stageA/stageB/stageC "
        "and the deliver latency are NOT reported rather than reported as zero: on this path the paste "
        "does not run through the counted queue.\n",
        pipe, jobsB, timed);
  }
  return line;
}

}  // namespace ko::utt
