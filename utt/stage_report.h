// Where a pipeline's time went, stage by stage, and the line KO_UTT_STAGE_REPORT prints for it at
// destruction.
#pragma once

#include <cstdint>
#include <string>

namespace ko::utt {

struct StageTotals {
  bool pipelinedTeeth = false;
  int64_t speechRendered = 0;
  double renderMs = 0;  // render and hand-off of every speech frame, waits included
  double renderWaitMs = 0;
  int64_t teethJobs = 0;
  double teethMs = 0;
  int64_t pasteJobs = 0;  // jobs the paste thread took off its queue
  double pasteMs = 0;
  int64_t timedSpeech = 0;  // speech frames that reached the ring with a hand-off stamp
  double deliverLatencyMs = 0;
};

// The report line, ending in a newline. Without counted paste jobs it says that nothing was measured
// rather than print zeros that look like measurements.
std::string stageReport(const StageTotals& totals);

}  // namespace ko::utt
