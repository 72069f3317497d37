// One stream's way from pushed samples to feature rows: the audio buffer, the feature buffer and the
// window bookkeeping of the two encoder forms.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/network_time.h"
#include "audio/row_buffer.h"
#include "audio/speech_encoder.h"

namespace ko {

// Rounds count floats to their nearest halves (src may be dst), through a scratch of halves.
void roundThroughHalves(const float* src, float* dst, size_t count, std::vector<uint16_t>& halves);

// What a stream throws when a caller asks for rows it already dropped.
std::runtime_error behind(const std::string& what);

struct SpeechFeatures {
  SpeechFeatures(SpeechEncoder& sharedEncoder, std::string encoderPath, int threadCount, int rightFrames);

  SpeechEncoder& encoder;
  std::string w2vPath;  // $W2V_ONNX when the stream was created
  int threads;
  int right;  // frames of audio after a block (or window edge) that its features may look at
  bool windowMode = false;
  bool finished = false;

  RowBuffer audio{1};
  RowBuffer feat{kFeatureRow};
  // Legacy: first frame of the next 8 s window. Short window: first frame of the next block.
  int64_t featStart = 0;
  // Feature rows are complete below this frame.
  int64_t featEnd = 0;

  // Time inside the speech encoder's runs.
  NetworkTime encoderTime;

  // Samples ever pushed: buffered plus dropped.
  int64_t samplesPushed() const { return audio.end(); }
  // All samples once finished; while live only whole 8-frame blocks count (a block counts once the
  // audio is within 639 samples of its end), so what a stream serves does not depend on how the
  // host chops its audio.
  int64_t usableSamples() const;
  int64_t usableFrames() const;

  // The stream's 8 s encoder session, loaded on first need. Throws when it does not load.
  Ort::Session& w2v8();

  // Makes the feature rows complete below featGoal, as far as the usable audio allows.
  void fill(int64_t featGoal) { windowMode ? fill_feat_win(featGoal) : fill_feat(featGoal); }
  void fill_feat(int64_t featGoal);
  void fill_feat_win(int64_t featGoal);

  // Forgets the utterance; buffers above releaseBytes give their memory back.
  void reset(size_t releaseBytes);

 private:
  // Copies samples [first, first + count) that exist into window[offset...], the rest stay zero.
  void copyAudio(int64_t first, int64_t count, float* window) const;
  void writeLegacyRows(const float* emb, int64_t windowStart, int64_t firstFrame, int64_t limit);
  void interpolateColumns(const uint16_t* trunk, int64_t blockStart, int64_t windowEnd);

  Ort::Session* w2v8Session = nullptr;
  std::vector<float> window;
  std::vector<float> columns;
  std::vector<uint16_t> halves;
};

}  // namespace ko
