// The motion model's log-mel front end: one analysis window of speech (6480 samples) becomes the
// 80 x 21 log-mel block its speech network reads. Each front end owns its transform and scratch, so
// streams on different threads never share a buffer.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace ko::motion {

class MelFrontEnd {
 public:
  // window: the 512-value analysis window; melMatrix: 257 x 80, bin-major. Throws when the transform
  // cannot be set up.
  MelFrontEnd(std::vector<float> window, std::vector<float> melMatrix);
  ~MelFrontEnd();
  MelFrontEnd(const MelFrontEnd&) = delete;
  MelFrontEnd& operator=(const MelFrontEnd&) = delete;

  // samples: kWindowSamples values; out: 80 x 21, band-major (21 hops per band), each
  // log(energy + 1e-8) of the band's weighted sum of transform magnitudes.
  void logMel(const float* samples, float* out);

 private:
  struct Transform;

  std::vector<float> window_;
  std::vector<float> melMatrix_;
  std::unique_ptr<Transform> transform_;
  std::vector<float> padded_;
  std::vector<float> magnitudes_;  // 21 x 257
};

}  // namespace ko::motion
