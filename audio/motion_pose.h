// Head pose arithmetic of the motion model: angles decoded from 66-bin classifications and the
// rotation they make.
#pragma once

#include <array>

namespace ko::motion {

// The angle in degrees that 66 bin logits stand for: 3 * (expected bin under their softmax) - 97.5,
// so bins span -97.5 .. 97.5 degrees in steps of 3.
float bin66(const float* logits);

using Rotation = std::array<float, 9>;  // row-major 3 x 3

// The rotation for pitch, yaw and roll in degrees, applied to row vectors (point * R).
Rotation poseToR(float pitch, float yaw, float roll);

}  // namespace ko::motion
