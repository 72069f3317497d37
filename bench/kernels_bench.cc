// The remaining pixel kernels against their plain scalar definitions (the tests' reference), on
// the sizes the paste and the teeth retrieval use: the ratio is the dispatched target's speed-up.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/support/ratio_report.h"
#include "paste/paste_tables.h"
#include "simd/half.h"
#include "simd/simd.h"
#include "tests/reference/simd_reference.h"

namespace {

std::vector<float> randomFloats(size_t count, float low, float high, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(low, high);
  std::vector<float> values(count);
  for (auto& v : values) v = value(rng);
  return values;
}

std::vector<uint16_t> randomHalves(size_t count, unsigned seed) {
  std::vector<uint16_t> halves;
  for (const float v : randomFloats(count, 0.0f, 1.0f, seed)) halves.push_back(ko::f32ToF16(v));
  return halves;
}

// A 512x512 crop.
constexpr size_t kPixels = 512 * 512;

template <auto kSplit>
void BM_PlanarHalf(benchmark::State& state) {
  std::vector<uint8_t> rgb(3 * kPixels);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 31);
  std::vector<uint16_t> planes(3 * kPixels);
  for (auto _ : state) {
    kSplit(rgb.data(), planes.data(), kPixels, kPixels);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kPixels);
}

// Teeth-window sized distance terms.
constexpr size_t kTerms = 96 * 160;

template <auto kTerm>
void BM_Pooled(benchmark::State& state) {
  const auto a = randomHalves(3 * kTerms, 1), b = randomHalves(3 * kTerms, 2), w = randomHalves(kTerms, 3);
  for (auto _ : state) benchmark::DoNotOptimize(kTerm(a.data(), b.data(), w.data(), kTerms));
  state.SetItemsProcessed(state.iterations() * kTerms);
}

float exactKernel(const uint16_t* a, const uint16_t* b, const float* w, size_t count) {
  return ko::simd::retrieveTermExact(a, b, w, count);
}
float exactReference(const uint16_t* a, const uint16_t* b, const float* w, size_t count) {
  return ko::reference::retrieveTermExactRange(a, b, w, count, 0, count);
}

template <auto kTerm>
void BM_Exact(benchmark::State& state) {
  const auto a = randomHalves(3 * kTerms, 1), b = randomHalves(3 * kTerms, 2);
  const auto w = randomFloats(kTerms, 0.0f, 2.0f, 3);
  for (auto _ : state) benchmark::DoNotOptimize(kTerm(a.data(), b.data(), w.data(), kTerms));
  state.SetItemsProcessed(state.iterations() * kTerms);
}

// Candidate scoring head: 8 candidates, 16 to 16 channels over a 48x64 window.
template <auto kConv>
void BM_Conv(benchmark::State& state) {
  constexpr int32_t n = 8, cin = 16, cout = 16, h = 48, w = 64;
  const auto in = randomFloats(n * cin * h * w, -1.0f, 1.0f, 4);
  const auto weights = randomFloats(cout * cin * 9, -0.2f, 0.2f, 5);
  const auto bias = randomFloats(cout, -0.1f, 0.1f, 6);
  std::vector<float> out(n * cout * h * w);
  for (auto _ : state) {
    kConv(in.data(), n, cin, h, w, weights.data(), bias.data(), cout, out.data(), 0, n * cout);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * n * cout * h * w);
}

// A 512 crop pasted slightly rotated and enlarged into 1080p rows, mask opaque, as in a real frame:
// the kernel on the row-pair layout against the scalar definition on four floats per pixel.
struct PasteScene {
  static constexpr int32_t side = 512, span = 600, frameWidth = 1920;
  std::vector<float> rgba = randomFloats(side * side * 4, 0.0f, 255.0f, 7);
  std::vector<float> pairs = rowPairsOf(rgba);
  std::vector<uint8_t> mask = std::vector<uint8_t>(side * side, 255);
  std::vector<float> padded = ko::paddedPasteMask(mask, side);
  std::vector<int32_t> sums = ko::pasteMaskSums(padded, side);
  std::vector<float> lanczos = ko::lanczosTable(), bilinear = ko::bilinearTable();
  std::vector<int32_t> xcol = std::vector<int32_t>(span), ycol = std::vector<int32_t>(span);
  std::vector<uint8_t> frame = std::vector<uint8_t>(3 * frameWidth * span, 90);
  static constexpr float scale = side / static_cast<float>(span), turn = 0.05f;

  PasteScene() {
    for (int32_t k = 0; k < span; ++k) {
      xcol[k] = static_cast<int32_t>(std::lrint(1024.0f * k * scale * std::cos(turn)));
      ycol[k] = static_cast<int32_t>(std::lrint(1024.0f * k * scale * std::sin(turn)));
    }
  }
  static std::vector<float> rowPairsOf(const std::vector<float>& rgba) {
    std::vector<float> planes(3 * side * side), pairs(8 * side * side, 0.0f);
    for (size_t i = 0; i < static_cast<size_t>(side) * side; ++i) {
      for (size_t c = 0; c < 3; ++c) planes[c * side * side + i] = rgba[4 * i + c];
    }
    const float* plane = planes.data();
    ko::simd::planesToRowPairs(plane, plane + side * side, plane + 2 * side * side, side, 0, side,
                               pairs.data());
    return pairs;
  }
  int32_t xrow(int32_t y) const {
    return static_cast<int32_t>(std::lrint(-1024.0f * y * scale * std::sin(turn))) + 16 + 12 * 1024;
  }
  int32_t yrow(int32_t y) const {
    return static_cast<int32_t>(std::lrint(1024.0f * y * scale * std::cos(turn))) + 16 - 12 * 1024;
  }
  uint8_t* row(int32_t y) { return &frame[3 * static_cast<size_t>(frameWidth) * y]; }
};

void BM_PasteLanczos8RowPairs(benchmark::State& state) {
  PasteScene s;
  for (auto _ : state) {
    for (int32_t y = 0; y < s.span; ++y) {
      ko::simd::pasteLanczos8RowPairs(s.pairs.data(), s.side, s.padded.data(), s.sums.data(),
                                      s.lanczos.data(), s.xcol.data(), s.ycol.data(), s.xrow(y), s.yrow(y),
                                      300, 300 + s.span - 1, s.row(y));
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * s.span * s.span);
}

void BM_ScalarPasteLanczos8Row(benchmark::State& state) {
  PasteScene s;
  for (auto _ : state) {
    for (int32_t y = 0; y < s.span; ++y) {
      ko::reference::pasteLanczos8Row(s.rgba.data(), s.side, s.mask.data(), s.lanczos.data(),
                                      s.bilinear.data(), s.xcol.data(), s.ycol.data(), s.xrow(y), s.yrow(y),
                                      300, 300 + s.span - 1, s.row(y));
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * s.span * s.span);
}

BENCHMARK(BM_PlanarHalf<ko::simd::rgb8ToPlanarF16>)->Name("BM_Rgb8ToPlanarF16")->UseRealTime();
BENCHMARK(BM_PlanarHalf<ko::reference::rgb8ToPlanarF16>)->Name("BM_ScalarRgb8ToPlanarF16")->UseRealTime();
BENCHMARK(BM_Pooled<ko::simd::retrieveTermPooled>)->Name("BM_RetrieveTermPooled")->UseRealTime();
BENCHMARK(BM_Pooled<ko::reference::retrieveTermPooled>)->Name("BM_ScalarRetrieveTermPooled")->UseRealTime();
BENCHMARK(BM_Exact<exactKernel>)->Name("BM_RetrieveTermExact")->UseRealTime();
BENCHMARK(BM_Exact<exactReference>)->Name("BM_ScalarRetrieveTermExact")->UseRealTime();
BENCHMARK(BM_Conv<ko::simd::conv3x3Range>)
    ->Name("BM_Conv3x3Range")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Conv<ko::reference::conv3x3Range>)
    ->Name("BM_ScalarConv3x3Range")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PasteLanczos8RowPairs)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ScalarPasteLanczos8Row)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::printf("kernels run on %s\n", ko::simd::target());
  return ko::bench::runWithRatios(argc, argv,
                                  {{"BM_Rgb8ToPlanarF16", "BM_ScalarRgb8ToPlanarF16"},
                                   {"BM_RetrieveTermPooled", "BM_ScalarRetrieveTermPooled"},
                                   {"BM_RetrieveTermExact", "BM_ScalarRetrieveTermExact"},
                                   {"BM_Conv3x3Range", "BM_ScalarConv3x3Range"},
                                   {"BM_PasteLanczos8RowPairs", "BM_ScalarPasteLanczos8Row"}});
}
