// The streaming audio-to-expression stream: speech pushed in arbitrary pieces becomes, frame by
// frame, the identity's idle keypoints plus a predicted expression delta. Two networks of the motion
// directory run on top of the shared speech encoder: a banded-attention encoder over feature rows
// (one hidden vector per frame, optionally one wn value) and an autoregressive decoder, one step per
// frame. While live, frames become available in whole 8-frame blocks, so the output does not depend
// on how the host chops its audio; after finish() every remaining frame is served.
//
// A stream is driven by one thread at a time and takes no lock; streams on different threads share
// only the process's speech encoder.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/frame_layout.h"
#include "audio/row_buffer.h"
#include "audio/speech_features.h"

namespace ko {

class A2xStream {
 public:
  // Opens the motion directory (a bundle path, resolved like any bundle) with `threads` intra-op
  // threads (below 1, or above the pool's size: the pool's size). Throws a runtime error whose text
  // is one sentence on any refusal.
  A2xStream(const std::string& bundle, int threads, SpeechEncoder& encoder = SpeechEncoder::process());
  ~A2xStream();
  A2xStream(const A2xStream&) = delete;
  A2xStream& operator=(const A2xStream&) = delete;

  void push(const float* samples, int64_t count);
  void finish() { features.finished = true; }
  // ceil(samples / 640) once finished, -1 before.
  int64_t total() const;
  // Frames ready to pull; runs at most one step of network work.
  int64_t avail();
  // Writes up to max frames (wn may be null) and returns how many.
  int64_t pull(int32_t* idx, float* xs, float* kp, float* wn, int64_t max);
  // A new utterance from target row `start` (negative: where the last one stopped), walking the
  // rows forward (dir >= 0) or backward, wrapping (loop != 0) or bouncing at the ends.
  void reset(int64_t start, int dir, int loop);
  // Whole-utterance deltas (not added to the idle rows) from the 8 s windows, leaving the streaming
  // state alone. Returns the frame count, or -2 (nothing written) when it exceeds maxFrames.
  int64_t deltas(const float* samples, int64_t count, float* out, int64_t maxFrames);
  // The wn values of the last deltas() call.
  const std::vector<float>& utteranceWn() const { return uttWn; }

  int64_t nt() const { return NT; }
  bool hasWn() const { return hasWn_; }
  void setEager(int value) { eager = value; }
  int eagerValue() const { return eager; }

  // Frames every pull may serve now: all usable frames once finished, else those whose encoder
  // context and feature look-ahead lie inside the usable audio.
  int64_t frameTarget() const;
  // The target row of frame i of the current utterance.
  int64_t targetRow(int64_t frame) const;
  // Runs the networks until `produced` reaches goal (capped by frameTarget()). A failure is recorded
  // as the calling thread's a2x error and leaves the counters where the last whole step left them.
  void extend(int64_t goal);

  // Configuration read at creation.
  int64_t h = 256;
  int64_t window = -1;
  int64_t left = -1;
  int64_t ctxLeft = 0;
  int64_t ctxRight = 0;
  int64_t lookahead = 0;
  int64_t NT = 0;
  int64_t P = 0;  // rows of the positional table
  std::vector<float> pos;
  std::vector<float> normMean;
  std::vector<float> normStd;
  std::vector<float> xsTarget;

  // Streaming state; frame indices count from the start of the utterance.
  SpeechFeatures features;
  RowBuffer hidden;
  RowBuffer wnRows{1};
  int64_t encoded = 0;
  RowBuffer deltaRows{kKeypointValues};
  int64_t produced = 0;
  std::vector<float> prev;
  std::vector<float> state;
  std::vector<float> primedPrev;
  std::vector<float> primedState;
  int64_t pulled = 0;
  int64_t start = 0;
  int dir = 1;
  int loop = 1;
  int eager = -1;
  std::vector<float> uttWn;
  // Time inside the encoder and decoder runs (the speech encoder's is features.encoderTime).
  NetworkTime networkTime;
  // The text of the last extend() failure, for the caller to report; empty when none.
  std::string extendFailure;

 private:
  struct Networks;

  void prime_silence(int64_t frames);
  // The decoder's state at an utterance's start: the silence-primed copies, or zeros.
  void initialDecoderState(std::vector<float>& prevOut, std::vector<float>& stateOut) const;
  // One encoder run over the tokens [c, w) whose feature rows start at featRows; hidden rows (and wn
  // values) of frames [b, e) go to hiddenOut (and wnOut when not null).
  void encodeBand(const float* featRows, int64_t c, int64_t w, int64_t b, int64_t e, float* hiddenOut,
                  float* wnOut);
  // One decoder step: m for ctx from prev and state; prev and state move on.
  void decodeStep(const float* ctx, float* prevIo, float* stateIo);
  void encodeTo(int64_t goal);
  void decodeTo(int64_t goal);
  void trim();

  std::unique_ptr<Networks> nets;
  bool hasWn_ = false;
};

}  // namespace ko
