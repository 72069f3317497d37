// Small synthetic networks and tables that stand in for the motion model in tests, benchmarks and the
// demo: the speech student, the motion generator, the keypoint stitcher and the directory that carries
// them. Weights come from a WeightStream, each network's from the seed under its own xor, so a seed
// names the same directory everywhere and no network repeats another's weights.
//
// The student, on log-mel values mel [80 bands, 21 frames]:
//   x_f = mel[:, f] * 0.1 + 1   (log-mel runs from about -18.4 to +8; this keeps tanh off its rails)
//   feat_t = tanh([x_t | x_t+1] W + b),  t = 0 .. 19,  W [160, 1024]
// so frame t reads mel frames t and t + 1 only.
//
// The generator, on one chunk's feature rows aud [80, 1103] and the conditioning motion row kp [265]:
//   pred = tanh(T (aud W1) + kp W2 + b),  T = I + [80, 80] mixing of +-0.05
// so every output frame reads every input frame, its own the most.
//
// The stitcher, on source and driving keypoints s, d [63]:
//   kp_stitched = reshape(d + 0.1 tanh([s | d] W), [21, 3]),  W [126, 63]
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ko::authoring {

struct MotionModelRecipe {
  int nt = 6;     // rows of xs_target.bin and, by default, of src_xs_info.bin
  int nSrc = -1;  // rows of src_xs_info.bin and the meta's "n_src"; -1: nt
  int nEmo = 3;
  float sBridge = 0.7f;
  float deltaPitch = 2.5f;
  bool writeDeltaPitch = true;  // false: "delta_pitch" left out of the meta
  uint32_t seed = 23;
  std::string metaOverride{};  // non-empty: the exact meta.json text
};

// "mel" [1, 80, 21] (band-major) -> "feat" [1, 20, 1024].
std::vector<uint8_t> speechStudent(uint32_t seed);
// "kp_cond" [1, 265], "aud_cond" [1, 80, 1103] -> "pred" [1, 80, 265].
std::vector<uint8_t> motionGenerator(uint32_t seed);
// "kp_source" [1, 63], "kp_driving" [1, 63] -> "kp_stitched" [1, 21, 3].
std::vector<uint8_t> stitchNetwork(uint32_t seed);

// Writes into dir, creating it when missing (float32 tables, little-endian):
//   meta.json                                  nt, n_src, n_emo, s_bridge, delta_pitch
//   hubert_stft_window.bin                     512: periodic Hann window
//   hubert_stft_binmat.bin                     257 x 80, element bin * 80 + band: triangular mel filters
//                                              over 0 .. 8000 Hz
//   hubert_fmean.bin, hubert_fstd.bin          1024 feature means and deviations
//   emo.bin                                    8 x nEmo values
//   ch_xs_info.bin                             one motion-parameter row
//   ch_sc.bin, ch_eye_open.bin, ch_eye_ball.bin 63, 2 and 6 values
//   v_min_max.bin                              265 lower bounds, then 265 upper bounds; half of them
//                                              inside (-1, 1), so the generator's output gets clamped
//   src_xs_info.bin                            nSrc motion-parameter rows, each different
//   xs_target.bin                              nt x 63 idle keypoints
//   hubert_student.onnx, lmdm.onnx, stitch.onnx
// Throws on a failed write.
void writeMotionModelDir(const std::string& dir, const MotionModelRecipe& recipe = {});

}  // namespace ko::authoring
