#include "tools/demo/demo_a2x.h"

#include <cmath>
#include <string>

#include "audio/audio.h"
#include "simd/half.h"
#include "tools/authoring/model_writer.h"
#include "tools/demo/demo_opening.h"

namespace ko::demo {
namespace {

using authoring::floatTensor;
using authoring::int64Tensor;
using authoring::ModelBuilder;

// A sounding frame's features lie 0.2 to 0.4 (mean square) from the silent row, which this gain maps
// to gates of 0.65 to 0.9: still below the rail, so what the features show of voicing still counts.
constexpr float kGateGain = 4.0f;
// One hidden value per frame: the smoothed gate.
constexpr int kHidden = 1;
// The positional table's rows; the gate needs no clock, so they are all zero.
constexpr int kPositionRows = 512;

// The band the attention mask allows, as 1 inside and 0 outside, and its size per row.
void addBand(ModelBuilder& m) {
  m.initializer("band_axes", int64Tensor({1}, {1}))
      .initializer("band_last_axis", int64Tensor({1}, {-1}))
      .node("Squeeze", {"attn", "band_axes"}, {"band_mask"})
      .node("Exp", {"band_mask"}, {"band"})
      .node("ReduceSum", {"band", "band_last_axis"}, {"band_size"})
      .attr("keepdims", 1);
}

// "feat" -> "gate" [1, L, 1]: tanh of the gain times the mean squared distance from the silent row,
// rounded to float16 as the stream stores feature rows so that silence lands on it exactly.
void addGate(ModelBuilder& m, const std::vector<float>& silenceRow) {
  std::vector<float> silent(silenceRow.size());
  for (size_t i = 0; i < silent.size(); ++i) silent[i] = half_bits::toFloat(f32ToF16(silenceRow[i]));
  m.initializer("gate_feat_shape", int64Tensor({3}, {1, -1, kFeatureRow}))
      .initializer("gate_silence", floatTensor({kFeatureRow}, silent))
      .initializer("gate_gain", floatTensor({}, {kGateGain}))
      .node("Reshape", {"feat", "gate_feat_shape"}, {"gate_feat"})
      .node("Sub", {"gate_feat", "gate_silence"}, {"gate_offset"})
      .node("Mul", {"gate_offset", "gate_offset"}, {"gate_offset_sq"})
      .node("ReduceMean", {"gate_offset_sq"}, {"gate_energy"})
      .attrInts("axes", {-1})
      .attr("keepdims", 1)
      .node("Mul", {"gate_energy", "gate_gain"}, {"gate_scaled"})
      .node("Tanh", {"gate_scaled"}, {"gate"});
}

std::vector<uint8_t> encoder(const std::vector<float>& silenceRow, int layers) {
  ModelBuilder m;
  m.opset(17)
      .input("feat", {1, "L", kFeatureLayers, kFeatureWidth})
      .input("pos_window", {1, "L", kHidden})
      .input("attn", {1, 1, "L", "L"});
  addGate(m, silenceRow);
  addBand(m);
  std::string x = "gate";
  for (int layer = 0; layer < layers; ++layer) {
    const std::string p = "smooth" + std::to_string(layer) + "_";
    m.node("MatMul", {"band", x}, {p + "sum"}).node("Div", {p + "sum", "band_size"}, {p + "mean"});
    x = p + "mean";
  }
  m.node("Add", {x, "pos_window"}, {"hidden"}).output("hidden", {1, "L", kHidden});
  return m.bytes();
}

// +1, -1 or 0 per keypoint value: the way the mouth moves it.
std::vector<float> directions(const std::vector<float>& reach) {
  std::vector<float> signs;
  for (const float value : reach) signs.push_back(value > 0.0f ? 1.0f : value < 0.0f ? -1.0f : 0.0f);
  return signs;
}

std::vector<uint8_t> decoder(const std::vector<float>& reach) {
  ModelBuilder m;
  // "prev" is fed by the stream but not needed: the state carries all the decoder remembers.
  m.opset(17)
      .input("ctx_t", {1, kHidden})
      .input("prev", {1, kKeypointValues})
      .input("h", {1, 1, kHidden})
      .initializer("dec_row_shape", int64Tensor({2}, {1, kHidden}))
      .initializer("dec_state_shape", int64Tensor({3}, {1, 1, kHidden}))
      .node("Reshape", {"h", "dec_row_shape"}, {"dec_prev_state"});
  addMouthOpening(m, "dec_", "ctx_t", "dec_prev_state", directions(reach));
  m.node("Reshape", {"dec_state", "dec_state_shape"}, {"h_out"})
      .output("m", {1, kKeypointValues})
      .output("h_out", {1, 1, kHidden});
  return m.bytes();
}

// Means 0 and each moving value's reach as its std; still values keep a unit std under a zero m.
std::vector<float> norm(const std::vector<float>& reach) {
  std::vector<float> table(kKeypointValues, 0.0f);
  for (const float value : reach) table.push_back(value != 0.0f ? std::abs(value) : 1.0f);
  return table;
}

}  // namespace

authoring::MotionDirRecipe demoA2xShape() {
  authoring::MotionDirRecipe shape;
  shape.net.h = kHidden;
  shape.net.window = 2;
  shape.net.left = 2;
  shape.net.layers = 2;
  return shape;
}

authoring::A2xMotionFiles demoA2xFiles(const std::vector<float>& silenceRow,
                                       const std::vector<float>& reach) {
  const authoring::MotionDirRecipe shape = demoA2xShape();
  authoring::A2xMotionFiles files;
  files.meta = authoring::a2xMetaText(shape);
  files.pos.assign(static_cast<size_t>(kPositionRows) * kHidden, 0.0f);
  files.norm = norm(reach);
  files.encoder = encoder(silenceRow, shape.net.layers);
  files.decoder = decoder(reach);
  return files;
}

}  // namespace ko::demo
