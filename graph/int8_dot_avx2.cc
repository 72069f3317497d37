// Compiled with -mavx2 only: run only where the processor has AVX2.
#include "graph/int8_dot-inl.h"

namespace ko::int8conv {
namespace {

// Bytes widened to 16 bits and multiplied pairwise with vpmaddwd, which is exact (vpmaddubsw would
// saturate). Channels 0-3 and 4-7 accumulate apart, each lane holding half a quad; the lane pairs
// are added at the end.
struct Avx2Dot {
  struct Sums {
    __m256i low, high;
  };
  struct Weights {
    __m256i low, high;
  };
  static Sums zero() { return {_mm256_setzero_si256(), _mm256_setzero_si256()}; }
  static Weights load(const int8_t* w) {
    return {_mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w))),
            _mm256_cvtepi8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w + 16)))};
  }
  static Sums add(Sums s, int32_t quad, Weights w) {
    const __m256i a = _mm256_broadcastq_epi64(_mm_cvtepu8_epi16(_mm_cvtsi32_si128(quad)));
    return {_mm256_add_epi32(s.low, _mm256_madd_epi16(a, w.low)),
            _mm256_add_epi32(s.high, _mm256_madd_epi16(a, w.high))};
  }
  // hadd leaves the channels as 0 1 4 5 | 2 3 6 7; the permute puts them in order.
  static void store(Sums s, int32_t* acc) {
    const __m256i channels = _mm256_permute4x64_epi64(_mm256_hadd_epi32(s.low, s.high), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc), channels);
  }
};

}  // namespace

void rowSumsAvx2(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc) {
  // Two sums per pixel already: four pixels fill eight registers.
  rowSums<Avx2Dot, 4>(row, firstPixel, count, acc);
}

}  // namespace ko::int8conv
