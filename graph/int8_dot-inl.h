// The 256-bit tile shared by the instruction-set translation units; include only from those.
#pragma once

#include <immintrin.h>

#include <cstring>

#include "graph/int8_conv_kernels.h"
#include "graph/int8_dot.h"

namespace ko::int8conv {
namespace {

constexpr int64_t kQuadBytes = 4;
constexpr int64_t kBlockQuadBytes = kChannelBlock * kQuadBytes;

inline int32_t loadQuad(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// P pixels by one block of channels: one weight load per (tap, quad) serves P pixels. `Dot` adds
// the four products of one quad for every channel, exactly. The pixel loops are unrolled in full so
// the P sums stay in registers: as loops, GCC kept them in a stack array and every dot product
// waited on a store and a reload.
template <int P, class Dot>
inline void tile(const DotRow& row, const uint8_t* firstPixel, int32_t* acc) {
  typename Dot::Sums sums[P];
#pragma GCC unroll 16
  for (auto& s : sums) s = Dot::zero();
  for (int64_t tap = 0; tap < row.taps; ++tap) {
    const int8_t* w = row.blockWeights + tap * row.quads * kBlockQuadBytes;
    const uint8_t* in = firstPixel + row.tapOffsets[tap];
    for (int64_t quad = 0; quad < row.quads; ++quad, w += kBlockQuadBytes, in += kQuadBytes) {
      const typename Dot::Weights weights = Dot::load(w);
#pragma GCC unroll 16
      for (int p = 0; p < P; ++p) sums[p] = Dot::add(sums[p], loadQuad(in + p * row.pixelStep), weights);
    }
  }
#pragma GCC unroll 16
  for (int p = 0; p < P; ++p) Dot::store(sums[p], acc + p * kChannelBlock);
}

// kTile pixels keep kTile independent sums in flight, enough to hide the dot product's latency.
template <class Dot, int kTile>
inline void rowSums(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc) {
  int64_t p = 0;
  for (; p + kTile <= count; p += kTile) {
    tile<kTile, Dot>(row, firstPixel + p * row.pixelStep, acc + p * kChannelBlock);
  }
  for (; p < count; ++p) tile<1, Dot>(row, firstPixel + p * row.pixelStep, acc + p * kChannelBlock);
}

// The 256-bit VNNI form: vpdpbusd adds the four u8 x s8 products of each 32-bit lane without
// saturation; a block takes two vectors, channels 0-7 and 8-15.
template <class Add>
struct Vnni256 {
  struct Sums {
    __m256i low, high;
  };
  using Weights = Sums;
  static Sums zero() { return {_mm256_setzero_si256(), _mm256_setzero_si256()}; }
  static Weights load(const int8_t* w) {
    return {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(w)),
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 32))};
  }
  static Sums add(Sums s, int32_t quad, Weights w) {
    const __m256i a = _mm256_set1_epi32(quad);
    return {Add::dot(s.low, a, w.low), Add::dot(s.high, a, w.high)};
  }
  static void store(Sums s, int32_t* acc) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc), s.low);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(acc + 8), s.high);
  }
};

}  // namespace
}  // namespace ko::int8conv
