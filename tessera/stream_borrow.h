// The teeth pass as a live stream uses it: each rendered crop comes with its 21 keypoints, the borrow
// computes the frame's delivered mask and mouth shift itself, runs the pass, and a returned window is
// written back into the crop as a delta, so the float crop's detail outside the change survives.
// One thread drives a borrow at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tessera/lip_contour.h"
#include "tessera/teeth_pass.h"
#include "tessera/unified_pi.h"

namespace ko::tessera {

class StreamBorrow {
 public:
  // `unifiedPi` is the compose geometry matched to the bank's corpus; `lipTemplate` the bundle's lip
  // template text, empty when it has none. Prints which delivery mask the session serves.
  StreamBorrow(const BankData& bank, const HeadWeights& weights, const ServeConfig& config,
               const UnifiedPi& unifiedPi, std::string_view lipTemplate);

  // `cropPlanes`: R, G and B planes of N*N floats in [0, 1]; `keypoints`: 63 floats. True when
  // `result` holds the previous frame.
  bool push(const float* cropPlanes, const float* keypoints, FrameResult& result);
  // The crop as N*N packed RGBA bytes; alpha is ignored.
  bool pushRgba(const uint8_t* rgba, const float* keypoints, FrameResult& result);
  // The step both share, over the crop as already filled in.
  bool pushSynth(const float* keypoints, FrameResult& result);
  bool flush(FrameResult& result);

  // Adds the window's change against the bytes the pass saw; nothing when skipped.
  static void writeWindowDelta(float* cropPlanes, int32_t n, const FrameResult& result,
                               const GeometryStamp& stamp);
  // Sets every alpha of the N*N crop to 255, then adds the change as writeWindowDelta does.
  static void writeWindowDeltaRgba(uint8_t* rgba, int32_t n, const FrameResult& result,
                                   const GeometryStamp& stamp);

  // The host never splits the pass: always false, nothing written.
  bool hostSplit(std::string* out) const;
  const char* backend() const { return "cpu"; }

  const TeethPass& pass() const { return pass_; }
  int32_t canvas() const { return n_; }

 private:
  TeethPass pass_;
  UnifiedPi unifiedPi_;
  std::optional<LipContour> lipContour_;
  double cCanon_[2];
  int32_t n_;
  int32_t frame_ = 0;
  std::vector<uint8_t> crop_;
  std::vector<uint8_t> mask_;
};

}  // namespace ko::tessera
