// GridSampleFast against ONNX Runtime's own GridSample (bilinear, border, align_corners 0), each a
// one-node model run by ONNX Runtime on the director's shapes at the same intra-op thread counts.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/support/ratio_report.h"
#include "graph/custom_domain.h"
#include "simd/simd.h"
#include "tests/support/gridsample_model.h"

namespace {

using ko::test::GridSampleNode;

struct Case {
  int64_t channels;
  int64_t side;
  int threads;
  std::string label() const {
    return std::to_string(channels) + "x" + std::to_string(side) + "_t" + std::to_string(threads);
  }
};

struct Inputs {
  std::vector<int64_t> xShape, gridShape;
  std::vector<float> x, grid;
};

Inputs makeInputs(const Case& c) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  // A warp's grid: near the identity with displacements, some reaching past the border.
  std::uniform_real_distribution<float> displacement(-0.15f, 0.15f);
  Inputs in{{1, c.channels, c.side, c.side}, {1, c.side, c.side, 2}, {}, {}};
  in.x.resize(static_cast<size_t>(c.channels * c.side * c.side));
  for (float& v : in.x) v = value(rng);
  for (int64_t r = 0; r < c.side; ++r) {
    for (int64_t q = 0; q < c.side; ++q) {
      const auto centre = [&](int64_t i) {
        return (2.0f * static_cast<float>(i) + 1.0f) / static_cast<float>(c.side) - 1.0f;
      };
      in.grid.push_back(centre(q) + displacement(rng));
      in.grid.push_back(centre(r) + displacement(rng));
    }
  }
  return in;
}

void runModel(benchmark::State& state, GridSampleNode node, const Case& c) {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(c.threads);
  if (node == GridSampleNode::fast) ko::registerGridSampleFast(options);
  const std::vector<uint8_t> model = ko::test::gridSampleModel(node);
  Ort::Session session(ko::test::ortEnv(), model.data(), model.size(), options);
  const Inputs in = makeInputs(c);
  for (auto _ : state) {
    benchmark::DoNotOptimize(ko::test::runGridSample(session, in.x, in.xShape, in.grid, in.gridShape));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.x.size()));
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("kernels run on %s, ONNX Runtime %s\n", ko::simd::target(), Ort::GetVersionString().c_str());
  std::vector<ko::bench::Comparison> comparisons;
  for (const Case c : {Case{12, 512, 1}, Case{12, 512, 2}, Case{64, 64, 1}, Case{64, 64, 2}}) {
    const std::string ours = "BM_GridSampleFast_" + c.label();
    const std::string theirs = "BM_OrtGridSample_" + c.label();
    benchmark::RegisterBenchmark(ours.c_str(), runModel, GridSampleNode::fast, c)->UseRealTime();
    benchmark::RegisterBenchmark(theirs.c_str(), runModel, GridSampleNode::standard, c)->UseRealTime();
    comparisons.push_back({ours, theirs});
  }
  return ko::bench::runWithRatios(argc, argv, comparisons);
}
