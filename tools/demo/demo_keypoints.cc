#include "tools/demo/demo_keypoints.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/demo/demo_geometry.h"

namespace ko::demo {
namespace {

namespace g = geometry;

constexpr float f(double value) {
  return static_cast<float>(value);
}

// How far (normalised units) each motion carries its keypoints at full strength.
constexpr double kLowerLipDrop = 0.09;
constexpr double kChinDrop = 0.06;
constexpr double kJawDrop = 0.03;
constexpr double kUpperLipRise = 0.012;
constexpr double kCornerPull = 0.012;
constexpr double kLidDrop = 0.088;
constexpr double kBrowLift = 0.008;

constexpr int kRowsPerSecond = 25;
constexpr int kBlinkHalfRows = 3;

double wave(int row, int frames, int cycles, double phase) {
  return std::sin(2.0 * std::numbers::pi * cycles * row / frames + phase);
}

// Three incommensurate-looking syllable rates, gated by a slower phrase envelope so there are pauses.
double mouthOpening(int row, int frames) {
  const double syllables =
      0.55 * wave(row, frames, 13, 0.0) + 0.3 * wave(row, frames, 21, 1.3) + 0.25 * wave(row, frames, 8, 2.1);
  const double phrase = std::clamp(0.7 + 0.9 * wave(row, frames, 3, 0.4), 0.0, 1.0);
  return std::clamp(syllables * phrase, 0.0, 1.0);
}

// Blinks about every two and a half seconds, unevenly spaced around the loop; each closes over
// kBlinkHalfRows rows and opens over as many, across the loop's seam too.
double blinkClosure(int row, int frames) {
  constexpr std::array<double, 2> kBlinkSeconds{1.0, 3.1};
  double closure = 0.0;
  for (const double seconds : kBlinkSeconds) {
    const int centre = static_cast<int>(std::lround(seconds * kRowsPerSecond));
    if (centre >= frames) continue;
    const int apart = std::abs(row - centre);
    const int distance = std::min(apart, frames - apart);
    closure = std::max(closure, 1.0 - static_cast<double>(distance) / kBlinkHalfRows);
  }
  return closure;
}

void move(std::vector<float>& kp, int site, double dx, double dy) {
  kp[static_cast<size_t>(3 * site)] += f(dx);
  kp[static_cast<size_t>(3 * site + 1)] += f(dy);
}

}  // namespace

const std::array<KeypointSite, kKeypointCount>& keypointSites() {
  static const std::array<KeypointSite, kKeypointCount> sites{{
      {f(-g::kBrowX), f(g::kBrowY - 0.03), 0.09f, 0.07f, false},
      {f(g::kBrowX), f(g::kBrowY - 0.03), 0.09f, 0.07f, false},
      {f(-g::kEyeX), f(g::kEyeY - g::kLidRise), 0.13f, 0.055f, false},
      {f(g::kEyeX), f(g::kEyeY - g::kLidRise), 0.13f, 0.055f, false},
      {f(-g::kEyeX), f(g::kEyeY + g::kEyeRy), 0.1f, 0.04f, false},
      {f(g::kEyeX), f(g::kEyeY + g::kEyeRy), 0.1f, 0.04f, false},
      {f(-g::kMouthHalfWidth), f(g::kMouthY), 0.05f, 0.05f, false},
      {f(g::kMouthHalfWidth), f(g::kMouthY), 0.05f, 0.05f, false},
      {0.0f, f(g::kMouthY - g::kUpperLipHeight), 0.09f, 0.04f, false},
      {0.0f, f(g::kMouthY + g::kLowerLipHeight), 0.10f, 0.065f, false},
      {0.0f, f(g::kHeadY + g::kHeadRy), 0.16f, 0.12f, false},
      {-0.36f, 0.50f, 0.14f, 0.14f, false},
      {0.36f, 0.50f, 0.14f, 0.14f, false},
      {f(-g::kHeadRx), 0.12f, 0.28f, 0.28f, true},
      {f(g::kHeadRx), 0.12f, 0.28f, 0.28f, true},
      {-0.42f, -0.34f, 0.28f, 0.28f, true},
      {0.42f, -0.34f, 0.28f, 0.28f, true},
      {0.0f, f(g::kHeadY - g::kHeadRy), 0.30f, 0.30f, true},
      {0.0f, f(g::kNoseY), 0.10f, 0.10f, false},
      {-0.52f, -0.08f, 0.30f, 0.30f, true},
      {0.52f, -0.08f, 0.30f, 0.30f, true},
  }};
  return sites;
}

std::vector<float> neutralKeypoints() {
  std::vector<float> kp;
  kp.reserve(kKeypointFloats);
  for (const KeypointSite& site : keypointSites()) kp.insert(kp.end(), {site.x, site.y, 0.0f});
  return kp;
}

IdlePose idlePose(int row, int frames) {
  IdlePose pose;
  pose.mouth = mouthOpening(row, frames);
  pose.blink = blinkClosure(row, frames);
  pose.swayX = 0.025 * wave(row, frames, 1, 0.0);
  pose.swayY = 0.008 * wave(row, frames, 2, 0.5);
  return pose;
}

std::vector<float> posedKeypoints(const IdlePose& pose) {
  std::vector<float> kp = neutralKeypoints();
  move(kp, kLowerLip, 0.0, kLowerLipDrop * pose.mouth);
  move(kp, kChin, 0.0, kChinDrop * pose.mouth);
  move(kp, kJawLeft, 0.0, kJawDrop * pose.mouth);
  move(kp, kJawRight, 0.0, kJawDrop * pose.mouth);
  move(kp, kUpperLip, 0.0, -kUpperLipRise * pose.mouth);
  move(kp, kMouthCornerLeft, kCornerPull * pose.mouth, 0.0);
  move(kp, kMouthCornerRight, -kCornerPull * pose.mouth, 0.0);
  move(kp, kUpperLidLeft, 0.0, kLidDrop * pose.blink);
  move(kp, kUpperLidRight, 0.0, kLidDrop * pose.blink);
  move(kp, kBrowLeft, 0.0, -kBrowLift * pose.mouth);
  move(kp, kBrowRight, 0.0, -kBrowLift * pose.mouth);
  for (int site = 0; site < kKeypointCount; ++site) {
    if (keypointSites()[static_cast<size_t>(site)].outline) move(kp, site, pose.swayX, pose.swayY);
  }
  return kp;
}

}  // namespace ko::demo
