// A speech stack on disk for one test: the synthetic 8 s encoder (with or without its short-window
// pair) and a motion directory, $W2V_ONNX pointing at the encoder, and an encoder instance of the
// test's own so that what one test loads never leaks into another.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "audio/audio.h"
#include "tests/support/temp_dir.h"
#include "tools/authoring/speech_models.h"

namespace ko::test {

struct A2xSetup {
  authoring::MotionDirRecipe motion{};
  bool pair = true;  // ship the short-window pair beside the 8 s encoder
  authoring::SpeechRecipe speech{};
};

inline A2xSetup legacySetup() {
  A2xSetup setup;
  setup.pair = false;
  return setup;
}

class A2xFixture {
 public:
  explicit A2xFixture(const A2xSetup& setup = {});

  std::unique_ptr<A2xStream> stream(int threads = 1) {
    return std::make_unique<A2xStream>(motionDir, threads, encoder);
  }

  TempDir dir;
  std::string w2vPath;
  std::string motionDir;
  ScopedEnv w2vEnv;
  SpeechEncoder encoder;
};

// Speech-like test audio: noise under a syllable-rate envelope plus two drifting tones, in [-1, 1].
std::vector<float> speechAudio(size_t samples, uint32_t seed = 3);

// Every frame a stream serves: idx, xs and kp of each pulled frame in order.
struct PulledFrames {
  // Adds count frames of idx, xs and kp (and wn when not null).
  void append(const int32_t* rows, const float* xsRows, const float* kpRows, const float* wnRows,
              int64_t count);

  std::vector<int32_t> idx;
  std::vector<float> xs;
  std::vector<float> kp;
  std::vector<float> wn;
};

// Pulls until nothing more comes (at most max frames per call), appending to frames.
void pullAll(A2xStream& stream, PulledFrames& frames, int64_t max = 32);

// Pushes audio in pieces of the sizes `pieceSize` returns (called until everything is pushed),
// pulling after each push when pullBetween, then finishes and pulls the rest.
// Works for every stream with push, finish and a pullAll overload.
template <class Stream, class PieceSize>
PulledFrames streamAudio(Stream& stream, const std::vector<float>& audio, PieceSize pieceSize,
                         bool pullBetween) {
  PulledFrames frames;
  for (size_t at = 0; at < audio.size();) {
    const size_t piece = std::min<size_t>(pieceSize(), audio.size() - at);
    stream.push(audio.data() + at, static_cast<int64_t>(piece));
    at += piece;
    if (pullBetween) pullAll(stream, frames);
  }
  stream.finish();
  pullAll(stream, frames);
  return frames;
}

// Streams `seconds` of live audio in 640-sample pieces, pulling as it goes, and expects every buffer
// to stay within what its trims allow.
void expectBoundedBuffers(int seconds);

}  // namespace ko::test
