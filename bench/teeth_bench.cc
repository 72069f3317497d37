// The teeth pass on a full-size mouth (a 512 crop, a 128 x 96 window with a pad of 16, 1024 donors,
// the serving knobs' usual values) at 1 and 2 pool threads: one frame through the pass, its stages
// (retrieval with and without the exact shortlist, the candidate gather, the blend head), and the
// head against ONNX Runtime running the same three convolutions on the same candidates.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/support/ratio_report.h"
#include "bench/support/thread_runs.h"
#include "pool/pool.h"
#include "simd/simd.h"
#include "tessera/teeth_pass.h"
#include "tests/support/ort_run.h"
#include "tests/support/teeth_scene.h"
#include "tools/authoring/model_writer.h"

namespace {

using ko::tessera::FrameResult;

constexpr int32_t kDonors = 1024;
constexpr int32_t kCandidates = 64;

// canvas 512, window 128 x 96 at (192, 320), pad 16, band rows [16, 80) and columns [16, 112),
// shift margin 8.
constexpr ko::tessera::GeometryStamp kFullStamp{512, 512, 192, 320, 128, 96, 16, 16, 80, 16, 112, 8};

struct Scene {
  ko::test::TeethScene teeth = [] {
    ko::test::TeethScene scene = ko::test::teethScene(kDonors, 3, kFullStamp);
    scene.config = ko::tessera::ServeConfig();
    return scene;
  }();
  ko::test::TeethFrame frames[2] = {ko::test::teethFrame(teeth.bank, {0, 0}, 1),
                                    ko::test::teethFrame(teeth.bank, {1, -1}, 2)};
};

const Scene& scene() {
  static const Scene instance;
  return instance;
}

// Multiply-adds of the head's three convolutions per candidate at half size (48 x 64).
constexpr double kHeadFlops = 2.0 * 48 * 64 * (16 * 7 * 9 + 16 * 16 * 9 + 16 * 9) * kCandidates;

void BM_TeethPassFrame(benchmark::State& state) {
  const Scene& s = scene();
  ko::tessera::TeethPass pass(s.teeth.bank, s.teeth.weights, s.teeth.config);
  FrameResult result;
  int32_t frame = 0;
  for (auto _ : state) {
    const ko::test::TeethFrame& f = s.frames[frame % 2];
    pass.push(frame++, f.crop.data(), f.pi.data(), nullptr, result);
    benchmark::DoNotOptimize(result.window.data());
  }
  state.counters["candidates"] = result.n_chosen;
}

// Retrieval alone; with a shortlist of one, the exact scores cost next to nothing and what is left is
// the pooled scores over every donor.
void BM_TeethRetrieve(benchmark::State& state) {
  const Scene& s = scene();
  ko::tessera::ServeConfig config = s.teeth.config;
  config.kshort = static_cast<int32_t>(state.range(0));
  ko::tessera::TeethPass pass(s.teeth.bank, s.teeth.weights, config);
  const ko::test::TeethFrame& f = s.frames[0];
  for (auto _ : state) {
    const ko::tessera::RetrievalQuery query = pass.retrievePrepare(f.crop.data(), f.pi.data(), {0, 0});
    benchmark::DoNotOptimize(pass.retrieve(query).selected.data());
  }
}

struct HeadInputs {
  std::vector<float> candidates;
  std::vector<float> query = std::vector<float>(3 * 96 * 128, 0.5f);
  std::vector<uint8_t> valid = std::vector<uint8_t>(96 * 128, 1);

  explicit HeadInputs(const ko::tessera::TeethPass& pass) {
    std::vector<int32_t> donors(kCandidates);
    for (int32_t k = 0; k < kCandidates; ++k) donors[k] = k;
    candidates = pass.gatherWindowsU8(donors, {0, 0});
  }
};

void BM_TeethGather(benchmark::State& state) {
  const Scene& s = scene();
  const ko::tessera::TeethPass pass(s.teeth.bank, s.teeth.weights, s.teeth.config);
  std::vector<int32_t> donors(kCandidates);
  for (int32_t k = 0; k < kCandidates; ++k) donors[k] = 2 * k;
  std::vector<float> planes;
  for (auto _ : state) {
    pass.gatherWindowsU8(donors, {1, -1}, planes);
    benchmark::DoNotOptimize(planes.data());
  }
}

void BM_TeethHeadForward(benchmark::State& state) {
  const Scene& s = scene();
  const ko::tessera::TeethPass pass(s.teeth.bank, s.teeth.weights, s.teeth.config);
  const HeadInputs in(pass);
  std::vector<float> Y(3 * 96 * 128), w((kCandidates + 1) * 96 * 128);
  for (auto _ : state) {
    pass.headForward(in.candidates.data(), kCandidates, in.query.data(), in.valid.data(), Y.data(), w.data());
    benchmark::ClobberMemory();
  }
  state.counters["conv_flops"] =
      benchmark::Counter(kHeadFlops, benchmark::Counter::kIsIterationInvariantRate);
}

// The head's three convolutions as an ONNX graph over the 7-channel half-size inputs.
std::vector<uint8_t> headConvModel(const ko::tessera::HeadWeights& wt) {
  ko::authoring::ModelBuilder m;
  m.input("X", {kCandidates, 7, 48, 64}).output("L", {kCandidates, 1, 48, 64});
  m.initializer("w0", ko::authoring::floatTensor({16, 7, 3, 3}, wt.cand0_w))
      .initializer("b0", ko::authoring::floatTensor({16}, wt.cand0_b))
      .initializer("w2", ko::authoring::floatTensor({16, 16, 3, 3}, wt.cand2_w))
      .initializer("b2", ko::authoring::floatTensor({16}, wt.cand2_b))
      .initializer("w4", ko::authoring::floatTensor({1, 16, 3, 3}, wt.cand4_w))
      .initializer("b4", ko::authoring::floatTensor({1}, wt.cand4_b));
  const auto conv = [&m](const char* in, const char* w, const char* b, const char* out) {
    m.node("Conv", {in, w, b}, {out}).attrInts("pads", {1, 1, 1, 1});
  };
  conv("X", "w0", "b0", "c0");
  m.node("Relu", {"c0"}, {"r0"});
  conv("r0", "w2", "b2", "c2");
  m.node("Relu", {"c2"}, {"r2"});
  conv("r2", "w4", "b4", "L");
  return m.bytes();
}

void BM_OrtHeadConvs(benchmark::State& state) {
  const Scene& s = scene();
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(ko::pool::threads());
  const std::vector<uint8_t> model = headConvModel(s.teeth.weights);
  Ort::Session session(ko::test::ortEnv(), model.data(), model.size(), options);
  std::vector<float> x(static_cast<size_t>(kCandidates) * 7 * 48 * 64, 0.25f);
  const std::vector<int64_t> shape{kCandidates, 7, 48, 64};
  const auto memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  const Ort::Value input =
      Ort::Value::CreateTensor<float>(memory, x.data(), x.size(), shape.data(), shape.size());
  const char* inputName = "X";
  const char* outputName = "L";
  for (auto _ : state)
    benchmark::DoNotOptimize(session.Run(Ort::RunOptions(), &inputName, &input, 1, &outputName, 1));
}

BENCHMARK(BM_TeethPassFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TeethRetrieve)->Arg(512)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TeethGather)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TeethHeadForward)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OrtHeadConvs)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return ko::bench::forEachThreadCount({1, 2}, [&](int) {
    std::printf("kernels run on %s, %d pool threads, ONNX Runtime %s\n", ko::simd::target(),
                ko::pool::threads(), Ort::GetVersionString().c_str());
    return ko::bench::runWithRatios(argc, argv, {{"BM_TeethHeadForward", "BM_OrtHeadConvs"}});
  });
}
