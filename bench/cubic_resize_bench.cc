// The head cubic-resize rewrite's chain (Pad edge + depthwise 5×5 Conv + DepthToSpace) against ONNX
// Runtime's own cubic Resize (half_pixel, ×2), each run by ONNX Runtime on the head's [1, 64, 256, 256]
// at the same intra-op thread counts.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>

#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "bench/support/ratio_report.h"
#include "graph/head_cubic_resize.h"
#include "graph/onnx_read.h"
#include "graph/rebuild.h"
#include "tests/support/cubic_head_model.h"
#include "tests/support/ort_run.h"

namespace {

constexpr int64_t kChannels = 64;
constexpr int64_t kSide = 256;

enum class Upsampler { chain, resize };

// The rewrite needs the Conv reading the Resize's output; it is taken out again afterwards, so both
// models compute the upsampling alone, with R as their only output.
std::vector<uint8_t> upsamplingModel(Upsampler upsampler) {
  std::vector<uint8_t> model =
      ko::test::cubicHeadModel({.channels = kChannels, .group = kChannels, .kernel = 1});
  if (upsampler == Upsampler::chain && ko::rewriteHeadCubicResize(model) != 1) {
    throw std::logic_error("the head model was not rewritten");
  }
  std::vector<ko::GsNodeInfo> nodes;
  std::unordered_set<std::string> initializers;
  std::unordered_set<std::string> inputs;
  ko::gsReadGraph(ko::gsGraphOf(ko::gsSliceOf(model)), nodes, initializers, inputs);
  std::vector<uint8_t> dropConsumer(nodes.size(), 0);
  dropConsumer.back() = 1;
  const std::string output = "R";
  const int64_t dims[] = {1, kChannels, -1, -1};
  ko::GsGraphEdit edit;
  edit.nodeDrops = &dropConsumer;
  edit.dropOutputs = true;
  edit.addName = &output;
  edit.addDims = dims;
  edit.addRank = 4;
  edit.addField = 12;
  std::vector<uint8_t> upsampling;
  ko::gsRebuild(ko::gsSliceOf(model), edit, upsampling);
  return upsampling;
}

void runUpsampler(benchmark::State& state, Upsampler upsampler, int threads) {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(threads);
  const std::vector<uint8_t> model = upsamplingModel(upsampler);
  Ort::Session session(ko::test::ortEnv(), model.data(), model.size(), options);
  std::vector<int64_t> shape{1, kChannels, kSide, kSide};
  std::vector<float> x(static_cast<size_t>(kChannels * kSide * kSide));
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  for (float& v : x) v = value(rng);
  const auto memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  const Ort::Value input =
      Ort::Value::CreateTensor<float>(memory, x.data(), x.size(), shape.data(), shape.size());
  const char* inputName = "X";
  const char* outputName = "R";
  for (auto _ : state) {
    benchmark::DoNotOptimize(session.Run(Ort::RunOptions(), &inputName, &input, 1, &outputName, 1));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(x.size()) * 4);
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("ONNX Runtime %s, input [1, %lld, %lld, %lld]\n", Ort::GetVersionString().c_str(),
              static_cast<long long>(kChannels), static_cast<long long>(kSide),
              static_cast<long long>(kSide));
  std::vector<ko::bench::Comparison> comparisons;
  for (const int threads : {1, 2}) {
    const std::string suffix = "_t" + std::to_string(threads);
    const std::string ours = "BM_CubicChain" + suffix;
    const std::string theirs = "BM_OrtCubicResize" + suffix;
    benchmark::RegisterBenchmark(ours.c_str(), runUpsampler, Upsampler::chain, threads)->UseRealTime();
    benchmark::RegisterBenchmark(theirs.c_str(), runUpsampler, Upsampler::resize, threads)->UseRealTime();
    comparisons.push_back({ours, theirs});
  }
  return ko::bench::runWithRatios(argc, argv, comparisons);
}
