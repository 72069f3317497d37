// The audio-to-motion stream: speech pushed in pieces becomes, frame by frame, the row of the
// identity that frame plays, its idle keypoints and its driven keypoints. A log-mel front end and a
// speech network turn every 5 frames of audio into feature rows; a generator turns 80 feature rows
// into 80 motion rows (chunks overlap by 10 frames and are blended); each emitted frame combines its
// motion row's expression with the source frame's pose and is corrected by a stitching network.
//
// Frames are served once nothing later can change them: a live chunk runs only when all 80 of its
// feature rows exist, and a frame leaves only when the next chunk's blend and smoothing cannot reach
// it. So the keypoints do not depend on how the host chops its audio or when it asks for frames.
//
// A stream is driven by one thread at a time and shares nothing with other streams.
#pragma once

#include <onnxruntime_cxx_api.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/mel_front_end.h"
#include "audio/motion_dump.h"
#include "audio/motion_layout.h"
#include "audio/motion_net.h"
#include "audio/motion_tables.h"
#include "audio/network_time.h"
#include "audio/row_buffer.h"

namespace ko::motion {

class MotionStream {
 public:
  // Opens the motion directory (a bundle path, resolved like any bundle) with `threads` intra-op
  // threads (below 1: the pool's size) on the provider `ep` ("" the CPU). Throws one sentence on any
  // refusal.
  MotionStream(const std::string& motionDir, int threads, const std::string& ep);

  void push(const float* samples, int64_t count);
  bool finished() const { return finished_; }
  // Marks the end of the audio and produces every remaining motion row.
  void finish();
  // ceil(samples / 640) once finished, -1 before.
  int64_t total() const { return finished_ ? total_ : -1; }
  // Frames ready to pull; may run the networks.
  int64_t avail();
  // Writes up to max frames: rows[j], xs[63 j ..], kp[63 j ..]. Returns how many.
  int64_t pull(int32_t* rows, float* xs, float* kp, int64_t max);
  // A new utterance from row `start` (clamped to the table), walking forward (dir >= 0) or
  // backward, wrapping (loop) or bouncing.
  void reset(int64_t start, int dir, bool loop);
  void setEager(int value) { eager_ = value; }
  int64_t nt() const { return tables_.meta.nt; }

  // New whole frames of audio that make a live avail or pull run the networks: the eager value when
  // at least 1, else ceil(average advance time / 40 ms) within 1 .. 8 (1 before any advance).
  int64_t advanceFrames() const;
  // The exponential average of the advance times in milliseconds; negative before the first.
  double averageAdvanceMs() const { return averageMs_; }

  // What the stream holds, for tests and benchmarks: feature rows by frame, the motion rows as
  // blended (before the final smoothing), the final rows once finished, and the network time.
  const RowBuffer& featureRows() const { return features_; }
  const RowBuffer& motionRows() const { return motion_; }
  // Final row f, for f in [finalFirst(), total()), once finished.
  const float* finalRow(int64_t f) const { return final_.data() + (f - finalFirst_) * row::kWidth; }
  int64_t finalFirst() const { return finalFirst_; }
  bool finalBuilt() const { return built_; }
  const std::vector<float>& referenceRow() const { return reference_; }
  const MotionTables& tables() const { return tables_; }
  const NetworkTime& networkTime() const { return networkTime_; }
  int64_t chunks() const { return chunks_; }

  // One analysis window: the 6480 samples of window w (frames w .. w + 4), zero outside the audio.
  void windowSamples(int64_t w, float* out) const;

 private:
  // Frames whose rows can no longer change (all of them once finished).
  int64_t servable() const;
  // Live: runs when enough new audio has arrived. Finished: completes the utterance.
  void advanceIfDue();
  void advance();
  void processWindow();
  void runChunk();
  void buildFinal();
  // Fills row with frame f's motion row as served: smoothed over its neighbours and clamped.
  void servedRow(int64_t f, float* row);
  void emitFrame(const float* motionRow, int64_t sourceRow, float* xs, float* kp);
  void trim();

  std::string motionDir_;
  MotionTables tables_;
  MelFrontEnd mel_;
  Ort::Env env_{ORT_LOGGING_LEVEL_WARNING, "ko_motion"};
  Net student_;
  Net generator_;
  Net stitch_;
  MotionDump dump_;
  NetworkTime networkTime_;
  std::vector<float> reference_;  // the reference motion row
  float expressionGain_ = 1;

  // The utterance.
  RowBuffer audio_{1};
  bool finished_ = false;
  int64_t total_ = 0;
  int64_t windows_ = 0;
  RowBuffer features_{kFeatureValues};
  int64_t chunks_ = 0;
  RowBuffer motion_{row::kWidth};
  std::vector<float> final_;
  int64_t finalFirst_ = 0;
  bool built_ = false;
  int64_t pulled_ = 0;
  std::vector<float> referenceExp_;
  int64_t start_ = 0;
  int walkDir_ = 1;
  bool loop_ = true;
  int64_t framesAtAdvance_ = 0;

  int eager_ = -1;
  double averageMs_ = -1;
  bool dumpedWindow_ = false;
  bool dumpedChunk_ = false;

  // Per-call scratch.
  std::vector<float> windowScratch_, melScratch_, studentScratch_, chunkFeatures_, chunkRows_;
  std::vector<float> condScratch_, rowScratch_, keypointScratch_;
};

}  // namespace ko::motion
