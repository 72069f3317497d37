// The utterance pipeline on the demo identity (1280x720, crop 512) with its motion directory, at two
// worker threads. Four figures:
//   - BM_UttSpeechThroughput against BM_HostSerialSpeech: an utterance pushed at once and pulled as
//     fast as frames come, against the loop a host would otherwise write on the public calls
//     (ko_a2x_* for the keypoints, then ko_render_kp_crop and ko_paste_last frame by frame on one
//     thread). The ratio is the pipeline's gain.
//   - BM_UttSpeechThroughputTeeth against BM_UttSpeechThroughput: the same with the demo's teeth bank
//     attached (32 donors on the 512 crop), as ko speak arms it; teeth_ms is the teeth stage's time
//     per frame on its own thread, the ratio what borrowed teeth cost the sustained rate.
//   - BM_UttRealtimeSpeech: speech pushed 40 ms at a time as it is spoken; delivered_fps over the
//     utterance, and the first speech frame's latency less the audio look-ahead (the audio the model
//     must hear before it can make frame 0, which no pipeline can avoid).
//   - BM_UttInterrupt: ko_utt_interrupt during speech to the first blend frame pulled.
//   - BM_OfflineStreamSpeech against BM_UttSpeechThroughput: the same utterance rendered whole through
//     ko_stream_run (FCA deltas first, then rendering and pasting overlapped) against the live path;
//     fca_ms is the FCA phase of one run, ort_ms the director's run per frame, outside_ort_ms the rest
//     of a frame's time on the render worker's critical path once the FCA phase is done.
//   - in each pipeline run, where a speech frame's time goes outside ONNX Runtime's runs:
//     render_outside_ort_ms (the keypoint hand-off, the bound-buffer copies and the lip feed around
//     the director's run) and paste_ms (driver frame and composite, on the paste thread).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/ratio_report.h"
#include "bench/support/thread_runs.h"
#include "ko/ko.h"
#include "ko/ko_a2x.h"
#include "ko/session.h"
#include "ko/stream_handle.h"
#include "ko/utt_handle.h"
#include "renderer/renderer.h"
#include "tests/support/a2x_fixture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/utt_fixture.h"
#include "tools/demo/demo_identity.h"
#include "tools/demo/demo_motion.h"
#include "tools/ko/teeth_attach.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr int kSamplesPerFrame = 640;
constexpr size_t kUtteranceSamples = 4 * 16000;
constexpr std::chrono::milliseconds kFramePeriod{40};

struct DemoSpeaker {
  DemoSpeaker() {
    ko::demo::writeDemoBundle(ko::demo::fullRecipe(), bundle);
    setenv("W2V_ONNX", (motion + "/w2v_8s.onnx").c_str(), 1);
  }
  ko::test::TempDir tmp;
  std::string bundle = tmp / "demo", motion = bundle + "/" + ko::demo::kMotionDir;
};

const DemoSpeaker& speaker() {
  static const DemoSpeaker made;
  return made;
}

const std::vector<int16_t>& utterance() {
  static const std::vector<int16_t> samples = ko::test::speechSamples(kUtteranceSamples);
  return samples;
}

// A session and a pipeline on it whose model has loaded.
class Pipeline {
 public:
  explicit Pipeline(bool teeth = false)
      : session_(ko_create(speaker().bundle.c_str(), ko::demo::kDemoModelKey, 0, nullptr)) {
    if (!session_) throw std::runtime_error(ko_last_error());
    ko_utt_opts opts{};
    opts.motion_dir = speaker().motion.c_str();
    opts.steady_model = "-";
    utt_ = ko_utt_create(session_.get(), &opts);
    if (!utt_) throw std::runtime_error(ko_utt_last_error());
    while (ko_utt_ready(utt_) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (ko_utt_ready(utt_) != 1) throw std::runtime_error(ko_utt_last_error());
    if (teeth) {
      const ko::cli::TeethArming arming = ko::cli::attachBundleTeeth(utt_, speaker().bundle);
      if (!arming.refusal.empty()) throw std::runtime_error(arming.refusal);
    }
    frame_.resize(static_cast<size_t>(ko_width(session_.get())) * ko_height(session_.get()) * 3);
  }
  ~Pipeline() { ko_utt_destroy(utt_); }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  ko_utt* utt() const { return utt_; }
  // The next frame, waiting for it; its kind.
  int32_t pull() {
    ko_utt_frame_info info{};
    while (ko_utt_pull_frame(utt_, frame_.data(), frame_.size(), &info) != 1) std::this_thread::yield();
    return info.kind;
  }
  // Pulls until the idle video is back after the utterance.
  void pullToIdle() {
    while (pull() != 0) {
    }
  }

  ko::RenderStats renderStats() { return ko::sessionRenderer(*session_).stats(); }
  ko::utt::StageTotals stages() { return utt_->pipeline.stageTotals(); }

 private:
  ko::test::SessionHandle session_;
  ko_utt* utt_ = nullptr;
  std::vector<uint8_t> frame_;
};

// Per speech frame: the work of the render stage outside ONNX Runtime's run, and the paste.
void reportStages(benchmark::State& state, Pipeline& pipeline, const ko::RenderStats& before,
                  const ko::utt::StageTotals& from) {
  const ko::RenderStats after = pipeline.renderStats();
  const ko::utt::StageTotals to = pipeline.stages();
  const double runs = static_cast<double>(after.runCount - before.runCount);
  const double ortMs = runs > 0 ? (after.runMs - before.runMs) / runs : 0.0;
  const double rendered = static_cast<double>(to.speechRendered - from.speechRendered);
  const double renderWork = (to.renderMs - from.renderMs) - (to.renderWaitMs - from.renderWaitMs);
  const double pastes = static_cast<double>(to.pasteJobs - from.pasteJobs);
  state.counters["ort_ms"] = ortMs;
  state.counters["render_outside_ort_ms"] = rendered > 0 ? renderWork / rendered - ortMs : 0.0;
  state.counters["paste_ms"] = pastes > 0 ? (to.pasteMs - from.pasteMs) / pastes : 0.0;
  const double teethJobs = static_cast<double>(to.teethJobs - from.teethJobs);
  if (teethJobs > 0) state.counters["teeth_ms"] = (to.teethMs - from.teethMs) / teethJobs;
  state.counters["outside_ort_ms"] =
      state.counters["render_outside_ort_ms"].value + state.counters["paste_ms"].value;
}

void speechThroughput(benchmark::State& state, bool teeth) {
  Pipeline pipeline(teeth);
  const std::vector<int16_t>& speech = utterance();
  const ko::RenderStats before = pipeline.renderStats();
  const ko::utt::StageTotals from = pipeline.stages();
  for (auto _ : state) {
    ko_utt_push_audio(pipeline.utt(), speech.data(), static_cast<int>(speech.size()));
    ko_utt_end_utterance(pipeline.utt());
    while (pipeline.pull() != 1) {
    }
    pipeline.pullToIdle();
  }
  state.counters["frames_per_s"] = benchmark::Counter(
      static_cast<double>(state.iterations() * static_cast<int64_t>(speech.size() / kSamplesPerFrame)),
      benchmark::Counter::kIsRate);
  reportStages(state, pipeline, before, from);
}

void BM_UttSpeechThroughput(benchmark::State& state) {
  speechThroughput(state, false);
}

void BM_UttSpeechThroughputTeeth(benchmark::State& state) {
  speechThroughput(state, true);
}

std::vector<float> floats(const std::vector<int16_t>& samples) {
  std::vector<float> out(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) out[i] = samples[i] / 32768.0f;
  return out;
}

void BM_HostSerialSpeech(benchmark::State& state) {
  const ko::test::SessionHandle session(
      ko_create(speaker().bundle.c_str(), ko::demo::kDemoModelKey, 0, nullptr));
  ko_a2x* stream = ko_a2x_create(speaker().motion.c_str(), 0);
  const std::vector<float> speech = floats(utterance());
  std::vector<int> rows(32);
  std::vector<float> xs(32 * 63), kp(32 * 63);
  int64_t frames = 0;
  for (auto _ : state) {
    ko_a2x_reset(stream, 0, 1, 1);
    ko_a2x_push(stream, speech.data(), static_cast<int>(speech.size()));
    ko_a2x_finish(stream);
    for (int done = 0; done < ko_a2x_total(stream);) {
      const int got = ko_a2x_pull(stream, rows.data(), xs.data(), kp.data(), 32);
      for (int i = 0; i < got; ++i) {
        ko_render_kp_crop(session.get(), rows[static_cast<size_t>(i)], xs.data() + 63 * i,
                          kp.data() + 63 * i);
        benchmark::DoNotOptimize(ko_paste_last(session.get(), rows[static_cast<size_t>(i)]));
      }
      done += got;
      frames += got;
    }
  }
  ko_a2x_destroy(stream);
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
}

// The audio the model must have before frame 0 exists, as the time at which a live speaker's
// 40 ms pieces have delivered it.
double lookAheadMs() {
  ko_a2x* stream = ko_a2x_create(speaker().motion.c_str(), 0);
  const std::vector<float> speech = floats(utterance());
  int pieces = 0;
  while (ko_a2x_avail(stream) < 1 && static_cast<size_t>(pieces + 1) * kSamplesPerFrame <= speech.size()) {
    ko_a2x_push(stream, speech.data() + pieces * kSamplesPerFrame, kSamplesPerFrame);
    ++pieces;
  }
  ko_a2x_destroy(stream);
  return static_cast<double>((pieces - 1) * kFramePeriod.count());
}

void BM_UttRealtimeSpeech(benchmark::State& state) {
  Pipeline pipeline;
  const std::vector<int16_t>& speech = utterance();
  const double lookAhead = lookAheadMs();
  const ko::RenderStats before = pipeline.renderStats();
  const ko::utt::StageTotals from = pipeline.stages();
  double latency = 0, deliveredFps = 0;
  int64_t idleMidUtterance = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    Clock::time_point first{}, last{};
    int speechFrames = 0;
    for (size_t pushed = 0;;) {
      // Each 40 ms piece goes in as its period starts, as a microphone's would arrive.
      if (pushed < speech.size() && Clock::now() >= start + kFramePeriod * (pushed / kSamplesPerFrame)) {
        ko_utt_push_audio(pipeline.utt(), speech.data() + pushed, kSamplesPerFrame);
        pushed += kSamplesPerFrame;
        if (pushed == speech.size()) ko_utt_end_utterance(pipeline.utt());
      }
      if (ko_utt_frames_available(pipeline.utt()) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      const int32_t kind = pipeline.pull();
      if (kind == 2) break;
      // An idle frame between two speech frames would be a stall the viewer sees.
      if (kind == 0 && speechFrames > 0) ++idleMidUtterance;
      if (kind != 1) continue;
      last = Clock::now();
      if (speechFrames++ == 0) first = last;
    }
    pipeline.pullToIdle();
    latency += Milliseconds(first - start).count();
    deliveredFps += (speechFrames - 1) / std::chrono::duration<double>(last - first).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["delivered_fps"] = deliveredFps / n;
  state.counters["first_frame_ms"] = latency / n;
  state.counters["lookahead_ms"] = lookAhead;
  state.counters["idle_mid_utterance"] = static_cast<double>(idleMidUtterance);
  state.counters["first_frame_minus_lookahead_ms"] = latency / n - lookAhead;
  reportStages(state, pipeline, before, from);
}

void BM_UttInterrupt(benchmark::State& state) {
  Pipeline pipeline;
  const std::vector<int16_t>& speech = utterance();
  for (auto _ : state) {
    ko_utt_push_audio(pipeline.utt(), speech.data(), static_cast<int>(speech.size()));
    for (int spoken = 0; spoken < 10;) spoken += pipeline.pull() == 1 ? 1 : 0;
    const Clock::time_point interrupted = Clock::now();
    ko_utt_interrupt(pipeline.utt());
    while (pipeline.pull() != 2) {
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - interrupted).count());
    pipeline.pullToIdle();
  }
}

void countFrame(void* user, int, const uint8_t*, int, int) {
  ++*static_cast<int64_t*>(user);
}

// Times one FCA pass over the utterance on the stream's own model: the phase before any rendering.
double fcaMilliseconds(ko_stream& stream, const std::vector<float>& speech) {
  const int count = static_cast<int>(speech.size());
  const int frames = (count + kSamplesPerFrame - 1) / kSamplesPerFrame;
  std::vector<float> deltas(static_cast<size_t>(frames) * 63);
  const auto start = Clock::now();
  ko_fca_deltas(stream.fca.get(), speech.data(), count, deltas.data(), frames);
  return Milliseconds(Clock::now() - start).count();
}

void BM_OfflineStreamSpeech(benchmark::State& state) {
  ko_stream* stream =
      ko_stream_create(speaker().bundle.c_str(), (speaker().motion + "/w2v_8s.onnx").c_str(), 0, 0, 1.0f);
  if (!stream) {
    state.SkipWithError(ko_stream_last_error());
    return;
  }
  const std::vector<float> speech = floats(utterance());
  int64_t frames = 0;
  const ko::RenderStats before = ko::sessionRenderer(*stream->ctx).stats();
  const auto start = Clock::now();
  for (auto _ : state) {
    if (ko_stream_run(stream, speech.data(), static_cast<int>(speech.size()), countFrame, &frames) < 0) {
      state.SkipWithError(ko_stream_last_error());
      break;
    }
  }
  const double wallMs = Milliseconds(Clock::now() - start).count();
  const ko::RenderStats after = ko::sessionRenderer(*stream->ctx).stats();
  const double fcaMs = fcaMilliseconds(*stream, speech);
  ko_stream_destroy(stream);
  const double perFrame = frames > 0 ? 1.0 / static_cast<double>(frames) : 0.0;
  const double ortMs = (after.runMs - before.runMs) * perFrame;
  state.counters["frames_per_s"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["fca_ms"] = fcaMs;
  state.counters["ort_ms"] = ortMs;
  state.counters["outside_ort_ms"] =
      (wallMs - fcaMs * static_cast<double>(state.iterations())) * perFrame - ortMs;
}

}  // namespace

int main(int argc, char** argv) {
  return ko::bench::forEachThreadCount({2}, [&](int) {
    speaker();
    benchmark::RegisterBenchmark("BM_UttSpeechThroughput", BM_UttSpeechThroughput)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_UttSpeechThroughputTeeth", BM_UttSpeechThroughputTeeth)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_HostSerialSpeech", BM_HostSerialSpeech)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_UttRealtimeSpeech", BM_UttRealtimeSpeech)
        ->Iterations(2)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_UttInterrupt", BM_UttInterrupt)
        ->Iterations(5)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_OfflineStreamSpeech", BM_OfflineStreamSpeech)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    return ko::bench::runWithRatios(argc, argv,
                                    {{"BM_UttSpeechThroughput", "BM_HostSerialSpeech"},
                                     {"BM_UttSpeechThroughputTeeth", "BM_UttSpeechThroughput"},
                                     {"BM_OfflineStreamSpeech", "BM_UttSpeechThroughput"}});
  });
}
