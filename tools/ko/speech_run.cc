#include "tools/ko/speech_run.h"

#include <algorithm>
#include <thread>

namespace ko::cli {
namespace {

using std::chrono::duration;
using Milliseconds = duration<double, std::milli>;

constexpr std::chrono::milliseconds kFramePeriod{40};
constexpr std::chrono::milliseconds kPollStep{1};
// However slow the machine, a pipeline that delivers nothing for this long has stopped.
constexpr std::chrono::seconds kStallLimit{30};

}  // namespace

SpeechRun::SpeechRun(ko_utt* utt, size_t frameBytes, FrameSink sink)
    : utt_(utt), sink_(std::move(sink)), frame_(frameBytes), previous_(frameBytes) {}

bool SpeechRun::speak(const std::vector<int16_t>& speech, bool realtime) {
  start_ = lastFrame_ = Clock::now();
  Clock::time_point nextPull = start_;
  bool late = false;
  for (;;) {
    const Clock::time_point now = Clock::now();
    pushDue(speech, realtime, now);
    if (realtime && now < nextPull) {
      std::this_thread::sleep_for(std::min<Clock::duration>(nextPull - now, kPollStep));
      continue;
    }
    ko_utt_frame_info info{};
    if (ko_utt_pull_frame(utt_, frame_.data(), frame_.size(), &info) != 1) {
      if (spokeNothing()) return false;
      if (now - lastFrame_ > kStallLimit) {
        failure_ = "the pipeline delivered no frame for " + std::to_string(kStallLimit.count()) + " s";
        return false;
      }
      report_.latePulls += realtime && !late ? 1 : 0;
      late = true;
      std::this_thread::sleep_for(kPollStep);
      continue;
    }
    late = false;
    nextPull += kFramePeriod;
    lastFrame_ = now;
    if (!keep(info, now)) break;
  }
  report_.seconds = duration<double>(lastFrame_ - start_).count();
  const double spoken = duration<double>(lastFrame_ - firstSpeech_).count();
  report_.sustainedFps = spoken > 0 ? (keptAfterSpeech_ - 1) / spoken : 0.0;
  return true;
}

void SpeechRun::pushDue(const std::vector<int16_t>& speech, bool realtime, Clock::time_point now) {
  if (ended_) return;
  size_t due = speech.size();
  if (realtime) {
    // Each frame period's samples go in as the period starts, as a microphone's would arrive.
    const auto periods = static_cast<size_t>((now - start_) / kFramePeriod) + 1;
    due = std::min(due, periods * kSamplesPerFrame);
  }
  if (due > pushed_) {
    ko_utt_push_audio(utt_, speech.data() + pushed_, static_cast<int>(due - pushed_));
    pushed_ = due;
  }
  if (pushed_ == speech.size()) {
    ko_utt_end_utterance(utt_);
    ended_ = true;
  }
}

bool SpeechRun::keep(const ko_utt_frame_info& info, Clock::time_point now) {
  if (info.kind == 0) {
    if (spoke_) return false;
    if (spokeNothing()) return false;
    ++report_.idle;
  } else if (info.kind == 1) {
    keepSpeech(info, now);
  } else {
    ++report_.blend;
  }
  if (spoke_) ++keptAfterSpeech_;
  sink_(frame_.data(), info);
  std::swap(frame_, previous_);
  return true;
}

void SpeechRun::keepSpeech(const ko_utt_frame_info& info, Clock::time_point now) {
  if (!spoke_) {
    spoke_ = true;
    firstSpeech_ = now;
    report_.firstSpeechMs = Milliseconds(now - start_).count();
  }
  // Before any frame was kept, a lost opening is filled with the first frame that came.
  const bool keptAny = report_.idle + report_.speech > 0;
  ko_utt_frame_info lost = info;
  for (; nextOrdinal_ < info.ordinal; ++nextOrdinal_) {
    lost.ordinal = nextOrdinal_;
    sink_(keptAny ? previous_.data() : frame_.data(), lost);
    ++report_.repeated;
    ++keptAfterSpeech_;
  }
  nextOrdinal_ = info.ordinal + 1;
  ++report_.speech;
}

bool SpeechRun::spokeNothing() {
  if (spoke_ || !ended_) return false;
  ko_utt_stats stats{};
  ko_utt_get_stats(utt_, &stats);
  sawUtterance_ = sawUtterance_ || stats.state != 0;
  if (!sawUtterance_ || stats.state != 0) return false;
  char text[512] = "";
  ko_utt_render_status(utt_, text, sizeof text, nullptr);
  failure_ = "the utterance ended without a speech frame";
  if (text[0] != '\0') failure_ += std::string(" (") + text + ")";
  return true;
}

}  // namespace ko::cli
