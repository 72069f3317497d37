// One utterance spoken through a pipeline the way a host speaks it: the speech pushed all at once or
// paced at real time, every frame pulled until the blend back to idle has played, and the figures a
// person asks of such a run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ko/ko.h"
#include "tools/media/speech_reader.h"

namespace ko::cli {

// One frame period of speech at 25 frames/s.
inline constexpr int kSamplesPerFrame = tools::kSpeechRate / 25;

struct SpeechRunReport {
  int idle = 0, speech = 0, blend = 0;
  int repeated = 0;           // speech frames the library lost, filled with the frame before
  int latePulls = 0;          // paced runs: frame periods that found no frame waiting
  double firstSpeechMs = -1;  // first push to the first speech frame pulled
  double sustainedFps = 0;    // frames pulled a second from the first speech frame to the last frame
  double seconds = 0;         // first push to the last frame
};

class SpeechRun {
 public:
  using Clock = std::chrono::steady_clock;
  // Every frame to keep, in order. A lost speech frame comes as the frame before it again, so the
  // frames keep step with the speech.
  using FrameSink = std::function<void(const uint8_t* rgb, const ko_utt_frame_info& info)>;

  // `utt` has loaded its model; frames are frameBytes long.
  SpeechRun(ko_utt* utt, size_t frameBytes, FrameSink sink);

  // Speaks `speech` (16 kHz mono) as one utterance. Returns false with failure() set when the
  // pipeline stops short of speaking it.
  bool speak(const std::vector<int16_t>& speech, bool realtime);

  const SpeechRunReport& report() const { return report_; }
  const std::string& failure() const { return failure_; }

 private:
  void pushDue(const std::vector<int16_t>& speech, bool realtime, Clock::time_point now);
  // False once the run is over: the idle video is back after the speech.
  bool keep(const ko_utt_frame_info& info, Clock::time_point now);
  void keepSpeech(const ko_utt_frame_info& info, Clock::time_point now);
  // Whether the utterance ended without a speech frame; sets failure_ when it did.
  bool spokeNothing();

  ko_utt* utt_;
  FrameSink sink_;
  std::vector<uint8_t> frame_, previous_;
  SpeechRunReport report_;
  std::string failure_;
  size_t pushed_ = 0;
  bool ended_ = false, spoke_ = false, sawUtterance_ = false;
  int32_t nextOrdinal_ = 0;
  int keptAfterSpeech_ = 0;
  Clock::time_point start_, firstSpeech_, lastFrame_;
};

}  // namespace ko::cli
