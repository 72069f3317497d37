// Where the demo face's features sit, in the crop's normalised coordinates: x and y in [-1, 1] from
// the left and top edges, y growing downwards (GridSample's align_corners 0 convention). The painter
// draws at these places and the keypoints are put on them, so a keypoint moves the feature it names.
#pragma once

namespace ko::demo::geometry {

// The head: an ellipse of skin under a cap of hair.
inline constexpr double kHeadX = 0.0;
inline constexpr double kHeadY = 0.04;
inline constexpr double kHeadRx = 0.49;
inline constexpr double kHeadRy = 0.66;

// Eyes: one on each side of the middle at +-kEyeX; the upper lid's lash line crosses the eye's middle
// kLidRise above kEyeY.
inline constexpr double kEyeX = 0.20;
inline constexpr double kEyeY = -0.02;
inline constexpr double kEyeRx = 0.10;
inline constexpr double kEyeRy = 0.048;
inline constexpr double kLidRise = 0.034;

// Eyebrows: arcs over the eyes.
inline constexpr double kBrowX = 0.21;
inline constexpr double kBrowY = -0.17;
inline constexpr double kBrowHalfWidth = 0.11;

// The nose's tip and the mouth: the gap between the lips runs at kMouthY, kMouthHalfWidth to each
// side; the upper lip rises kUpperLipHeight above it and the lower lip hangs kLowerLipHeight below.
inline constexpr double kNoseY = 0.19;
inline constexpr double kMouthY = 0.385;
inline constexpr double kMouthHalfWidth = 0.14;
inline constexpr double kUpperLipHeight = 0.042;
inline constexpr double kLowerLipHeight = 0.05;

}  // namespace ko::demo::geometry
