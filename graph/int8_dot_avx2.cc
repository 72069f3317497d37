// Compiled with -mavx2 only: run only where the processor has AVX2.
#include "graph/int8_dot-inl.h"

namespace ko::int8conv {
namespace {

// Bytes widened to 16 bits and multiplied pairwise with vpmaddwd, which is exact (vpmaddubsw would
// saturate). Each group of four channels accumulates apart, each lane holding half a quad; the lane
// pairs are added at the end. The loops over the four groups are unrolled so they stay in registers.
struct Avx2Dot {
  struct Sums {
    __m256i v[4];  // channels 0-3, 4-7, 8-11, 12-15
  };
  using Weights = Sums;
  static Sums zero() {
    return {{_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()}};
  }
  static Weights load(const int8_t* w) {
    Weights widened;
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
      widened.v[i] = _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 16 * i)));
    }
    return widened;
  }
  static Sums add(Sums s, int32_t quad, const Weights& w) {
    const __m256i a = _mm256_broadcastq_epi64(_mm_cvtepu8_epi16(_mm_cvtsi32_si128(quad)));
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) s.v[i] = _mm256_add_epi32(s.v[i], _mm256_madd_epi16(a, w.v[i]));
    return s;
  }
  // hadd leaves the channels as 0 1 4 5 | 2 3 6 7; the permute puts them in order.
  static void store(const Sums& s, int32_t* acc) {
    for (int half = 0; half < 2; ++half) {
      const __m256i pairs = _mm256_hadd_epi32(s.v[2 * half], s.v[2 * half + 1]);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + 8 * half), _mm256_permute4x64_epi64(pairs, 0xD8));
    }
  }
};

}  // namespace

void rowSumsAvx2(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc) {
  // Four sums per pixel already: two pixels fill eight registers.
  rowSums<Avx2Dot, 2>(row, firstPixel, count, acc);
}

}  // namespace ko::int8conv
