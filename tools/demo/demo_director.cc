#include "tools/demo/demo_director.h"

#include <string>

#include "tools/authoring/model_writer.h"
#include "tools/demo/demo_keypoints.h"

namespace ko::demo {
namespace {

using authoring::floatTensor;
using authoring::int64Tensor;
using authoring::ModelBuilder;

constexpr float kPooledGain = 0.02f;

// Pixel-centre coordinates in [-1, 1] of a side x side grid, x then y.
std::vector<float> pixelCentres(int side) {
  std::vector<float> grid;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      grid.push_back((2.0f * static_cast<float>(x) + 1.0f) / static_cast<float>(side) - 1.0f);
      grid.push_back((2.0f * static_cast<float>(y) + 1.0f) / static_cast<float>(side) - 1.0f);
    }
  }
  return grid;
}

// -1 / (2 sigma^2) per keypoint and axis.
std::vector<float> falloffs() {
  std::vector<float> values;
  for (const KeypointSite& site : keypointSites()) {
    values.push_back(-0.5f / (site.sigmaX * site.sigmaX));
    values.push_back(-0.5f / (site.sigmaY * site.sigmaY));
  }
  return values;
}

// kp_driving, kp_source -> "grid" [1, crop, crop, 2].
void addGrid(ModelBuilder& m, int crop, int coarse) {
  const int64_t cells = static_cast<int64_t>(coarse) * coarse;
  const float upscale = static_cast<float>(crop) / static_cast<float>(coarse);
  m.initializer("coarse_points", floatTensor({cells, 1, 2}, pixelCentres(coarse)))
      .initializer("kp_falloff", floatTensor({kKeypointCount, 2}, falloffs()))
      .initializer("xy_start", int64Tensor({1}, {0}))
      .initializer("xy_end", int64Tensor({1}, {2}))
      .initializer("xy_axis", int64Tensor({1}, {2}))
      .initializer("sum_axes", int64Tensor({1}, {2}))
      .initializer("coarse_shape", int64Tensor({4}, {1, coarse, coarse, 2}))
      .initializer("upscales", floatTensor({4}, {1.0f, 1.0f, upscale, upscale}))
      .initializer("base_grid", floatTensor({1, crop, crop, 2}, pixelCentres(crop)))
      .node("Slice", {"kp_driving", "xy_start", "xy_end", "xy_axis"}, {"kd_xy"})
      .node("Slice", {"kp_source", "xy_start", "xy_end", "xy_axis"}, {"ks_xy"})
      .node("Sub", {"ks_xy", "kd_xy"}, {"kp_pull"})
      .node("Sub", {"coarse_points", "kd_xy"}, {"to_kp"})
      .node("Mul", {"to_kp", "to_kp"}, {"to_kp_sq"})
      .node("Mul", {"to_kp_sq", "kp_falloff"}, {"kp_exponents"})
      .node("ReduceSum", {"kp_exponents", "sum_axes"}, {"kp_exponent"})
      .attr("keepdims", 0)
      .node("Exp", {"kp_exponent"}, {"kp_weight"})
      .node("MatMul", {"kp_weight", "kp_pull"}, {"coarse_pull"})
      .node("Reshape", {"coarse_pull", "coarse_shape"}, {"coarse_field"})
      .node("Transpose", {"coarse_field"}, {"coarse_planes"})
      .attrInts("perm", {0, 3, 1, 2})
      .node("Resize", {"coarse_planes", "", "upscales"}, {"fine_planes"})
      .attr("mode", "linear")
      .node("Transpose", {"fine_planes"}, {"fine_field"})
      .attrInts("perm", {0, 2, 3, 1})
      .node("Add", {"base_grid", "fine_field"}, {"grid"});
}

// The source cone, the warp and the mix back to the face, brightened by the pooled mean; returns the
// value still to be clipped.
std::string addWarpAndMix(ModelBuilder& m) {
  m.initializer("cone_gain", floatTensor({1, 3, 1, 1}, {0.5f, 0.5f, 0.5f}))
      .initializer("half", floatTensor({1}, {0.5f}))
      .initializer("first_start", int64Tensor({1}, {0}))
      .initializer("first_end", int64Tensor({1}, {3}))
      .initializer("second_end", int64Tensor({1}, {6}))
      .initializer("channel_axis", int64Tensor({1}, {1}))
      .initializer("pooled_gain", floatTensor({1}, {kPooledGain}))
      .node("Mul", {"P_rgb", "cone_gain"}, {"cone_half"})
      .node("Concat", {"P_rgb", "cone_half"}, {"cone_tip"})
      .attr("axis", 1)
      .node("GridSample", {"cone_tip", "grid"}, {"warped"})
      .attr("mode", "bilinear")
      .attr("padding_mode", "border")
      .attr("align_corners", 0)
      .node("Slice", {"warped", "first_start", "first_end", "channel_axis"}, {"warped_face"})
      .node("Slice", {"warped", "first_end", "second_end", "channel_axis"}, {"warped_half"})
      .node("Mul", {"warped_face", "half"}, {"face_half"})
      .node("Add", {"face_half", "warped_half"}, {"mixed"})
      .node("ReduceMean", {"pooled64"}, {"pooled_mean"})
      .attrInts("axes", {1, 2, 3})
      .attr("keepdims", 1)
      .node("Mul", {"pooled_mean", "pooled_gain"}, {"pooled_touch"})
      .node("Add", {"mixed", "pooled_touch"}, {"unclipped"});
  return "unclipped";
}

}  // namespace

std::vector<uint8_t> demoDirector(int crop, int coarse) {
  ModelBuilder m;
  m.opset(17)
      .input("pooled64", {1, 64, 32, 32})
      .input("P_rgb", {1, 3, crop, crop})
      .input("kp_driving", {1, kKeypointCount, 3})
      .input("kp_source", {1, kKeypointCount, 3})
      .initializer("zero", floatTensor({}, {0.0f}))
      .initializer("one", floatTensor({}, {1.0f}));
  addGrid(m, crop, coarse);
  m.node("Clip", {addWarpAndMix(m), "zero", "one"}, {"rgb"});
  m.output("rgb", {1, 3, crop, crop});
  return m.bytes();
}

}  // namespace ko::demo
