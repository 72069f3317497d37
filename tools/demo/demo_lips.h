// The demo identity's lip outline: 40 vertices around the painted lips, in the canonical frame a lip
// template stores (x and y relative to the mean of the lip keypoints, divided by their largest spread
// on each axis), so the renderer can deform it onto every frame's driving lips.
#pragma once

#include <array>
#include <vector>

namespace ko::demo {

inline constexpr int kLipOutlineVertices = 40;
// How far the contour's soft edge reaches outside the outline, in crop pixels at crop 512.
inline constexpr double kLipFeatherAt512 = 10.0;

std::vector<std::array<double, 2>> demoLipOutline();

}  // namespace ko::demo
