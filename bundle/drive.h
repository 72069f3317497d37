// The bundle's pre-computed idle loop: for every drive frame, the keypoints of the source frame it
// starts from, the keypoints it is driven to, and which source frame that is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ko {

struct Manifest;

// One keypoint set: 21 keypoints of 3 coordinates (the renderer's host keypoint layout).
inline constexpr int32_t kKeypointFloats = 63;

struct Drive {
  std::vector<float> xs;    // frames x 63: keypoints of the source frame used at drive frame t
  std::vector<float> xd;    // frames x 63: keypoints the face is driven to at drive frame t
  std::vector<int32_t> si;  // frames: the source frame index, in [0, NT)
  int32_t frames = 0;
};

// Reads the three tables ("drive/xs.f32", "drive/xd.f32", "drive/si.i32", or their current names
// under "idle_loop/"). They are required, also when frames is 0 (then all three are empty files).
// Throws "cannot open <path>", "size mismatch <path>" or "drive: si out of range".
Drive loadDrive(const Manifest& manifest);

// A raw little-endian float array holding exactly `count` values.
// Throws "cannot open <path>" or "size mismatch <path>".
std::vector<float> readRaw(const std::string& path, size_t count);

}  // namespace ko
