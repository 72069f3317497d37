// The demo face's 21 keypoints and the idle loop that drives them. A keypoint is (x, y, z) in the
// crop's normalised coordinates (demo_geometry.h), z unused; each carries the reach of the warp around
// it across and down (sigma x, sigma y): small on lids and lips, so a blink or a word moves only them,
// wide across the eye so a lid comes down evenly, and large on the head outline, so the whole head
// sways together.
#pragma once

#include <array>
#include <vector>

namespace ko::demo {

inline constexpr int kKeypointCount = 21;
inline constexpr int kKeypointFloats = 3 * kKeypointCount;

enum Keypoint : int {
  kBrowLeft,
  kBrowRight,
  kUpperLidLeft,
  kUpperLidRight,
  kLowerLidLeft,
  kLowerLidRight,
  kMouthCornerLeft,
  kMouthCornerRight,
  kUpperLip,
  kLowerLip,
  kChin,
  kJawLeft,
  kJawRight,
  kCheekLeft,
  kCheekRight,
  kTempleLeft,
  kTempleRight,
  kCrown,
  kNoseTip,
  kHeadSideLeft,
  kHeadSideRight,
};

struct KeypointSite {
  float x;
  float y;
  float sigmaX;
  float sigmaY;
  bool outline;  // on the head's outline: moves with the sway
};

const std::array<KeypointSite, kKeypointCount>& keypointSites();

// The face at rest: kKeypointFloats values, row k = (x, y, 0) of site k.
std::vector<float> neutralKeypoints();

// One row of the idle loop: how far the mouth is open and the upper lids are down (0 to 1), and the
// head's sway in normalised units.
struct IdlePose {
  double mouth = 0.0;
  double blink = 0.0;
  double swayX = 0.0;
  double swayY = 0.0;
};

// Row `row` of a loop of `frames` rows: talking in an irregular rhythm, a blink every couple of
// seconds at 25 rows a second, a slow sway; every motion returns to its start at the loop's end.
IdlePose idlePose(int row, int frames);

// The neutral keypoints moved into `pose`.
std::vector<float> posedKeypoints(const IdlePose& pose);

}  // namespace ko::demo
