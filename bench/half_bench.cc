// Half conversions of 64 Ki values (cache-resident, so the conversion itself is timed) against a
// plain F16C intrinsic loop, what a user with a modern x86 compiler would write by hand.
#include <benchmark/benchmark.h>
#include <immintrin.h>

#include <cstdio>
#include <vector>

#include "bench/support/ratio_report.h"
#include "simd/half.h"
#include "simd/simd.h"

namespace {

constexpr size_t kCount = size_t{1} << 16;

struct Buffers {
  std::vector<float> floats = std::vector<float>(kCount);
  std::vector<uint16_t> halves = std::vector<uint16_t>(kCount);
  Buffers() {
    for (size_t i = 0; i < kCount; ++i) floats[i] = static_cast<float>(i) * 0.37f - 9000.0f;
    for (size_t i = 0; i < kCount; ++i) halves[i] = ko::f32ToF16(floats[i]);
  }
};

Buffers& buffers() {
  static Buffers b;
  return b;
}

__attribute__((target("avx2,f16c"))) void f16cToHalf(const float* src, uint16_t* dst, size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m128i halves = _mm256_cvtps_ph(_mm256_loadu_ps(src + i), _MM_FROUND_TO_NEAREST_INT);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), halves);
  }
  ko::simd::f32ToF16(src + i, dst + i, count - i);
}

__attribute__((target("avx2,f16c"))) void f16cToFloat(const uint16_t* src, float* dst, size_t count) {
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm256_storeu_ps(dst + i, _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i))));
  }
  ko::halfToFloat(src + i, dst + i, count - i);
}

template <auto kConvert>
void BM_ToHalf(benchmark::State& state) {
  Buffers& b = buffers();
  for (auto _ : state) {
    kConvert(b.floats.data(), b.halves.data(), kCount);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

template <auto kConvert>
void BM_ToFloat(benchmark::State& state) {
  Buffers& b = buffers();
  for (auto _ : state) {
    kConvert(b.halves.data(), b.floats.data(), kCount);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

BENCHMARK(BM_ToHalf<ko::simd::f32ToF16>)->Name("BM_F32ToF16")->UseRealTime();
BENCHMARK(BM_ToHalf<f16cToHalf>)->Name("BM_F16cLoopToHalf")->UseRealTime();
BENCHMARK(BM_ToFloat<ko::simd::f16ToF32>)->Name("BM_F16ToF32")->UseRealTime();
BENCHMARK(BM_ToFloat<f16cToFloat>)->Name("BM_F16cLoopToFloat")->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  std::printf("kernels run on %s\n", ko::simd::target());
  return ko::bench::runWithRatios(
      argc, argv, {{"BM_F32ToF16", "BM_F16cLoopToHalf"}, {"BM_F16ToF32", "BM_F16cLoopToFloat"}});
}
