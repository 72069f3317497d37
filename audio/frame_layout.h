// The units every audio stream shares: 16 kHz samples, 25 video frames per second, and one keypoint
// set of 21 rows of (x, y, z) per frame.
#pragma once

namespace ko {

inline constexpr int kSamplesPerFrame = 640;  // 40 ms: one video frame at 25 frames/s
inline constexpr int kKeypointValues = 63;

}  // namespace ko
