// A session and an a2x motion directory for one utterance pipeline test, and a host loop that pulls
// what the pipeline delivers. The identity has as many source frames as the motion directory has idle
// rows, so the blends back to idle have their targets.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ko/ko.h"
#include "tests/support/a2x_fixture.h"
#include "tests/support/c_handles.h"
#include "tests/support/renderer_fixture.h"
#include "utt/utt.h"

namespace ko::test {

inline constexpr int kUttNt = 5;
inline constexpr const char* kChunkModelKey = "b24_fp32";

struct UttCloser {
  void operator()(ko_utt* utt) const { ko_utt_destroy(utt); }
};
using UttHandle = std::unique_ptr<ko_utt, UttCloser>;

class UttFixture {
 public:
  // chunkBatch > 0 also ships a director of that fixed batch as the default chunk model.
  explicit UttFixture(int chunkBatch = 0);

  // Options on the fixture's motion directory: one model thread, no chunk renderer, no end gap.
  ko_utt_opts options() const;
  // Creates a pipeline and waits until its model has loaded.
  UttHandle start(const ko_utt_opts& opts) const;
  ko_ctx* ctx() const { return session.get(); }
  // The motion directory's idle keypoints of driver row `row`.
  const float* idlePose(int32_t row) const { return xsTarget.data() + static_cast<size_t>(row) * 63; }

  A2xFixture a2x;
  RendererBundles bundles;
  std::string bundleDir;
  SessionHandle session;
  std::vector<float> xsTarget;
};

struct PulledFrame {
  utt::FrameInfo info;
  utt::Keypoints kp{};
  std::vector<uint8_t> pixels;
};

// Pulls frames as a host would until done(frames) holds or `seconds` pass (a failed expectation).
std::vector<PulledFrame> pullUntil(ko_utt* utt,
                                   const std::function<bool(const std::vector<PulledFrame>&)>& done,
                                   double seconds = 30);
// Every frame the ring holds now, without waiting.
std::vector<PulledFrame> pullAvailable(ko_utt* utt);
// Pulls until `count` frames of `kind` arrived.
std::vector<PulledFrame> pullKind(ko_utt* utt, int32_t kind, size_t count);
size_t countKind(const std::vector<PulledFrame>& frames, int32_t kind);

// 16-bit samples of speechAudio(samples).
std::vector<int16_t> speechSamples(size_t samples, uint32_t seed = 3);
// Pushes samples in pieces of `piece`.
void pushSpeech(ko_utt* utt, const std::vector<int16_t>& samples, size_t piece = 320);

}  // namespace ko::test
