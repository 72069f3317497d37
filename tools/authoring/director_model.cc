#include "tools/authoring/director_model.h"

#include <string>

namespace ko::authoring {
namespace {

// Pixel-centre coordinates in [-1, 1], x then y, as GridSample with align_corners 0 reads them.
TensorData identityGrid(int crop) {
  std::vector<float> grid;
  for (int y = 0; y < crop; ++y) {
    for (int x = 0; x < crop; ++x) {
      grid.push_back((2.0f * x + 1.0f) / crop - 1.0f);
      grid.push_back((2.0f * y + 1.0f) / crop - 1.0f);
    }
  }
  return floatTensor({1, crop, crop, 2}, grid);
}

// kd, ks -> "grid": the identity grid shifted by gain · the mean keypoint motion in x and y.
void addGrid(ModelBuilder& m, const DirectorRecipe& r, const std::string& kd, const std::string& ks) {
  m.initializer("base_grid", identityGrid(r.crop))
      .initializer("warp_gain", floatTensor({1}, {r.warpGain}))
      .initializer("xy_start", int64Tensor({1}, {0}))
      .initializer("xy_end", int64Tensor({1}, {2}))
      .initializer("xy_axis", int64Tensor({1}, {2}))
      .initializer("shift_shape", int64Tensor({4}, {-1, 1, 1, 2}))
      .node("Sub", {kd, ks}, {"kp_motion"})
      .node("ReduceMean", {"kp_motion"}, {"mean_motion"})
      .attrInts("axes", {1})
      .attr("keepdims", 1)
      .node("Slice", {"mean_motion", "xy_start", "xy_end", "xy_axis"}, {"motion_xy"})
      .node("Mul", {"motion_xy", "warp_gain"}, {"shift"})
      .node("Reshape", {"shift", "shift_shape"}, {"shift4"})
      .node("Add", {"base_grid", "shift4"}, {"grid"});
}

// "source" [B, 3, crop, crop] -> cone -> warp -> mix -> brightened by the pooled mean; returns the
// name of the result, still to be clipped.
std::string addWarpAndMix(ModelBuilder& m, const DirectorRecipe& r, const std::string& source,
                          const std::string& pooled) {
  m.initializer("cone_gain", floatTensor({1, 3, 1, 1}, {0.5f, -1.0f, 2.0f}))
      .initializer("first_start", int64Tensor({1}, {0}))
      .initializer("first_end", int64Tensor({1}, {3}))
      .initializer("second_end", int64Tensor({1}, {6}))
      .initializer("channel_axis", int64Tensor({1}, {1}))
      .initializer("mix_gain", floatTensor({1}, {0.25f}))
      .initializer("pooled_gain", floatTensor({1}, {0.1f}))
      .initializer("zero", floatTensor({}, {0.0f}))
      .initializer("one", floatTensor({}, {1.0f}))
      .node("Mul", {source, "cone_gain"}, {"cone_scaled"})
      .node("Concat", {source, "cone_scaled"}, {"cone_tip"})
      .attr("axis", 1)
      .node("GridSample", {"cone_tip", "grid"}, {"warped"})
      .attr("mode", "bilinear")
      .attr("padding_mode", "border")
      .attr("align_corners", 0)
      .node("Slice", {"warped", "first_start", "first_end", "channel_axis"}, {"warped_prior"})
      .node("Slice", {"warped", "first_end", "second_end", "channel_axis"}, {"warped_scaled"})
      .node("Mul", {"warped_scaled", "mix_gain"}, {"mixed_in"})
      .node("Add", {"warped_prior", "mixed_in"}, {"mixed"})
      .node("ReduceMean", {pooled}, {"pooled_mean"})
      .attrInts("axes", {1, 2, 3})
      .attr("keepdims", 1)
      .node("Mul", {"pooled_mean", "pooled_gain"}, {"brightening"})
      .node("Add", {"mixed", "brightening"}, {"unclipped"});
  if (!r.secondPriorConcat) return "unclipped";
  m.node("Concat", {source, source}, {"prior_twice"}).attr("axis", 1);
  m.node("ReduceMean", {"prior_twice"}, {"prior_level"}).attrInts("axes", {1, 2, 3}).attr("keepdims", 1);
  m.node("Add", {"unclipped", "prior_level"}, {"unclipped_twice"});
  return "unclipped_twice";
}

// value + 0 · sum(pooled reshaped to [kd[0][0][0], -1]): a run-time failure for kd[0][0][0] = 7.
std::string addFailingProbe(ModelBuilder& m, const std::string& kd, const std::string& pooled,
                            const std::string& value) {
  m.initializer("probe_start", int64Tensor({3}, {0, 0, 0}))
      .initializer("probe_end", int64Tensor({3}, {1, 1, 1}))
      .initializer("probe_axes", int64Tensor({3}, {0, 1, 2}))
      .initializer("probe_shape", int64Tensor({1}, {1}))
      .initializer("probe_rest", int64Tensor({1}, {-1}))
      .node("Slice", {kd, "probe_start", "probe_end", "probe_axes"}, {"kp_probe"})
      .node("Cast", {"kp_probe"}, {"kp_probe_i64"})
      .attr("to", 7)
      .node("Reshape", {"kp_probe_i64", "probe_shape"}, {"probe_dim"})
      .node("Concat", {"probe_dim", "probe_rest"}, {"probe_target"})
      .attr("axis", 0)
      .node("Reshape", {pooled, "probe_target"}, {"pooled_probed"})
      .node("ReduceSum", {"pooled_probed"}, {"probe_sum"})
      .attr("keepdims", 0)
      .node("Mul", {"probe_sum", "zero"}, {"probe_zero"})
      .node("Add", {value, "probe_zero"}, {"probed"});
  return "probed";
}

}  // namespace

std::vector<uint8_t> directorModel(const DirectorRecipe& r) {
  ModelBuilder m;
  m.opset(17);
  const Dim b = r.batch;
  std::string last;
  if (r.featSynth) {
    const float scale = static_cast<float>(r.crop) / 64.0f;
    m.input("fs_red", {b, 64, 64, 64})
        .input("pooled", {b, 64, 32, 32})
        .input("kd", {b, r.kpRows, 3})
        .input("ks", {b, r.kpRows, 3})
        .initializer("fs_start", int64Tensor({1}, {0}))
        .initializer("fs_end", int64Tensor({1}, {3}))
        .initializer("fs_axis", int64Tensor({1}, {1}))
        .initializer("fs_scales", floatTensor({4}, {1.0f, 1.0f, scale, scale}))
        .node("Slice", {"fs_red", "fs_start", "fs_end", "fs_axis"}, {"fs_rgb"})
        .node("Resize", {"fs_rgb", "", "fs_scales"}, {"fs_source"})
        .attr("mode", "linear");
    addGrid(m, r, "kd", "ks");
    last = addWarpAndMix(m, r, "fs_source", "pooled");
    if (r.runFailsAtSeven) last = addFailingProbe(m, "kd", "pooled", last);
    if (r.composeTail) last = addComposeTail(m, {.crop = r.crop}, "kd", last, "warped_prior");
  } else {
    m.input("pooled64", {b, 64, 32, 32})
        .input("P_rgb", {b, 3, r.crop, r.crop})
        .input("kp_driving", {b, r.kpRows, 3})
        .input("kp_source", {b, r.kpRows, 3});
    addGrid(m, r, "kp_driving", "kp_source");
    last = addWarpAndMix(m, r, "P_rgb", "pooled64");
    if (r.runFailsAtSeven) last = addFailingProbe(m, "kp_driving", "pooled64", last);
    if (r.composeTail) last = addComposeTail(m, {.crop = r.crop}, "kp_driving", last, "warped_prior");
  }
  m.node("Clip", {last, "zero", "one"}, {"rgb"});
  m.output("rgb", {b, 3, r.crop, r.crop});
  return m.bytes();
}

}  // namespace ko::authoring
