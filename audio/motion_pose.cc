#include "audio/motion_pose.h"

#include <algorithm>
#include <cmath>

#include "audio/motion_layout.h"

namespace ko::motion {

float bin66(const float* logits) {
  const float top = *std::max_element(logits, logits + kBins);
  float sum = 0, weighted = 0;
  for (int k = 0; k < kBins; ++k) {
    const float p = std::exp(logits[k] - top);
    sum += p;
    weighted += p * static_cast<float>(k);
  }
  return 3.0f * (weighted / sum) - 97.5f;
}

Rotation poseToR(float pitch, float yaw, float roll) {
  const auto radians = [](float degrees) { return degrees / 180.0f * 3.1415927f; };
  const float p = radians(pitch), y = radians(yaw), r = radians(roll);
  const float cp = std::cos(p), sp = std::sin(p), cy = std::cos(y), sy = std::sin(y), cr = std::cos(r),
              sr = std::sin(r);
  return {cy * cr,
          cy * sr,
          -sy,
          sp * sy * cr - cp * sr,
          cp * cr + sp * sy * sr,
          sp * cy,
          sp * sr + cp * sy * cr,
          cp * sy * sr - sp * cr,
          cp * cy};
}

}  // namespace ko::motion
