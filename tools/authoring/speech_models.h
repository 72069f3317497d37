// Small synthetic networks that stand in for the speech stack in tests, benchmarks and the demo: the
// speech encoder (an 8 s network and the 2 s trunk and per-frame head it can be rebuilt from) and the
// streaming audio-to-keypoint pair with the motion directory that carries it. Weights come from a
// seeded std::mt19937 read through its raw output, so a recipe names the same network everywhere.
//
// The speech trunk, on a mono waveform x:
//   c_t = conv(x; kernel 160, stride 80, 640 zero-sum channels), step t covering samples 80t..80t+159
//   r_t = sqrt(max(mean_t(x^2) - mean_t(x)^2, 0) + 1e-6)
//   trunk_t = float16(tanh(c_t / r_t))
// Zero-sum kernels and the local deviation make a step blind to any positive affine change of the
// waveform, so windows normalised by their own mean and variance agree where they overlap. The 8 s
// encoder runs the trunk on 128000 samples (1599 steps), resizes the steps linearly with aligned
// corners to 200 frames (frame k at step k * 1598 / 199), rounds them to float16 and applies the head
// (640 -> tanh(headWidth) -> 9216) per frame; its output [12, 200, 768] holds frame k's 9216 values as
// 12 rows of 768, row l at l * 153600 + k * 768.
//
// The a2x encoder maps per-token speech features [1, L, 12, 768] plus a position row [1, L, h] to
// hidden rows [1, L, h] through `layers` single-head self-attention layers under the additive mask it
// is given; a token's receptive field is therefore exactly what the mask allows, compounded over the
// layers. Its attention normalises through one MatMul (exp(scores - max) times [v | 1], then the
// division) rather than a Softmax, whose vector-lane sums make a token's last bits depend on where it
// sits in the band: so equal results from different band layouts test the stream's own arithmetic.
// The decoder steps a recurrent state: hn = tanh(ctx_t A + prev B + h C + bias),
// m = tanh(hn D + prev E).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio.h"

namespace ko::authoring {

inline constexpr int kTrunkKernel = 160;

// Trunk steps over a waveform of `samples` (1599 for 8 s, 399 for 2 s).
constexpr int trunkSteps(int samples) {
  return (samples - kTrunkKernel) / kTrunkStepSamples + 1;
}

struct SpeechRecipe {
  uint32_t seed = 11;
  int headWidth = 32;
  int headRows = 8;                 // the head's fixed batch of frames
  bool trunkDeclaresLength = true;  // false: the trunk's step dim is the symbol "T"
};

// "input_values" [1, 32000] float -> "trunk_out" [1, 640, 399] float16.
std::vector<uint8_t> speechTrunk(const SpeechRecipe& recipe = {});
// "x" [headRows, 640] float -> "emb" [headRows, 9216] float.
std::vector<uint8_t> speechHead(const SpeechRecipe& recipe = {});
// "input_values" [1, 128000] float -> "audio_emb" [12, 200, 768] float.
std::vector<uint8_t> speechEncoder8s(const SpeechRecipe& recipe = {});

// File names of a trunk and head pair beside the 8 s encoder.
struct SpeechPairNames {
  std::string trunk;
  std::string head;
};
inline const SpeechPairNames kWindowPairNames{"audio_encoder_fp16_window_trunk.onnx",
                                              "audio_encoder_fp16_window_head.onnx"};
inline const SpeechPairNames kTrunk32PairNames{"w2v_trunk32.onnx", "w2v_head32.onnx"};

// The head's output for a silent frame, whose trunk columns are all zero: its bias alone.
std::vector<float> speechSilenceRow(const SpeechRecipe& recipe = {});

// Writes dir/w2v_8s.onnx and returns its path, plus the trunk and the head beside it under whichever
// of the pair's names are non-empty (one alone leaves a half pair). Creates dir when missing; throws on
// a failed write.
std::string writeSpeechEncoderFiles(const std::string& dir, const SpeechRecipe& recipe = {},
                                    const SpeechPairNames& pair = {});

struct A2xRecipe {
  int h = 16;
  int window = 1;
  int left = 3;
  int layers = 2;
  bool wn = false;
  uint32_t seed = 7;
};

// "feat" [1, L, 12, 768], "pos_window" [1, L, h], "attn" [1, 1, L, L] (0 or -infinity) ->
// "hidden" [1, L, h], plus "wn" [1, L] when recipe.wn.
std::vector<uint8_t> a2xEncoder(const A2xRecipe& recipe = {});
// "ctx_t" [1, h], "prev" [1, 63], "h" [1, 1, h] -> "m" [1, 63], "h_out" [1, 1, h].
std::vector<uint8_t> a2xDecoder(const A2xRecipe& recipe = {});

// One step of a recurrent keypoint network: hn = tanh(context A + prev B + h C + bias),
// m = tanh(hn D + prev E), every input carried into the output.
struct RecurrentStepShape {
  std::string context;  // the per-frame input's name
  int contextWidth;
  int stateWidth;
  bool stateRank3;  // the state is [1, 1, width] rather than [1, width]
  std::string stateOut;
  uint32_t seed;
};
std::vector<uint8_t> recurrentStep(const RecurrentStepShape& shape);

// The FCA expression network: "cond" [1, 5376], "prev" [1, 63], "h" [1, 384] -> "m" [1, 63],
// "hn" [1, 384], a recurrent step as above.
std::vector<uint8_t> fcaStream(uint32_t seed = 5);
// Writes fcaStream(seed) to path. Throws on a failed write.
void writeFcaStream(const std::string& path, uint32_t seed = 5);

struct MotionDirRecipe {
  A2xRecipe net;  // window or left below 0: left out of the meta
  int posRows = 512;
  int nt = 5;  // rows of idle keypoints
  bool metaWidth = false;
  int silencePrime = 0;
  std::string metaOverride{};  // non-empty: the exact a2x_meta.json text
};

// `rows` rows of 63 keypoint values that drift smoothly from row to row, as an idle loop's do.
std::vector<float> idleKeypoints(int rows);

// A motion directory's members, ready to write.
struct A2xMotionFiles {
  std::string meta;             // a2x_meta.json
  std::vector<float> pos;       // a2x_pos.f32: rows of h
  std::vector<float> norm;      // a2x_norm.f32: 63 means, then 63 stds
  std::vector<float> xsTarget;  // xs_target.bin: rows of 63 idle keypoint values
  std::vector<uint8_t> encoder;
  std::vector<uint8_t> decoder;
};

// The a2x_meta.json text a recipe describes.
std::string a2xMetaText(const MotionDirRecipe& recipe);

// Writes the members into dir under their file names, creating it when missing. Throws on a failed
// write.
void writeA2xMotionFiles(const std::string& dir, const A2xMotionFiles& files);

// Writes a2x_meta.json, a2x_pos.f32 (posRows x h), a2x_norm.f32 (63 means, 63 stds),
// xs_target.bin (nt x 63), a2x_enc_stream.onnx and a2x_dec.onnx into dir, creating it when missing.
// Throws on a failed write.
void writeA2xMotionDir(const std::string& dir, const MotionDirRecipe& recipe = {});

}  // namespace ko::authoring
