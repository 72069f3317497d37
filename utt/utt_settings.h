// What an utterance pipeline was asked for and what it runs with: the host's options with their
// defaults applied, overridden by the environment read once at creation.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ko::utt {

enum class ModelKind { A2x, Motion };

// The host's options as given, before any default is applied.
struct UttRequest {
  std::string motionDir;
  int32_t threads = 0;
  std::string motionEp;
  std::optional<std::string> steadyModel;  // nothing: the host passed NULL
  int32_t eager = 0;
  double endGapS = 0;
  int32_t rampFrames = 0;
  int32_t interruptRampFrames = 0;
};

struct UttSettings {
  std::string motionDir;  // resolved to a directory
  ModelKind kind = ModelKind::Motion;
  int32_t threads = 1;
  std::string motionEp;
  std::string steadyModel;  // "" when no chunk renderer is wanted
  int32_t eager = -1;       // what the model runs with when hybrid scheduling is off
  bool hybrid = false;
  std::optional<int64_t> endGapMs;  // nothing: an utterance ends only when the host says so
  int32_t rampFrames = 6;
  int32_t interruptRampFrames = 4;
  bool pipelinedPaste = false;
  std::optional<int32_t> onsetRow;  // every utterance starts at this driver row
  bool stageReport = false;
};

// Applies the defaults and KO_UTT_PIPELINE_PASTE, KO_STEADY_MODEL, KO_UTT_ONSET_SI, KO_UTT_HYBRID
// and KO_UTT_STAGE_REPORT. nt is the session's driver frame count, poolThreads what threads below 1
// become. Throws "opts.motion_dir required" for an empty directory.
UttSettings resolveUttSettings(const UttRequest& request, int32_t nt, int32_t poolThreads);

}  // namespace ko::utt
