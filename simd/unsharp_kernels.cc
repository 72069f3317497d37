// The two passes of the paste's unsharp mask. Every lane sums its taps from zero in ascending order
// with separate multiplies and adds, exactly as the per-element tails do, so all targets agree.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/unsharp_kernels.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"
#include "simd/simd.h"

HWY_BEFORE_NAMESPACE();
namespace ko::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using FloatTag = hn::ScalableTag<float>;

// NaN and everything below 0 become 0, everything above 255 becomes 255.
HWY_INLINE float ClampByte(float value) {
  return value > 0.0f ? (value < 255.0f ? value : 255.0f) : 0.0f;
}

HWY_INLINE hn::Vec<FloatTag> ClampByte(FloatTag d, hn::Vec<FloatTag> value) {
  const auto positive = hn::Gt(value, hn::Zero(d));
  return hn::IfThenElseZero(positive, hn::Min(value, hn::Set(d, 255.0f)));
}

void GaussTapsRange(const float* HWY_RESTRICT src, const float* HWY_RESTRICT taps, int32_t ntaps,
                    size_t begin, size_t end, float* HWY_RESTRICT dst) {
  const FloatTag d;
  const size_t lanes = hn::Lanes(d);
  size_t i = begin;
  for (; i + lanes <= end; i += lanes) {
    auto acc = hn::Zero(d);
    for (int32_t k = 0; k < ntaps; ++k)
      acc = hn::Add(acc, hn::Mul(hn::Set(d, taps[k]), hn::LoadU(d, src + i + k)));
    hn::StoreU(acc, d, dst + i);
  }
  for (; i < end; ++i) {
    float acc = 0.0f;
    for (int32_t k = 0; k < ntaps; ++k) acc = acc + taps[k] * src[i + k];
    dst[i] = acc;
  }
}

void SharpenRow(const float* HWY_RESTRICT blurred, size_t stride, const float* HWY_RESTRICT taps,
                int32_t ntaps, int32_t width, float amount, float* HWY_RESTRICT row) {
  const FloatTag d;
  const size_t lanes = hn::Lanes(d);
  const size_t n = width > 0 ? static_cast<size_t>(width) : 0;
  const float gain = 1.0f + amount;
  size_t x = 0;
  for (; x + lanes <= n; x += lanes) {
    auto acc = hn::Zero(d);
    for (int32_t k = 0; k < ntaps; ++k) {
      acc = hn::Add(acc, hn::Mul(hn::Set(d, taps[k]), hn::LoadU(d, blurred + k * stride + x)));
    }
    const auto sharp =
        hn::Sub(hn::Mul(hn::LoadU(d, row + x), hn::Set(d, gain)), hn::Mul(acc, hn::Set(d, amount)));
    hn::StoreU(ClampByte(d, sharp), d, row + x);
  }
  for (; x < n; ++x) {
    float acc = 0.0f;
    for (int32_t k = 0; k < ntaps; ++k) acc = acc + taps[k] * blurred[k * stride + x];
    row[x] = ClampByte(row[x] * gain - acc * amount);
  }
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko::simd {

HWY_EXPORT(GaussTapsRange);
HWY_EXPORT(SharpenRow);

void gaussTapsRange(const float* src, const float* taps, int32_t ntaps, size_t begin, size_t end,
                    float* dst) {
  HWY_DYNAMIC_DISPATCH(GaussTapsRange)(src, taps, ntaps, begin, end, dst);
}

void sharpenRow(const float* blurred, size_t stride, const float* taps, int32_t ntaps, int32_t width,
                float amount, float* row) {
  HWY_DYNAMIC_DISPATCH(SharpenRow)(blurred, stride, taps, ntaps, width, amount, row);
}

}  // namespace ko::simd
#endif
