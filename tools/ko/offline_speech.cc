#include "tools/ko/offline_speech.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "ko/ko.h"
#include "tools/ko/contact_sheet.h"
#include "tools/ko/frame_output.h"
#include "tools/ko/progress_bar.h"
#include "tools/ko/speech_run.h"

namespace ko::cli {
namespace {

constexpr int kFps = 25;
constexpr float kSampleScale = 1.0f / 32768.0f;

struct StreamCloser {
  void operator()(ko_stream* stream) const { ko_stream_destroy(stream); }
};

// Where the stream's frames go: the movie, the sheet and the progress bar.
struct FrameSinks {
  tools::MovieEncoder& movie;
  ContactSheet* sheet;
  ProgressBar& progress;

  static void receive(void* user, int index, const uint8_t* rgb, int, int) {
    auto* sinks = static_cast<FrameSinks*>(user);
    sinks->movie.encodeRgb(rgb);
    if (sinks->sheet) sinks->sheet->offer(index, rgb);
    sinks->progress.update(index + 1);
  }
};

}  // namespace

int speakOffline(const OfflineSpeech& job, const std::vector<int16_t>& speech) {
  const std::unique_ptr<ko_stream, StreamCloser> stream(
      ko_stream_create(job.bundle.c_str(), job.encoder.c_str(), 0, 0, 1.0f));
  if (!stream) {
    std::fprintf(stderr, "ko: %s\n", ko_stream_last_error());
    return 1;
  }
  const int width = ko_stream_width(stream.get()), height = ko_stream_height(stream.get());
  const int frames = static_cast<int>((speech.size() + kSamplesPerFrame - 1) / kSamplesPerFrame);
  std::vector<float> samples(speech.size());
  for (size_t i = 0; i < speech.size(); ++i) samples[i] = static_cast<float>(speech[i]) * kSampleScale;
  const std::unique_ptr<tools::MovieEncoder> movie =
      openSpokenMovie(job.out, width, height, kFps, tools::kSpeechRate);
  movie->encodeAudio(speech.data(), speech.size());
  std::unique_ptr<ContactSheet> sheet;
  if (!job.sheet.empty()) sheet = std::make_unique<ContactSheet>(width, height, frames);
  ProgressBar progress(frames);
  FrameSinks sinks{*movie, sheet.get(), progress};
  const auto start = std::chrono::steady_clock::now();
  const int delivered = ko_stream_run(stream.get(), samples.data(), static_cast<int>(samples.size()),
                                      FrameSinks::receive, &sinks);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  progress.close();
  if (delivered < 0) {
    std::fprintf(stderr, "ko: %s\n", ko_stream_last_error());
    return 1;
  }
  movie->finish();
  if (sheet) sheet->write(job.sheet);
  std::printf(
      "spoke %.2f s of speech offline: %d frames in %.2f s, %.1f frames/s (expression deltas included)\n",
      static_cast<double>(speech.size()) / tools::kSpeechRate, delivered, seconds,
      seconds > 0 ? delivered / seconds : 0.0);
  std::printf("wrote %s\n", job.out.c_str());
  if (!job.sheet.empty()) std::printf("wrote %s\n", job.sheet.c_str());
  return 0;
}

}  // namespace ko::cli
