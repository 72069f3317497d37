#include "tools/demo/demo_lips.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/demo/demo_director.h"
#include "tools/demo/demo_geometry.h"
#include "tools/demo/demo_keypoints.h"

namespace ko::demo {
namespace {

namespace g = geometry;

// A little beyond the painted lips, so the outline holds them whole; the upper edge dips at the
// middle like the lip's bow.
constexpr double kWidthMargin = 1.12;
constexpr double kHeightMargin = 1.25;
constexpr double kBowDepth = 0.25;
constexpr double kBowWidth = 0.035;

struct LipFrame {
  double mx = 0, my = 0, sx = 0, sy = 0;
};

// The mean and the largest spread of the neutral lip keypoints, as the renderer measures them.
LipFrame neutralLipFrame() {
  const std::vector<float> kp = neutralKeypoints();
  const std::vector<int64_t> sites = demoLipSites();
  LipFrame frame;
  for (const int64_t site : sites) {
    frame.mx += kp[static_cast<size_t>(3 * site)];
    frame.my += kp[static_cast<size_t>(3 * site + 1)];
  }
  frame.mx /= static_cast<double>(sites.size());
  frame.my /= static_cast<double>(sites.size());
  for (const int64_t site : sites) {
    frame.sx = std::max(frame.sx, std::abs(kp[static_cast<size_t>(3 * site)] - frame.mx));
    frame.sy = std::max(frame.sy, std::abs(kp[static_cast<size_t>(3 * site + 1)] - frame.my));
  }
  return frame;
}

}  // namespace

std::vector<std::array<double, 2>> demoLipOutline() {
  const LipFrame frame = neutralLipFrame();
  std::vector<std::array<double, 2>> outline;
  for (int k = 0; k < kLipOutlineVertices; ++k) {
    const double t = 2.0 * std::numbers::pi * k / kLipOutlineVertices;
    const double x = kWidthMargin * g::kMouthHalfWidth * std::cos(t);
    const double rise =
        std::sin(t) < 0.0
            ? g::kUpperLipHeight * (1.0 - kBowDepth * std::exp(-(x * x) / (kBowWidth * kBowWidth)))
            : g::kLowerLipHeight;
    const double y = g::kMouthY + kHeightMargin * rise * std::sin(t);
    outline.push_back({(x - frame.mx) / frame.sx, (y - frame.my) / frame.sy});
  }
  return outline;
}

}  // namespace ko::demo
