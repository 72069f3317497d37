#include "tools/authoring/motion_models.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "audio/frame_layout.h"
#include "audio/motion_layout.h"
#include "audio/window_norm.h"
#include "tools/authoring/bundle_builder.h"
#include "tools/authoring/model_writer.h"
#include "tools/authoring/speech_models.h"
#include "tools/authoring/weight_stream.h"

namespace ko::authoring {
namespace {

using motion::kBins;
using motion::kChunkFrames;
using motion::kFeatureValues;
using motion::kFftBins;
using motion::kFftSize;
using motion::kHops;
using motion::kKeypoints;
using motion::kMelBands;
using motion::kSpeechFeatures;
using motion::kStudentFrames;

constexpr int kMotionWidth = motion::row::kWidth;

// Shortest text that reads back as the same float.
std::string jsonNumber(float value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string motionMeta(const MotionModelRecipe& r) {
  if (!r.metaOverride.empty()) return r.metaOverride;
  std::string meta = "{\"nt\": " + std::to_string(r.nt) +
                     ", \"n_src\": " + std::to_string(r.nSrc < 0 ? r.nt : r.nSrc) +
                     ", \"n_emo\": " + std::to_string(r.nEmo) + ", \"s_bridge\": " + jsonNumber(r.sBridge);
  if (r.writeDeltaPitch) meta += ", \"delta_pitch\": " + jsonNumber(r.deltaPitch);
  return meta + "}\n";
}

std::vector<float> hannWindow() {
  std::vector<float> window(kFftSize);
  for (int n = 0; n < kFftSize; ++n) {
    window[n] = static_cast<float>(0.5 - 0.5 * std::cos(2 * std::numbers::pi * n / kFftSize));
  }
  return window;
}

double hzToMel(double hz) {
  return 2595.0 * std::log10(1.0 + hz / 700.0);
}

double melToHz(double mel) {
  return 700.0 * (std::pow(10.0, mel / 2595.0) - 1.0);
}

// Triangles on band edges evenly spaced in mel up to Nyquist, each evaluated at the bins' centre
// frequencies. Even the narrowest low band spans more than one bin spacing, so none comes out empty.
std::vector<float> melFilters() {
  const double nyquist = kSampleRate / 2.0, top = hzToMel(nyquist);
  std::vector<double> edges;
  for (int i = 0; i < kMelBands + 2; ++i) edges.push_back(melToHz(top * i / (kMelBands + 1)));
  std::vector<float> binmat(static_cast<size_t>(kFftBins) * kMelBands);
  for (int bin = 0; bin < kFftBins; ++bin) {
    const double hz = nyquist * bin / (kFftBins - 1);
    for (int band = 0; band < kMelBands; ++band) {
      const double rise = (hz - edges[band]) / (edges[band + 1] - edges[band]);
      const double fall = (edges[band + 2] - hz) / (edges[band + 2] - edges[band + 1]);
      binmat[static_cast<size_t>(bin) * kMelBands + band] =
          static_cast<float>(std::max(0.0, std::min(rise, fall)));
    }
  }
  return binmat;
}

// Bin logits of +-2 put the decoded angles well away from zero and apart from row to row.
std::vector<float> paramsRow(WeightStream& stream, float scaleReach) {
  std::vector<float> row(motion::params::kWidth);
  const auto fill = [&](int offset, int count, float centre, float reach) {
    for (int i = offset; i < offset + count; ++i) row[i] = centre + stream.uniform(reach);
  };
  fill(motion::params::kExp, kKeypointValues, 0.0f, 0.05f);
  fill(motion::params::kKp, kKeypointValues, 0.0f, 0.5f);
  fill(motion::params::kPitch, kBins, 0.0f, 2.0f);
  fill(motion::params::kRoll, kBins, 0.0f, 2.0f);
  fill(motion::params::kScale, 1, 1.3f, scaleReach);
  fill(motion::params::kT, 3, 0.0f, 0.1f);
  fill(motion::params::kYaw, kBins, 0.0f, 2.0f);
  return row;
}

// Every other value is bounded inside tanh's range, so a good share of the generator's output is
// clamped, on the smoothed values and on the expression alike; the rest never is.
std::vector<float> motionBounds(WeightStream& stream) {
  std::vector<float> lower, upper;
  for (int value = 0; value < kMotionWidth; ++value) {
    const float bound = value % 2 == 0 ? 0.6f : 2.0f;
    lower.push_back(-bound + stream.uniform(0.1f));
    upper.push_back(bound + stream.uniform(0.1f));
  }
  lower.insert(lower.end(), upper.begin(), upper.end());
  return lower;
}

std::vector<float> sourceRows(WeightStream& stream, int rows) {
  std::vector<float> table;
  for (int row = 0; row < rows; ++row) {
    const std::vector<float> params = paramsRow(stream, 0.3f);
    table.insert(table.end(), params.begin(), params.end());
  }
  return table;
}

}  // namespace

std::vector<uint8_t> speechStudent(uint32_t seed) {
  WeightStream stream(seed ^ 0xC2B2AE35u);
  const int pair = 2 * kMelBands;
  ModelBuilder m;
  m.opset(17)
      .input("mel", {1, kMelBands, kHops})
      .initializer("student_gain", floatTensor({}, {0.1f}))
      .initializer("student_offset", floatTensor({}, {1.0f}))
      .initializer("student_axis", int64Tensor({1}, {1}))
      .initializer("student_first", int64Tensor({1}, {0}))
      .initializer("student_second", int64Tensor({1}, {1}))
      .initializer("student_first_end", int64Tensor({1}, {kStudentFrames}))
      .initializer("student_second_end", int64Tensor({1}, {kStudentFrames + 1}))
      .initializer("student_w", floatTensor({pair, kSpeechFeatures}, stream.matrix(pair, kSpeechFeatures)))
      .initializer("student_b", floatTensor({kSpeechFeatures}, stream.uniform(kSpeechFeatures, 0.1f)))
      .node("Transpose", {"mel"}, {"student_frames"})
      .attrInts("perm", {0, 2, 1})
      .node("Mul", {"student_frames", "student_gain"}, {"student_scaled"})
      .node("Add", {"student_scaled", "student_offset"}, {"student_x"})
      .node("Slice", {"student_x", "student_first", "student_first_end", "student_axis"}, {"student_now"})
      .node("Slice", {"student_x", "student_second", "student_second_end", "student_axis"}, {"student_next"})
      .node("Concat", {"student_now", "student_next"}, {"student_pairs"})
      .attr("axis", -1)
      .node("MatMul", {"student_pairs", "student_w"}, {"student_product"})
      .node("Add", {"student_product", "student_b"}, {"student_pre"})
      .node("Tanh", {"student_pre"}, {"feat"})
      .output("feat", {1, kStudentFrames, kSpeechFeatures});
  return m.bytes();
}

std::vector<uint8_t> motionGenerator(uint32_t seed) {
  WeightStream stream(seed ^ 0x27D4EB2Fu);
  std::vector<float> mixing = stream.uniform(static_cast<size_t>(kChunkFrames) * kChunkFrames, 0.05f);
  for (int frame = 0; frame < kChunkFrames; ++frame)
    mixing[static_cast<size_t>(frame) * (kChunkFrames + 1)] += 1.0f;
  // Unit-variance features and conditioning then reach tanh with a deviation of about one.
  ModelBuilder m;
  m.opset(17)
      .input("kp_cond", {1, kMotionWidth})
      .input("aud_cond", {1, kChunkFrames, kFeatureValues})
      .initializer("gen_mix", floatTensor({kChunkFrames, kChunkFrames}, mixing))
      .initializer("gen_w1", floatTensor({kFeatureValues, kMotionWidth},
                                         stream.matrix(kFeatureValues, kMotionWidth, 0.8f)))
      .initializer("gen_w2",
                   floatTensor({kMotionWidth, kMotionWidth}, stream.matrix(kMotionWidth, kMotionWidth, 0.6f)))
      .initializer("gen_b", floatTensor({kMotionWidth}, stream.uniform(kMotionWidth, 0.1f)))
      .node("MatMul", {"aud_cond", "gen_w1"}, {"gen_audio"})
      .node("MatMul", {"gen_mix", "gen_audio"}, {"gen_mixed"})
      .node("MatMul", {"kp_cond", "gen_w2"}, {"gen_cond"})
      .node("Add", {"gen_mixed", "gen_cond"}, {"gen_sum"})
      .node("Add", {"gen_sum", "gen_b"}, {"gen_pre"})
      .node("Tanh", {"gen_pre"}, {"pred"})
      .output("pred", {1, kChunkFrames, kMotionWidth});
  return m.bytes();
}

std::vector<uint8_t> stitchNetwork(uint32_t seed) {
  WeightStream stream(seed ^ 0x165667B1u);
  const int pair = 2 * kKeypointValues;
  ModelBuilder m;
  m.opset(17)
      .input("kp_source", {1, kKeypointValues})
      .input("kp_driving", {1, kKeypointValues})
      .initializer("stitch_w", floatTensor({pair, kKeypointValues}, stream.matrix(pair, kKeypointValues)))
      .initializer("stitch_reach", floatTensor({}, {0.1f}))
      .initializer("stitch_shape", int64Tensor({3}, {1, kKeypoints, 3}))
      .node("Concat", {"kp_source", "kp_driving"}, {"stitch_pair"})
      .attr("axis", 1)
      .node("MatMul", {"stitch_pair", "stitch_w"}, {"stitch_pre"})
      .node("Tanh", {"stitch_pre"}, {"stitch_unit"})
      .node("Mul", {"stitch_unit", "stitch_reach"}, {"stitch_delta"})
      .node("Add", {"kp_driving", "stitch_delta"}, {"stitch_flat"})
      .node("Reshape", {"stitch_flat", "stitch_shape"}, {"kp_stitched"})
      .output("kp_stitched", {1, kKeypoints, 3});
  return m.bytes();
}

void writeMotionModelDir(const std::string& dir, const MotionModelRecipe& r) {
  WeightStream stream(r.seed ^ 0x61C88647u);
  const std::vector<float> fmean = stream.uniform(kSpeechFeatures, 0.1f);
  std::vector<float> fstd = stream.uniform(kSpeechFeatures, 0.5f);
  for (float& deviation : fstd) deviation += 1.0f;
  const std::vector<float> emotions =
      stream.uniform(static_cast<size_t>(motion::kEmotionValues) * r.nEmo, 1.0f);
  const std::vector<float> character = paramsRow(stream, 0.05f);
  const std::vector<float> sc = stream.uniform(motion::kScValues, 1.0f);
  const std::vector<float> eyeOpen = stream.uniform(motion::kEyeOpenValues, 1.0f);
  const std::vector<float> eyeBall = stream.uniform(motion::kEyeBallValues, 1.0f);
  const std::vector<float> bounds = motionBounds(stream);
  const std::vector<float> sources = sourceRows(stream, r.nSrc < 0 ? r.nt : r.nSrc);
  writeBytes(dir + "/meta.json", motionMeta(r));
  writeBytes(dir + "/hubert_stft_window.bin", memberBytes(hannWindow()));
  writeBytes(dir + "/hubert_stft_binmat.bin", memberBytes(melFilters()));
  writeBytes(dir + "/hubert_fmean.bin", memberBytes(fmean));
  writeBytes(dir + "/hubert_fstd.bin", memberBytes(fstd));
  writeBytes(dir + "/emo.bin", memberBytes(emotions));
  writeBytes(dir + "/ch_xs_info.bin", memberBytes(character));
  writeBytes(dir + "/ch_sc.bin", memberBytes(sc));
  writeBytes(dir + "/ch_eye_open.bin", memberBytes(eyeOpen));
  writeBytes(dir + "/ch_eye_ball.bin", memberBytes(eyeBall));
  writeBytes(dir + "/v_min_max.bin", memberBytes(bounds));
  writeBytes(dir + "/src_xs_info.bin", memberBytes(sources));
  writeBytes(dir + "/xs_target.bin", memberBytes(idleKeypoints(r.nt)));
  writeBytes(dir + "/hubert_student.onnx", memberBytes(speechStudent(r.seed)));
  writeBytes(dir + "/lmdm.onnx", memberBytes(motionGenerator(r.seed)));
  writeBytes(dir + "/stitch.onnx", memberBytes(stitchNetwork(r.seed)));
}

}  // namespace ko::authoring
