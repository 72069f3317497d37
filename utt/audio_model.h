// The pipeline's audio model: the a2x stream when the motion directory holds an a2x encoder, else the
// motion stream, behind one set of calls. Driven by one thread at a time (the warm-up thread while it
// loads, the dispatcher after).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/audio.h"
#include "utt/utt_settings.h"

namespace ko::utt {

class AudioModel {
 public:
  // Opens the model the settings name. Throws the text the model's own creation call reports, such
  // as "ko_a2x_create: $W2V_ONNX not set".
  static std::unique_ptr<AudioModel> open(const UttSettings& settings);

  // A new utterance from driver row `start`, walking in direction `dir` and wrapping at the ends.
  void reset(int64_t start, int dir);
  void setEager(int value);
  void push(const float* samples, int64_t count);
  void finish();
  int64_t avail();
  int64_t pull(int32_t* rows, float* xs, float* kp, int64_t max);
  // Frames of the finished utterance, -1 before finish.
  int64_t total() const;

 private:
  std::unique_ptr<A2xStream> a2x_;
  std::unique_ptr<motion::MotionStream> motion_;
};

}  // namespace ko::utt
