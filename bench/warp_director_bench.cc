// The director's warp block (source cone, GridSample and recombination, standard ONNX nodes) against
// the one WarpDirector node that replaces it, each run by ONNX Runtime on the director's shapes at the
// same intra-op thread counts.
#include <benchmark/benchmark.h>
#include <onnxruntime_cxx_api.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/support/ratio_report.h"
#include "graph/custom_domain.h"
#include "graph/warp_director.h"
#include "tests/support/warp_block_model.h"

namespace {

using ko::test::FloatTensor;

constexpr int64_t kSide = 512;

enum class Path { block, director };

// cx or cy of one normalised coordinate, as the director computes it beside the block.
float correction(float g) {
  const float v = ((1.0f + g) * static_cast<float>(kSide) - 1.0f) * 0.5f;
  const float fr = v - std::floor(v);
  return ((1.0f - fr) * fr) * 0.5f;
}

// P_rgb, a warp's grid (near the identity with displacements, some reaching past the border) and the
// corrections the block reads.
struct Inputs {
  FloatTensor prgb{{1, 3, kSide, kSide}, {}};
  FloatTensor grid{{1, kSide, kSide, 2}, {}};
  FloatTensor cx{{1, 1, kSide, kSide}, {}};
  FloatTensor cy{{1, 1, kSide, kSide}, {}};
};

Inputs makeInputs() {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  std::uniform_real_distribution<float> displacement(-0.15f, 0.15f);
  Inputs in;
  in.prgb.values.resize(static_cast<size_t>(3 * kSide * kSide));
  for (float& v : in.prgb.values) v = value(rng);
  const auto centre = [](int64_t i) { return (2.0f * static_cast<float>(i) + 1.0f) / kSide - 1.0f; };
  for (int64_t r = 0; r < kSide; ++r) {
    for (int64_t q = 0; q < kSide; ++q) {
      const float gx = centre(q) + displacement(rng), gy = centre(r) + displacement(rng);
      in.grid.values.insert(in.grid.values.end(), {gx, gy});
      in.cx.values.push_back(correction(gx));
      in.cy.values.push_back(correction(gy));
    }
  }
  return in;
}

Ort::Value valueOf(const FloatTensor& tensor) {
  static const Ort::MemoryInfo memory = Ort::MemoryInfo::CreateCpu(OrtArenaAllocator, OrtMemTypeDefault);
  // ONNX Runtime only reads an input, whatever the pointer's constness says.
  return Ort::Value::CreateTensor<float>(memory, const_cast<float*>(tensor.values.data()),
                                         tensor.values.size(), tensor.shape.data(), tensor.shape.size());
}

void runPath(benchmark::State& state, Path path, int threads) {
  Ort::SessionOptions options;
  options.SetIntraOpNumThreads(threads);
  ko::registerWarpDirector(options);
  const std::vector<uint8_t> model =
      path == Path::block ? ko::test::warpBlockModel({.height = kSide, .width = kSide, .bare = true})
                          : ko::test::warpDirectorModel();
  Ort::Session session(ko::test::ortEnv(), model.data(), model.size(), options);
  const Inputs in = makeInputs();
  std::vector<const char*> names;
  std::vector<Ort::Value> values;
  if (path == Path::block) {
    names = {"P_rgb", "grid", "cx", "cy"};
    for (const FloatTensor* t : {&in.prgb, &in.grid, &in.cx, &in.cy}) values.push_back(valueOf(*t));
  } else {
    names = {"S", "grid"};
    for (const FloatTensor* t : {&in.prgb, &in.grid}) values.push_back(valueOf(*t));
  }
  const char* output = "Y";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        session.Run(Ort::RunOptions(), names.data(), values.data(), values.size(), &output, 1));
  }
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}

}  // namespace

int main(int argc, char** argv) {
  std::printf("WarpDirector body %s, ONNX Runtime %s\n", ko::warpBody(), Ort::GetVersionString().c_str());
  std::vector<ko::bench::Comparison> comparisons;
  for (const int threads : {1, 2}) {
    const std::string label = "3x512_t" + std::to_string(threads);
    const std::string ours = "BM_WarpDirector_" + label;
    const std::string theirs = "BM_OrtWarpBlock_" + label;
    benchmark::RegisterBenchmark(ours.c_str(), runPath, Path::director, threads)->UseRealTime();
    benchmark::RegisterBenchmark(theirs.c_str(), runPath, Path::block, threads)->UseRealTime();
    comparisons.push_back({ours, theirs});
  }
  return ko::bench::runWithRatios(argc, argv, comparisons);
}
