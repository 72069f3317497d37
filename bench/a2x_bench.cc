// One live block of an a2x stream (8 frames, 320 ms of audio: push, avail until caught up, pull) on
// the synthetic speech networks, with the short-window pair and with the legacy 8 s window; beside
// it the bare ONNX Runtime runs a host would make for the same block with the short window (trunk,
// head, one encoder band, eight decoder steps) and nothing else. Counters per block: "ort_ms", the
// time inside ONNX Runtime's runs; "own_ms", the rest (the library's own work: normalisation,
// interpolation, rounding, masks, copies, trims); "allocs", operator new calls in the whole block,
// ONNX Runtime's included.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

#include "bench/support/ratio_report.h"
#include "tests/support/a2x_fixture.h"
#include "tests/support/ort_run.h"

namespace {

std::atomic<int64_t> g_allocations{0};

constexpr int64_t kBlockSamples = 5120;

void liveBlocks(benchmark::State& state, bool pair) {
  ko::test::A2xSetup setup;
  setup.pair = pair;
  ko::test::A2xFixture fixture(setup);
  std::unique_ptr<ko::A2xStream> stream = fixture.stream(1);
  const std::vector<float> audio = ko::test::speechAudio(60 * 16000);
  ko::test::PulledFrames frames;
  size_t at = 0;
  const auto block = [&] {
    if (at + kBlockSamples > audio.size()) at = 0;
    stream->push(audio.data() + at, kBlockSamples);
    at += kBlockSamples;
    while (stream->avail() < stream->frameTarget() - stream->pulled && stream->extendFailure.empty()) {
    }
    frames.idx.clear();
    frames.xs.clear();
    frames.kp.clear();
    frames.wn.clear();
    ko::test::pullAll(*stream, frames, 8);
  };
  // Past the first trims, so the buffers have their steady sizes.
  for (int warm = 0; warm < 40; ++warm) block();
  const ko::NetworkTime encoderBefore = stream->features.encoderTime, streamBefore = stream->networkTime;
  const int64_t allocationsBefore = g_allocations.load();
  double wall = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    block();
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  if (!stream->extendFailure.empty()) state.SkipWithError(stream->extendFailure.c_str());
  const double blocks = static_cast<double>(state.iterations());
  const double ort = stream->features.encoderTime.seconds - encoderBefore.seconds +
                     stream->networkTime.seconds - streamBefore.seconds;
  state.counters["ort_ms"] = 1e3 * ort / blocks;
  state.counters["own_ms"] = 1e3 * (wall - ort) / blocks;
  state.counters["allocs"] = static_cast<double>(g_allocations.load() - allocationsBefore) / blocks;
}

// The same block's runs straight through ONNX Runtime, on prepared inputs.
void bareRuns(benchmark::State& state) {
  const ko::authoring::A2xRecipe net;
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(1);
  options.SetInterOpNumThreads(1);
  options.AddConfigEntry("session.intra_op.allow_spinning", "0");
  const auto open = [&](const std::vector<uint8_t>& bytes) {
    return Ort::Session(ko::test::ortEnv(), bytes.data(), bytes.size(), options);
  };
  Ort::Session trunk = open(ko::authoring::speechTrunk()), head = open(ko::authoring::speechHead());
  Ort::Session encoder = open(ko::authoring::a2xEncoder(net)), decoder = open(ko::authoring::a2xDecoder(net));
  const int64_t tokens = 8 + net.left * net.layers + net.window * net.layers;
  std::vector<float> window = ko::test::speechAudio(32000), columns(8 * 640, 0.1f);
  std::vector<float> feat(static_cast<size_t>(tokens) * 9216, 0.1f),
      pos(static_cast<size_t>(tokens * net.h), 0.1f);
  std::vector<float> mask(static_cast<size_t>(tokens * tokens), 0.0f);
  std::vector<float> ctx(static_cast<size_t>(net.h), 0.1f), prev(63, 0.0f), hidden(ctx.size(), 0.0f);
  const Ort::MemoryInfo cpu = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  const auto tensor = [&](std::vector<float>& values, std::initializer_list<int64_t> shape) {
    return Ort::Value::CreateTensor<float>(cpu, values.data(), values.size(), shape.begin(), shape.size());
  };
  Ort::Value outputs[] = {Ort::Value{nullptr}, Ort::Value{nullptr}};
  const auto run = [&](Ort::Session& session, const char* const* in, Ort::Value* values, size_t inputs,
                       const char* const* out, size_t count) {
    outputs[0] = Ort::Value{nullptr};
    outputs[1] = Ort::Value{nullptr};
    session.Run(Ort::RunOptions{nullptr}, in, values, inputs, out, outputs, count);
  };
  const char* trunkIo[] = {"input_values", "trunk_out"};
  const char* headIo[] = {"x", "emb"};
  const char* bandIn[] = {"feat", "pos_window", "attn"};
  const char* bandOut[] = {"hidden"};
  const char* stepIn[] = {"ctx_t", "prev", "h"};
  const char* stepOut[] = {"m", "h_out"};
  const int64_t allocationsBefore = g_allocations.load();
  for (auto _ : state) {
    Ort::Value trunkIn[] = {tensor(window, {1, 32000})};
    run(trunk, trunkIo, trunkIn, 1, trunkIo + 1, 1);
    Ort::Value headIn[] = {tensor(columns, {8, 640})};
    run(head, headIo, headIn, 1, headIo + 1, 1);
    Ort::Value band[] = {tensor(feat, {1, tokens, 12, 768}), tensor(pos, {1, tokens, net.h}),
                         tensor(mask, {1, 1, tokens, tokens})};
    run(encoder, bandIn, band, 3, bandOut, 1);
    for (int frame = 0; frame < 8; ++frame) {
      Ort::Value step[] = {tensor(ctx, {1, net.h}), tensor(prev, {1, 63}), tensor(hidden, {1, 1, net.h})};
      run(decoder, stepIn, step, 3, stepOut, 2);
    }
  }
  state.counters["allocs"] =
      static_cast<double>(g_allocations.load() - allocationsBefore) / static_cast<double>(state.iterations());
}

}  // namespace

// Counting replacements of the global allocation functions; g++ cannot see that they pair up.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
  std::free(memory);
}

void operator delete(void* memory, size_t) noexcept {
  std::free(memory);
}
#pragma GCC diagnostic pop

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("BM_A2xBlock_short_window", liveBlocks, true)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_A2xBlock_legacy", liveBlocks, false)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_A2xBlock_bare_ort_runs", bareRuns)
      ->UseRealTime()
      ->Unit(benchmark::kMillisecond);
  return ko::bench::runWithRatios(argc, argv,
                                  {{"BM_A2xBlock_short_window", "BM_A2xBlock_legacy"},
                                   {"BM_A2xBlock_short_window", "BM_A2xBlock_bare_ort_runs"}});
}
