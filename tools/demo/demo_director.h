// The demo identity's director network ("model_render.onnx"): a backward warp of the face by its
// keypoints. At each point p of a coarse grid the displacement is
//   sum over keypoints k of (ks_k - kd_k) * exp(-(dx^2 / (2 sx_k^2) + dy^2 / (2 sy_k^2))), (dx, dy) = p -
//   kd_k,
// so the pixel a driving keypoint lands on samples where its source keypoint was; the coarse field is
// resized (linear) to the crop and added to the identity grid. The warped source is the renderer's
// usual cone: "P_rgb" -> Mul -> Concat("P_rgb", ·) -> GridSample (bilinear, border, align_corners 0),
// so the source-cone hoist and the GridSample rewrite both apply; the two halves mix back to the face
// (half of each) and the mean of "pooled64" adds a light touch. The unified compose tail
// (tools/authoring/compose_tail.h) then shows that render inside an ellipse around the lips and, outside
// it, the face warped by every keypoint but the lips; the result is clipped to 0..1 as "rgb". With
// kd == ks both are the prior plus the touch, which is zero for the demo's zero-mean pooled features.
#pragma once

#include <cstdint>
#include <vector>

namespace ko::demo {

// `coarse` x `coarse` displacement samples, resized to crop x crop.
std::vector<uint8_t> demoDirector(int crop, int coarse);

// The keypoint rows of the lips (corners, upper and lower lip), which centre the compose ellipse and
// anchor the identity's lip contour.
std::vector<int64_t> demoLipSites();

}  // namespace ko::demo
