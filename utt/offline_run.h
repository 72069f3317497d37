// A whole utterance rendered offline: every frame's driver row and keypoints planned up front from
// the utterance's expression deltas, then crops rendered on a worker thread into a ring of four while
// the calling thread pastes them and hands each frame on, in order.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/audio.h"

namespace ko::utt {

inline constexpr int kOfflineRingSlots = 4;

// One output frame: the driver row it plays, that row's idle keypoints and its driving keypoints.
struct OfflineFrame {
  int32_t row = 0;
  const float* xs = nullptr;  // a row of the idle table the plan was made from
  std::array<float, kKeypointValues> kp{};
};

// The output frames of `frames` deltas (63 each): frame t plays row t mod nt (row 0 when nt <= 1);
// the first `skip` frames are computed but not output; output frame j = t - skip gets kp = xs + gain x
// delta_t. xsTarget holds nt rows of 63 and must outlive the plan.
std::vector<OfflineFrame> planOfflineFrames(const float* deltas, int64_t frames,
                                            const std::vector<float>& xsTarget, int32_t nt, int32_t skip,
                                            float gain);

// What a run renders and pastes with. render is called on the worker thread only, paste on the
// calling thread only; the two may run at once.
class OfflineSteps {
 public:
  virtual ~OfflineSteps() = default;
  // The frame's crop, valid until the next render; null on failure.
  virtual const float* render(const OfflineFrame& frame) = 0;
  // Pastes the crop into the full frame buffer; false on failure.
  virtual bool paste(const OfflineFrame& frame, const float* crop, uint8_t* out) = 0;
};

// Receives output frame `index` (from 0, without gaps), valid during the call.
using OfflineDelivery = std::function<void(int64_t index, const uint8_t* frame)>;

struct OfflineRunResult {
  int64_t delivered = 0;
  bool failed = false;  // a render or paste failed: the frames before it were delivered
};

// Owns the ring's crops and the frame buffer, so a stream's runs reuse them.
class OfflineRunner {
 public:
  OfflineRunner(size_t cropFloats, size_t frameBytes);

  // Renders and delivers every planned frame; returns once the worker is joined, on every path.
  OfflineRunResult run(const std::vector<OfflineFrame>& plan, OfflineSteps& steps,
                       const OfflineDelivery& deliver);

 private:
  std::array<std::vector<float>, kOfflineRingSlots> ring_;
  std::vector<uint8_t> frame_;
};

}  // namespace ko::utt
