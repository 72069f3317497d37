// The unit handed from the render stage to the paste stage: one frame to finish, with or without a
// rendered crop, stamped with the interrupt generation it was made in so stale work can be dropped.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "audio/audio.h"

namespace ko::utt {

enum FrameKind : int32_t { kIdle = 0, kSpeech = 1, kBlend = 2 };

using Keypoints = std::array<float, kKeypointValues>;

struct PasteJob {
  std::vector<float> crop;  // side x side x 3 planar floats; empty: the driver frame as it is
  int32_t kind = kIdle;
  int32_t row = 0;
  int32_t ordinal = -1;  // position of a speech frame within its utterance, -1 otherwise
  Keypoints kp{};
  uint64_t generation = 0;
  double stampMs = 0;  // when the render stage handed it on; 0 when not timed
};

}  // namespace ko::utt
