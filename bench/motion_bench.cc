// The motion stream's own work beside its networks' on the synthetic motion directory.
//   BM_MelFrontEnd    one analysis window (5 frames, 200 ms of audio): reflection, window, 21 real
//                     transforms of 512 points, magnitudes, 80 mel dot products per hop and logs.
//   BM_StudentRun     the speech network's ONNX Runtime run on that window's log-mel block.
//   BM_StreamSecond   one second of live audio pushed in 40 ms pieces and pulled as it comes, in a
//                     long utterance; counters per second of audio: "ort_ms" (inside ONNX Runtime),
//                     "own_ms" (the rest) and "realtime" (audio seconds per wall second).
#include <benchmark/benchmark.h>

#include <chrono>

#include "audio/audio.h"
#include "bench/support/ratio_report.h"
#include "tests/support/motion_fixture.h"

namespace {

using namespace ko::motion;

const ko::test::MotionFixture& fixture() {
  static const ko::test::MotionFixture shared;
  return shared;
}

void BM_MelFrontEnd(benchmark::State& state) {
  const MotionTables tables = readMotionTables(fixture().dir.path());
  MelFrontEnd front(tables.window, tables.melMatrix);
  const std::vector<float> samples = ko::test::speechAudio(kWindowSamples);
  std::vector<float> mel(kMelBands * kHops);
  for (auto _ : state) {
    front.logMel(samples.data(), mel.data());
    benchmark::DoNotOptimize(mel.data());
  }
}

void BM_StudentRun(benchmark::State& state) {
  Ort::Env env(ORT_LOGGING_LEVEL_WARNING, "bench");
  const Ort::SessionOptions options = motionSessionOptions(1, "", fixture().dir.path());
  Net student = Net::open(env, fixture().dir / "hubert_student.onnx", options, {kMelBands * kHops},
                          kStudentFrames * kSpeechFeatures);
  const std::vector<float> mel(kMelBands * kHops, -3.0f);
  std::vector<float> out(kStudentFrames * kSpeechFeatures);
  ko::NetworkTime time;
  for (auto _ : state) student.run({mel.data()}, out.data(), time);
}

void BM_StreamSecond(benchmark::State& state) {
  MotionStream stream(fixture().dir.path(), 1, "");
  const std::vector<float> audio = ko::test::speechAudio(30 * 16000);
  ko::test::PulledFrames frames;
  size_t at = 0;
  double wall = 0;
  const ko::NetworkTime before = stream.networkTime();
  for (auto _ : state) {
    const auto began = std::chrono::steady_clock::now();
    for (int piece = 0; piece < 25; ++piece, at += ko::kSamplesPerFrame) {
      if (at + ko::kSamplesPerFrame > audio.size()) at = 0;
      stream.push(audio.data() + at, ko::kSamplesPerFrame);
      frames = {};
      ko::test::pullAll(stream, frames, 32);
    }
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  }
  const double seconds = static_cast<double>(state.iterations());
  const double ort = stream.networkTime().seconds - before.seconds;
  state.counters["ort_ms"] = 1000 * ort / seconds;
  state.counters["own_ms"] = 1000 * (wall - ort) / seconds;
  state.counters["realtime"] = seconds / wall;
}

BENCHMARK(BM_MelFrontEnd)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_StudentRun)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_StreamSecond)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  return ko::bench::runWithRatios(argc, argv, {{"BM_MelFrontEnd", "BM_StudentRun"}});
}
