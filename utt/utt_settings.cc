#include "utt/utt_settings.h"

#include <cmath>
#include <stdexcept>

#include "bundle/bundle.h"
#include "pool/pool.h"

namespace ko::utt {
namespace {

constexpr const char* kDefaultSteadyModel = "b24_fp32";
constexpr const char* kA2xEncoderMember = "a2x_enc_stream.onnx";
constexpr int64_t kDefaultEndGapMs = 600;

bool holdsA2xEncoder(const std::string& dir) {
  return opensForReading(resolveMember(dir, kA2xEncoderMember));
}

std::string steadyModel(const UttRequest& request) {
  const std::string chosen = envText("KO_STEADY_MODEL").value_or(request.steadyModel.value_or(""));
  if (chosen.empty()) return kDefaultSteadyModel;
  return chosen == "-" ? "" : chosen;
}

std::optional<int64_t> endGapMs(double seconds) {
  if (std::isnan(seconds) || seconds < 0) return std::nullopt;
  if (seconds == 0) return kDefaultEndGapMs;
  return static_cast<int64_t>(std::llround(seconds * 1000.0));
}

bool hybridFromEnvironment() {
  const std::optional<std::string> value = envText("KO_UTT_HYBRID");
  return value && !value->empty() && *value != "0";
}

std::optional<int32_t> onsetRow(int32_t nt) {
  const std::optional<int64_t> value = envInteger("KO_UTT_ONSET_SI");
  if (!value || *value < 0) return std::nullopt;
  return static_cast<int32_t>(nt > 0 ? *value % nt : *value);
}

}  // namespace

UttSettings resolveUttSettings(const UttRequest& request, int32_t nt, int32_t poolThreads) {
  if (request.motionDir.empty()) throw std::runtime_error("opts.motion_dir required");
  UttSettings settings;
  settings.motionDir = resolveBundlePath(request.motionDir);
  settings.kind = holdsA2xEncoder(settings.motionDir) ? ModelKind::A2x : ModelKind::Motion;
  settings.threads = request.threads < 1 ? poolThreads : request.threads;
  settings.motionEp = request.motionEp;
  settings.steadyModel = steadyModel(request);
  if (request.eager == -2) {
    settings.hybrid = true;
  } else if (request.eager >= 1) {
    settings.eager = request.eager;
  } else {
    settings.hybrid = hybridFromEnvironment();
  }
  settings.endGapMs = endGapMs(request.endGapS);
  if (request.rampFrames >= 1) settings.rampFrames = request.rampFrames;
  if (request.interruptRampFrames >= 1) settings.interruptRampFrames = request.interruptRampFrames;
  const std::optional<int64_t> pipelined = envInteger("KO_UTT_PIPELINE_PASTE");
  settings.pipelinedPaste = pipelined ? *pipelined != 0 : settings.kind == ModelKind::A2x;
  settings.onsetRow = onsetRow(nt);
  settings.stageReport = envText("KO_UTT_STAGE_REPORT").has_value();
  return settings;
}

}  // namespace ko::utt
