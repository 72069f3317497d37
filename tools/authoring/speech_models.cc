#include "tools/authoring/speech_models.h"

#include <cmath>
#include <cstddef>

#include "simd/half.h"
#include "tools/authoring/bundle_builder.h"
#include "tools/authoring/model_writer.h"
#include "tools/authoring/weight_stream.h"

namespace ko::authoring {
namespace {

constexpr int32_t kFloat16 = 10;  // TensorProto.DataType FLOAT16

struct SpeechWeights {
  std::vector<float> kernel;  // [640, 1, 160]
  std::vector<float> w1;      // [640, headWidth]
  std::vector<float> w2;      // [headWidth, 9216]
  std::vector<float> b2;      // [9216]
};

// The trunk, the head and the 8 s encoder of one recipe draw these in the same order, so the pair
// reproduces the 8 s network exactly.
SpeechWeights speechWeights(const SpeechRecipe& r) {
  WeightStream stream(r.seed);
  SpeechWeights w;
  // Zero-sum channels ignore a waveform's offset; unit norm makes a channel over white noise of
  // deviation r come out with deviation r, which the local deviation then divides away.
  for (int channel = 0; channel < kTrunkChannels; ++channel) {
    std::vector<float> taps = stream.uniform(kTrunkKernel, 1.0f);
    double mean = 0, norm = 0;
    for (float tap : taps) mean += tap;
    mean /= kTrunkKernel;
    for (float tap : taps) norm += (tap - mean) * (tap - mean);
    norm = std::sqrt(norm);
    for (float tap : taps) w.kernel.push_back(static_cast<float>((tap - mean) / norm));
  }
  // tanh of a unit normal has deviation about 0.63; a gain of 1.5 brings the hidden layer back to ~1.
  w.w1 = stream.matrix(kTrunkChannels, r.headWidth, 1.5f);
  w.w2 = stream.matrix(r.headWidth, kFeatureRow);
  w.b2 = stream.uniform(kFeatureRow, 0.1f);
  return w;
}

// "waveform" [1, N] -> [1, 640, steps] float, before the float16 rounding.
std::string addTrunk(ModelBuilder& m, const SpeechWeights& w, const std::string& waveform) {
  const std::vector<int64_t> kernel{kTrunkKernel}, stride{kTrunkStepSamples};
  m.initializer("trunk_wave_shape", int64Tensor({3}, {1, 1, -1}))
      .initializer("trunk_kernel", floatTensor({kTrunkChannels, 1, kTrunkKernel}, w.kernel))
      .initializer("trunk_mean_kernel",
                   floatTensor({1, 1, kTrunkKernel}, std::vector<float>(kTrunkKernel, 1.0f / kTrunkKernel)))
      .initializer("trunk_eps", floatTensor({}, {1e-6f}))
      .node("Reshape", {waveform, "trunk_wave_shape"}, {"trunk_wave"})
      .node("Mul", {"trunk_wave", "trunk_wave"}, {"trunk_wave_sq"})
      .node("Conv", {"trunk_wave", "trunk_kernel"}, {"trunk_conv"})
      .attrInts("kernel_shape", kernel)
      .attrInts("strides", stride)
      .node("Conv", {"trunk_wave", "trunk_mean_kernel"}, {"trunk_mean"})
      .attrInts("kernel_shape", kernel)
      .attrInts("strides", stride)
      .node("Conv", {"trunk_wave_sq", "trunk_mean_kernel"}, {"trunk_mean_sq"})
      .attrInts("kernel_shape", kernel)
      .attrInts("strides", stride)
      .node("Mul", {"trunk_mean", "trunk_mean"}, {"trunk_mean_squared"})
      .node("Sub", {"trunk_mean_sq", "trunk_mean_squared"}, {"trunk_var_rounded"})
      // Cancellation can leave a flat step's variance a hair below zero.
      .node("Relu", {"trunk_var_rounded"}, {"trunk_var"})
      .node("Add", {"trunk_var", "trunk_eps"}, {"trunk_var_eps"})
      .node("Sqrt", {"trunk_var_eps"}, {"trunk_dev"})
      .node("Div", {"trunk_conv", "trunk_dev"}, {"trunk_scaled"})
      .node("Tanh", {"trunk_scaled"}, {"trunk_tanh"});
  return "trunk_tanh";
}

// "frames" [rows, 640] -> `out` [rows, 9216].
void addHead(ModelBuilder& m, const SpeechRecipe& r, const SpeechWeights& w, const std::string& frames,
             const std::string& out) {
  m.initializer("head_w1", floatTensor({kTrunkChannels, r.headWidth}, w.w1))
      .initializer("head_w2", floatTensor({r.headWidth, kFeatureRow}, w.w2))
      .initializer("head_b2", floatTensor({kFeatureRow}, w.b2))
      .node("MatMul", {frames, "head_w1"}, {"head_pre"})
      .node("Tanh", {"head_pre"}, {"head_hidden"})
      .node("MatMul", {"head_hidden", "head_w2"}, {"head_product"})
      .node("Add", {"head_product", "head_b2"}, {out});
}

// value -> float16 -> float, as the real encoder's float16 stages store it.
std::string addHalfRounding(ModelBuilder& m, const std::string& value) {
  m.node("Cast", {value}, {value + "_f16"})
      .attr("to", kFloat16)
      .node("Cast", {value + "_f16"}, {value + "_rounded"})
      .attr("to", onnx::kFloat);
  return value + "_rounded";
}

std::string jsonBool(bool value) {
  return value ? "true" : "false";
}

}  // namespace

std::vector<uint8_t> speechTrunk(const SpeechRecipe& r) {
  const SpeechWeights w = speechWeights(r);
  ModelBuilder m;
  // Without a fixed input length ONNX Runtime cannot infer the step count either.
  m.opset(17).input("input_values", {1, r.trunkDeclaresLength ? Dim(kShortWindowSamples) : Dim("S")});
  const std::string trunk = addTrunk(m, w, "input_values");
  m.node("Cast", {trunk}, {"trunk_out"}).attr("to", kFloat16);
  const Dim steps = r.trunkDeclaresLength ? Dim(trunkSteps(kShortWindowSamples)) : Dim("T");
  m.output("trunk_out", {1, kTrunkChannels, steps}, kFloat16);
  return m.bytes();
}

std::vector<uint8_t> speechHead(const SpeechRecipe& r) {
  const SpeechWeights w = speechWeights(r);
  ModelBuilder m;
  m.opset(17).input("x", {r.headRows, kTrunkChannels});
  addHead(m, r, w, "x", "emb");
  m.output("emb", {r.headRows, kFeatureRow});
  return m.bytes();
}

std::vector<uint8_t> speechEncoder8s(const SpeechRecipe& r) {
  const SpeechWeights w = speechWeights(r);
  const int steps = trunkSteps(kLegacyWindowSamples);
  ModelBuilder m;
  m.opset(17)
      .input("input_values", {1, kLegacyWindowSamples})
      .initializer("enc_steps_shape", int64Tensor({4}, {1, kTrunkChannels, 1, steps}))
      .initializer("enc_frame_sizes", int64Tensor({4}, {1, kTrunkChannels, 1, kLegacyWindowFrames}))
      .initializer("enc_columns_shape", int64Tensor({2}, {kTrunkChannels, kLegacyWindowFrames}))
      .initializer("enc_layers_shape",
                   int64Tensor({3}, {kLegacyWindowFrames, kFeatureLayers, kFeatureWidth}));
  const std::string trunk = addHalfRounding(m, addTrunk(m, w, "input_values"));
  // A 4-D view with a unit height: ONNX Runtime's linear Resize works on the two innermost axes.
  m.node("Reshape", {trunk, "enc_steps_shape"}, {"enc_steps"})
      .node("Resize", {"enc_steps", "", "", "enc_frame_sizes"}, {"enc_frames"})
      .attr("mode", "linear")
      .attr("coordinate_transformation_mode", "align_corners");
  const std::string frames = addHalfRounding(m, "enc_frames");
  m.node("Reshape", {frames, "enc_columns_shape"}, {"enc_columns"})
      .node("Transpose", {"enc_columns"}, {"enc_rows"})
      .attrInts("perm", {1, 0});
  addHead(m, r, w, "enc_rows", "enc_emb");
  m.node("Reshape", {"enc_emb", "enc_layers_shape"}, {"enc_by_frame"})
      .node("Transpose", {"enc_by_frame"}, {"audio_emb"})
      .attrInts("perm", {1, 0, 2})
      .output("audio_emb", {kFeatureLayers, kLegacyWindowFrames, kFeatureWidth});
  return m.bytes();
}

std::vector<float> speechSilenceRow(const SpeechRecipe& r) {
  return speechWeights(r).b2;
}

std::string writeSpeechEncoderFiles(const std::string& dir, const SpeechRecipe& recipe,
                                    const SpeechPairNames& pair) {
  const std::string path = dir + "/w2v_8s.onnx";
  writeBytes(path, memberBytes(speechEncoder8s(recipe)));
  if (!pair.trunk.empty()) writeBytes(dir + "/" + pair.trunk, memberBytes(speechTrunk(recipe)));
  if (!pair.head.empty()) writeBytes(dir + "/" + pair.head, memberBytes(speechHead(recipe)));
  return path;
}

std::vector<uint8_t> a2xEncoder(const A2xRecipe& r) {
  WeightStream stream(r.seed);
  const int h = r.h;
  ModelBuilder m;
  m.opset(17)
      .input("feat", {1, "L", kFeatureLayers, kFeatureWidth})
      .input("pos_window", {1, "L", h})
      .input("attn", {1, 1, "L", "L"})
      .initializer("enc_feat_shape", int64Tensor({3}, {1, -1, kFeatureRow}))
      .initializer("enc_in", floatTensor({kFeatureRow, h}, stream.matrix(kFeatureRow, h)))
      .initializer("enc_mask_axes", int64Tensor({1}, {1}))
      .initializer("enc_score_scale", floatTensor({}, {1.0f / std::sqrt(static_cast<float>(h))}))
      .node("Reshape", {"feat", "enc_feat_shape"}, {"enc_feat"})
      .node("MatMul", {"enc_feat", "enc_in"}, {"enc_proj"})
      .node("Add", {"enc_proj", "pos_window"}, {"enc_x0"})
      .initializer("enc_v_begin", int64Tensor({1}, {0}))
      .initializer("enc_v_end", int64Tensor({1}, {h}))
      .initializer("enc_sum_end", int64Tensor({1}, {h + 1}))
      .initializer("enc_sum_end_one", int64Tensor({1}, {1}))
      .initializer("enc_last_axis", int64Tensor({1}, {-1}))
      .initializer("enc_zero", floatTensor({}, {0.0f}))
      .initializer("enc_one", floatTensor({}, {1.0f}))
      .node("Squeeze", {"attn", "enc_mask_axes"}, {"enc_mask"})
      .node("Slice", {"pos_window", "enc_v_begin", "enc_sum_end_one", "enc_last_axis"}, {"enc_pos_column"})
      .node("Mul", {"enc_pos_column", "enc_zero"}, {"enc_zero_column"})
      .node("Add", {"enc_zero_column", "enc_one"}, {"enc_ones"});
  std::string x = "enc_x0";
  for (int layer = 0; layer < r.layers; ++layer) {
    const std::string p = "enc" + std::to_string(layer) + "_";
    const bool last = layer + 1 == r.layers;
    const std::string next = last ? "hidden" : p + "out";
    for (const char* weight : {"wq", "wk", "wv", "wo"}) {
      m.initializer(p + weight, floatTensor({h, h}, stream.matrix(h, h)));
    }
    m.node("MatMul", {x, p + "wq"}, {p + "q"})
        .node("MatMul", {x, p + "wk"}, {p + "k"})
        .node("MatMul", {x, p + "wv"}, {p + "v"})
        .node("Transpose", {p + "k"}, {p + "kt"})
        .attrInts("perm", {0, 2, 1})
        .node("MatMul", {p + "q", p + "kt"}, {p + "dot"})
        .node("Mul", {p + "dot", "enc_score_scale"}, {p + "scores"})
        .node("Add", {p + "scores", "enc_mask"}, {p + "masked"})
        .node("ReduceMax", {p + "masked"}, {p + "peak"})
        .attrInts("axes", {-1})
        .attr("keepdims", 1)
        .node("Sub", {p + "masked", p + "peak"}, {p + "shifted"})
        .node("Exp", {p + "shifted"}, {p + "weights"})
        .node("Concat", {p + "v", "enc_ones"}, {p + "v1"})
        .attr("axis", -1)
        .node("MatMul", {p + "weights", p + "v1"}, {p + "summed"})
        .node("Slice", {p + "summed", "enc_v_begin", "enc_v_end", "enc_last_axis"}, {p + "numerator"})
        .node("Slice", {p + "summed", "enc_v_end", "enc_sum_end", "enc_last_axis"}, {p + "denominator"})
        .node("Div", {p + "numerator", p + "denominator"}, {p + "attended"})
        .node("MatMul", {p + "attended", p + "wo"}, {p + "mixed"})
        .node("Add", {x, p + "mixed"}, {p + "residual"})
        .node("Tanh", {p + "residual"}, {next});
    x = next;
  }
  if (r.layers <= 0) m.node("Identity", {x}, {"hidden"});
  m.output("hidden", {1, "L", h});
  if (r.wn) {
    m.initializer("enc_wn", floatTensor({h, 1}, stream.matrix(h, 1)))
        .initializer("enc_wn_shape", int64Tensor({2}, {1, -1}))
        .node("MatMul", {"hidden", "enc_wn"}, {"enc_wn_column"})
        .node("Reshape", {"enc_wn_column", "enc_wn_shape"}, {"wn"})
        .output("wn", {1, "L"});
  }
  return m.bytes();
}

std::vector<uint8_t> recurrentStep(const RecurrentStepShape& shape) {
  WeightStream stream(shape.seed);
  const int c = shape.contextWidth, h = shape.stateWidth, k = kKeypointValues;
  // Three inputs feed the state; a joint fan-in keeps their sum inside tanh's working range.
  const auto share = [&](int width) {
    return std::sqrt(static_cast<float>(width) / static_cast<float>(c + h + k));
  };
  const float outGain = std::sqrt(0.5f);
  const std::vector<Dim> stateDims = shape.stateRank3 ? std::vector<Dim>{1, 1, h} : std::vector<Dim>{1, h};
  std::vector<int64_t> stateShape(stateDims.size(), 1);
  stateShape.back() = h;
  ModelBuilder m;
  m.opset(17)
      .input(shape.context, {1, c})
      .input("prev", {1, k})
      .input("h", stateDims)
      .initializer("dec_row_shape", int64Tensor({2}, {1, h}))
      .initializer("dec_state_shape", int64Tensor({static_cast<int64_t>(stateShape.size())}, stateShape))
      .initializer("dec_a", floatTensor({c, h}, stream.matrix(c, h, share(c))))
      .initializer("dec_b", floatTensor({k, h}, stream.matrix(k, h, share(k))))
      .initializer("dec_c", floatTensor({h, h}, stream.matrix(h, h, share(h))))
      .initializer("dec_bias", floatTensor({h}, stream.uniform(static_cast<size_t>(h), 0.1f)))
      .initializer("dec_d", floatTensor({h, k}, stream.matrix(h, k, outGain)))
      .initializer("dec_e", floatTensor({k, k}, stream.matrix(k, k, outGain)))
      .node("Reshape", {"h", "dec_row_shape"}, {"dec_h"})
      .node("MatMul", {shape.context, "dec_a"}, {"dec_from_ctx"})
      .node("MatMul", {"prev", "dec_b"}, {"dec_from_prev"})
      .node("MatMul", {"dec_h", "dec_c"}, {"dec_from_state"})
      .node("Add", {"dec_from_ctx", "dec_from_prev"}, {"dec_sum2"})
      .node("Add", {"dec_sum2", "dec_from_state"}, {"dec_sum3"})
      .node("Add", {"dec_sum3", "dec_bias"}, {"dec_pre"})
      .node("Tanh", {"dec_pre"}, {"dec_hn"})
      .node("MatMul", {"dec_hn", "dec_d"}, {"dec_m_state"})
      .node("MatMul", {"prev", "dec_e"}, {"dec_m_prev"})
      .node("Add", {"dec_m_state", "dec_m_prev"}, {"dec_m_pre"})
      .node("Tanh", {"dec_m_pre"}, {"m"})
      .node("Reshape", {"dec_hn", "dec_state_shape"}, {shape.stateOut})
      .output("m", {1, k})
      .output(shape.stateOut, stateDims);
  return m.bytes();
}

std::vector<uint8_t> a2xDecoder(const A2xRecipe& r) {
  // Its own stream: the decoder's weights must not repeat the encoder's.
  return recurrentStep({"ctx_t", r.h, r.h, true, "h_out", r.seed ^ 0x9E3779B9u});
}

std::vector<uint8_t> fcaStream(uint32_t seed) {
  return recurrentStep({"cond", kFcaCondValues, kFcaStateValues, false, "hn", seed});
}

void writeFcaStream(const std::string& path, uint32_t seed) {
  writeBytes(path, memberBytes(fcaStream(seed)));
}

std::vector<float> idleKeypoints(int rows) {
  std::vector<float> idle;
  for (int row = 0; row < rows; ++row) {
    for (int value = 0; value < kKeypointValues; ++value) {
      idle.push_back(0.8f * std::sin(0.7f * static_cast<float>(row) + 0.37f * static_cast<float>(value)));
    }
  }
  return idle;
}

std::string a2xMetaText(const MotionDirRecipe& r) {
  if (!r.metaOverride.empty()) return r.metaOverride;
  std::string meta = "{\"h\": " + std::to_string(r.net.h);
  if (r.net.window >= 0) meta += ", \"window\": " + std::to_string(r.net.window);
  if (r.net.left >= 0) meta += ", \"left\": " + std::to_string(r.net.left);
  meta += ", \"layers\": " + std::to_string(r.net.layers) + ", \"width\": " + jsonBool(r.metaWidth) +
          ", \"silence_prime\": " + std::to_string(r.silencePrime) + "}\n";
  return meta;
}

void writeA2xMotionFiles(const std::string& dir, const A2xMotionFiles& files) {
  writeBytes(dir + "/a2x_meta.json", files.meta);
  writeBytes(dir + "/a2x_pos.f32", memberBytes(files.pos));
  writeBytes(dir + "/a2x_norm.f32", memberBytes(files.norm));
  writeBytes(dir + "/xs_target.bin", memberBytes(files.xsTarget));
  writeBytes(dir + "/a2x_enc_stream.onnx", memberBytes(files.encoder));
  writeBytes(dir + "/a2x_dec.onnx", memberBytes(files.decoder));
}

void writeA2xMotionDir(const std::string& dir, const MotionDirRecipe& r) {
  WeightStream stream(r.net.seed ^ 0x85EBCA6Bu);
  A2xMotionFiles files;
  files.meta = a2xMetaText(r);
  files.pos = stream.uniform(static_cast<size_t>(r.posRows) * static_cast<size_t>(r.net.h), 0.8f);
  files.norm = stream.uniform(kKeypointValues, 0.2f);
  for (int i = 0; i < kKeypointValues; ++i) files.norm.push_back(1.0f + stream.uniform(0.5f));
  files.xsTarget = idleKeypoints(r.nt);
  files.encoder = a2xEncoder(r.net);
  files.decoder = a2xDecoder(r.net);
  writeA2xMotionFiles(dir, files);
}

}  // namespace ko::authoring
