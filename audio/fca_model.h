// The FCA model: whole-utterance speech to expression. Given all of an utterance's audio at once it
// returns one 63-value expression delta per 40 ms frame, from two networks it owns: an 8 s speech
// encoder (the legacy window interface, run once per 100 frames) and the autoregressive expression
// network, one step per frame over seven frames of causally normalised features.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/frame_layout.h"
#include "audio/speech_encoder.h"

namespace ko {

// The encoder layers averaged into a frame's features, numbered from 0.
inline constexpr int kFcaFirstLayer = 4;
inline constexpr int kFcaLastLayer = 9;
// A later window contributes from this frame on (frames already filled are kept).
inline constexpr int kFcaLaterWindowFirst = 50;
// The frames around t that the expression network sees, in order.
inline constexpr std::array<int, 7> kFcaContextOffsets{-1, 0, 1, 2, 3, 4, 5};
inline constexpr int kFcaCondValues = static_cast<int>(kFcaContextOffsets.size()) * kFeatureWidth;
inline constexpr int kFcaStateValues = 384;

// ceil(count / 640); 0 for count < 1.
int64_t fcaFrames(int64_t count);

class FcaModel {
 public:
  // Opens both networks with `threads` intra-op threads (below 1: the pool's size). Throws
  // ONNX Runtime's reason when a file does not open or is not a model.
  FcaModel(const std::string& encoderPath, const std::string& expressionPath, int threads);

  // Every frame's features before normalisation: fcaFrames(count) rows of 768. NaN and infinite
  // samples count as 0.
  std::vector<float> features(const float* samples, int64_t count);

  // Writes fcaFrames(count) x 63 deltas to out. Throws when a network fails or answers in another
  // shape; out may then be partly written.
  void deltas(const float* samples, int64_t count, float* out);

 private:
  void writeWindowFeatures(const float* emb, int64_t windowStart, int64_t frames, int64_t& filled,
                           float* features) const;
  // One expression step: cond, prev and state in, the delta to out and the next state into state.
  void step(const float* cond, float* prevAndOut, float* state);

  Ort::Env env_;
  Ort::MemoryInfo cpu_;
  Ort::SessionOptions options_;
  std::unique_ptr<Ort::Session> encoder_;
  std::unique_ptr<Ort::Session> expression_;
};

}  // namespace ko
