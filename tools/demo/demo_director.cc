#include "tools/demo/demo_director.h"

#include <array>
#include <string>

#include "tools/authoring/compose_tail.h"
#include "tools/authoring/model_writer.h"
#include "tools/demo/demo_keypoints.h"

namespace ko::demo {
namespace {

using authoring::floatTensor;
using authoring::int64Tensor;
using authoring::ModelBuilder;

constexpr float kPooledGain = 0.02f;
constexpr std::array<int, 4> kLipSites{kMouthCornerLeft, kMouthCornerRight, kUpperLip, kLowerLip};
// The graph's own compose ellipse, in crop units around the lips' mean: wide enough for the open
// mouth, so it over-covers the closed one and reaches the chin, as a director's ellipse does.
constexpr float kComposeRadiusX = 0.26f;
constexpr float kComposeRadiusY = 0.2f;
constexpr float kComposeEdgeGain = 3.0f;

void addGridSample(ModelBuilder& m, const std::string& grid, const std::string& output) {
  m.node("GridSample", {"cone_tip", grid}, {output})
      .attr("mode", "bilinear")
      .attr("padding_mode", "border")
      .attr("align_corners", 0);
}

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

// kp_driving, kp_source -> "kp_weight" [cells, 21], how strongly each keypoint moves each coarse
// point, and "kp_pull" [1, 21, 2], how far each keypoint moves.
void addWeights(ModelBuilder& m, int crop, int coarse) {
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
      .node("Exp", {"kp_exponent"}, {"kp_weight"});
}

// kp_weight, `pull` -> prefix + "grid" [1, crop, crop, 2]: the coarse displacement resized to the crop
// and added to the identity grid.
std::string addGrid(ModelBuilder& m, const std::string& pull, const std::string& prefix) {
  m.node("MatMul", {"kp_weight", pull}, {prefix + "coarse_pull"})
      .node("Reshape", {prefix + "coarse_pull", "coarse_shape"}, {prefix + "coarse_field"})
      .node("Transpose", {prefix + "coarse_field"}, {prefix + "coarse_planes"})
      .attrInts("perm", {0, 3, 1, 2})
      .node("Resize", {prefix + "coarse_planes", "", "upscales"}, {prefix + "fine_planes"})
      .attr("mode", "linear")
      .node("Transpose", {prefix + "fine_planes"}, {prefix + "fine_field"})
      .attrInts("perm", {0, 2, 3, 1})
      .node("Add", {"base_grid", prefix + "fine_field"}, {prefix + "grid"});
  return prefix + "grid";
}

// The source cone, the warp and the mix back to the face, brightened by the pooled mean; returns the
// mouth render still to be composed.
std::string addWarpAndMix(ModelBuilder& m, const std::string& grid) {
  m.initializer("cone_gain", floatTensor({1, 3, 1, 1}, {0.5f, 0.5f, 0.5f}))
      .initializer("half", floatTensor({1}, {0.5f}))
      .initializer("first_start", int64Tensor({1}, {0}))
      .initializer("first_end", int64Tensor({1}, {3}))
      .initializer("second_end", int64Tensor({1}, {6}))
      .initializer("channel_axis", int64Tensor({1}, {1}))
      .initializer("pooled_gain", floatTensor({1}, {kPooledGain}))
      .node("Mul", {"P_rgb", "cone_gain"}, {"cone_half"})
      .node("Concat", {"P_rgb", "cone_half"}, {"cone_tip"})
      .attr("axis", 1);
  addGridSample(m, grid, "warped");
  m.node("Slice", {"warped", "first_start", "first_end", "channel_axis"}, {"warped_face"})
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

// The face warped by every keypoint but the lips: what the compose shows outside the mouth.
std::string addStillLips(ModelBuilder& m) {
  std::vector<float> keep(kKeypointCount, 1.0f);
  for (const int lip : kLipSites) keep[static_cast<size_t>(lip)] = 0.0f;
  m.initializer("lips_still", floatTensor({1, kKeypointCount, 1}, keep))
      .node("Mul", {"kp_pull", "lips_still"}, {"kp_pull_still"});
  addGridSample(m, addGrid(m, "kp_pull_still", "still_"), "still_warped");
  m.node("Slice", {"still_warped", "first_start", "first_end", "channel_axis"}, {"still_face"})
      .node("Add", {"still_face", "pooled_touch"}, {"still_unclipped"});
  return "still_unclipped";
}

}  // namespace

std::vector<int64_t> demoLipSites() {
  return {kLipSites.begin(), kLipSites.end()};
}

std::vector<uint8_t> demoDirector(int crop, int coarse) {
  ModelBuilder m;
  m.opset(17)
      .input("pooled64", {1, 64, 32, 32})
      .input("P_rgb", {1, 3, crop, crop})
      .input("kp_driving", {1, kKeypointCount, 3})
      .input("kp_source", {1, kKeypointCount, 3})
      .initializer("zero", floatTensor({}, {0.0f}))
      .initializer("one", floatTensor({}, {1.0f}));
  addWeights(m, crop, coarse);
  const std::string mouth = addWarpAndMix(m, addGrid(m, "kp_pull", ""));
  const std::string rest = addStillLips(m);
  const authoring::ComposeTail tail{.crop = crop,
                                    .lipRows = demoLipSites(),
                                    .radiusX = kComposeRadiusX,
                                    .radiusY = kComposeRadiusY,
                                    .edgeGain = kComposeEdgeGain};
  m.node("Clip", {authoring::addComposeTail(m, tail, "kp_driving", mouth, rest), "zero", "one"}, {"rgb"});
  m.output("rgb", {1, 3, crop, crop});
  return m.bytes();
}

}  // namespace ko::demo
