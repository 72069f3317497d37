// Distance terms of the teeth retrieval: per-element mean absolute colour difference, weighted and
// summed. Every intermediate is rounded to half exactly where the scalar definition rounds, and the
// sum runs in ascending index order through one float, so all targets return the same bits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/retrieve_kernels.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>
#include <cmath>

#include "hwy/highway.h"
#include "simd/half-inl.h"
#include "simd/half.h"
#include "simd/simd.h"

HWY_BEFORE_NAMESPACE();
namespace ko::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using FloatTag = hn::ScalableTag<float>;

HWY_INLINE float RoundedToHalf(float value) {
  return half_bits::toFloat(half_bits::fromFloatKeepingNaN(value));
}

// m = half((|half(a0 - b0)| + |half(a1 - b1)| + |half(a2 - b2)|) / 3) for element i.
HWY_INLINE float MeanDistance(const uint16_t* a, const uint16_t* b, size_t count, size_t i) {
  float sum = 0.0f;
  for (size_t c = 0; c < 3; ++c) {
    const size_t at = c * count + i;
    const float d = std::fabs(RoundedToHalf(half_bits::toFloat(a[at]) - half_bits::toFloat(b[at])));
    sum = c == 0 ? d : sum + d;
  }
  return RoundedToHalf(sum / 3.0f);
}

HWY_INLINE hn::Vec<FloatTag> MeanDistances(const uint16_t* HWY_RESTRICT a, const uint16_t* HWY_RESTRICT b,
                                           size_t count, size_t i) {
  const FloatTag d;
  auto sum = hn::Zero(d);
  for (size_t c = 0; c < 3; ++c) {
    const size_t at = c * count + i;
    const auto diff = hn::Abs(RoundThroughHalf(d, hn::Sub(LoadHalves(d, a + at), LoadHalves(d, b + at))));
    sum = c == 0 ? diff : hn::Add(sum, diff);
  }
  return RoundThroughHalf(d, hn::Div(sum, hn::Set(d, 3.0f)));
}

// Adds the lanes of `terms` to `sum` lowest lane first.
HWY_INLINE float AddLanesInOrder(float sum, hn::Vec<FloatTag> terms) {
  const FloatTag d;
  HWY_ALIGN float lanes[hn::MaxLanes(d)];
  hn::Store(terms, d, lanes);
  for (size_t l = 0; l < hn::Lanes(d); ++l) sum += lanes[l];
  return sum;
}

float RetrieveTermPooled(const uint16_t* HWY_RESTRICT a, const uint16_t* HWY_RESTRICT b,
                         const uint16_t* HWY_RESTRICT weights, size_t count) {
  const FloatTag d;
  const size_t lanes = hn::Lanes(d);
  float sum = 0.0f;
  size_t i = 0;
  for (; i + lanes <= count; i += lanes) {
    sum = AddLanesInOrder(
        sum, RoundThroughHalf(d, hn::Mul(MeanDistances(a, b, count, i), LoadHalves(d, weights + i))));
  }
  for (; i < count; ++i) sum += RoundedToHalf(MeanDistance(a, b, count, i) * half_bits::toFloat(weights[i]));
  return sum;
}

float RetrieveTermExactRange(const uint16_t* HWY_RESTRICT a, const uint16_t* HWY_RESTRICT b,
                             const float* HWY_RESTRICT weights, size_t count, size_t begin, size_t end) {
  const FloatTag d;
  const size_t lanes = hn::Lanes(d);
  end = std::min(end, count);
  float sum = 0.0f;
  size_t i = begin;
  for (; i + lanes <= end; i += lanes) {
    const auto w = hn::LoadU(d, weights + i);
    sum = AddLanesInOrder(
        sum, hn::IfThenZeroElse(hn::Eq(w, hn::Zero(d)), hn::Mul(w, MeanDistances(a, b, count, i))));
  }
  for (; i < end; ++i) sum += weights[i] == 0.0f ? 0.0f : weights[i] * MeanDistance(a, b, count, i);
  return sum;
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko::simd {

HWY_EXPORT(RetrieveTermPooled);
HWY_EXPORT(RetrieveTermExactRange);

float retrieveTermPooled(const uint16_t* a, const uint16_t* b, const uint16_t* weights, size_t count) {
  return HWY_DYNAMIC_DISPATCH(RetrieveTermPooled)(a, b, weights, count);
}

float retrieveTermExact(const uint16_t* a, const uint16_t* b, const float* weights, size_t count) {
  return HWY_DYNAMIC_DISPATCH(RetrieveTermExactRange)(a, b, weights, count, 0, count);
}

float retrieveTermExactRange(const uint16_t* a, const uint16_t* b, const float* weights, size_t count,
                             size_t begin, size_t end) {
  return HWY_DYNAMIC_DISPATCH(RetrieveTermExactRange)(a, b, weights, count, begin, end);
}

}  // namespace ko::simd
#endif
