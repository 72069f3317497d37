// Half-precision array conversions and the colour-to-half split of packed RGB.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/half_kernels.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"
#include "simd/half-inl.h"
#include "simd/half.h"
#include "simd/simd.h"

HWY_BEFORE_NAMESPACE();
namespace ko::simd::HWY_NAMESPACE {

void F32ToF16(const float* HWY_RESTRICT src, uint16_t* HWY_RESTRICT dst, size_t count) {
  const hn::ScalableTag<float> df;
  const size_t lanes = hn::Lanes(df);
  size_t i = 0;
  for (; i + lanes <= count; i += lanes) {
    hn::StoreU(FloatToHalfBits(df, hn::LoadU(df, src + i)), HalfBitsTag<decltype(df)>(), dst + i);
  }
  for (; i < count; ++i) dst[i] = half_bits::fromFloatKeepingNaN(src[i]);
}

void F16ToF32(const uint16_t* HWY_RESTRICT src, float* HWY_RESTRICT dst, size_t count) {
  const hn::ScalableTag<float> df;
  const size_t lanes = hn::Lanes(df);
  size_t i = 0;
  for (; i + lanes <= count; i += lanes) hn::StoreU(LoadHalves(df, src + i), df, dst + i);
  for (; i < count; ++i) dst[i] = half_bits::toFloat(src[i]);
}

void RoundF16Mul(const float* HWY_RESTRICT a, const float* HWY_RESTRICT b, float* HWY_RESTRICT dst,
                 size_t count) {
  const hn::ScalableTag<float> df;
  const size_t lanes = hn::Lanes(df);
  size_t i = 0;
  for (; i + lanes <= count; i += lanes) {
    hn::StoreU(hn::Mul(RoundThroughHalf(df, hn::LoadU(df, a + i)), hn::LoadU(df, b + i)), df, dst + i);
  }
  for (; i < count; ++i) dst[i] = half_bits::toFloat(half_bits::fromFloatKeepingNaN(a[i])) * b[i];
}

// half(byte / 255), divided in single precision like the scalar tail.
template <class DF>
HWY_INLINE hn::Vec<HalfBitsTag<DF>> ByteToUnitHalf(DF df, hn::Vec<hn::Rebind<uint8_t, DF>> bytes) {
  const auto values = hn::ConvertTo(df, hn::PromoteTo(hn::RebindToSigned<DF>(), bytes));
  return FloatToHalfBits(df, hn::Div(values, hn::Set(df, 255.0f)));
}

void Rgb8ToPlanarF16(const uint8_t* HWY_RESTRICT src, uint16_t* HWY_RESTRICT dst, size_t planeStride,
                     size_t count) {
  const hn::ScalableTag<float> df;
  const hn::Rebind<uint8_t, decltype(df)> d8;
  const HalfBitsTag<decltype(df)> dh;
  const size_t lanes = hn::Lanes(df);
  size_t i = 0;
  for (; i + lanes <= count; i += lanes) {
    hn::Vec<decltype(d8)> r, g, b;
    hn::LoadInterleaved3(d8, src + 3 * i, r, g, b);
    hn::StoreU(ByteToUnitHalf(df, r), dh, dst + i);
    hn::StoreU(ByteToUnitHalf(df, g), dh, dst + planeStride + i);
    hn::StoreU(ByteToUnitHalf(df, b), dh, dst + 2 * planeStride + i);
  }
  for (; i < count; ++i) {
    for (size_t c = 0; c < 3; ++c) {
      dst[c * planeStride + i] = half_bits::fromFloatKeepingNaN(static_cast<float>(src[3 * i + c]) / 255.0f);
    }
  }
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko::simd {

HWY_EXPORT(F32ToF16);
HWY_EXPORT(F16ToF32);
HWY_EXPORT(RoundF16Mul);
HWY_EXPORT(Rgb8ToPlanarF16);

void f32ToF16(const float* src, uint16_t* dst, size_t count) {
  HWY_DYNAMIC_DISPATCH(F32ToF16)(src, dst, count);
}

void f16ToF32(const uint16_t* src, float* dst, size_t count) {
  HWY_DYNAMIC_DISPATCH(F16ToF32)(src, dst, count);
}

void roundF16Mul(const float* a, const float* b, float* dst, size_t count) {
  HWY_DYNAMIC_DISPATCH(RoundF16Mul)(a, b, dst, count);
}

void rgb8ToPlanarF16(const uint8_t* src, uint16_t* dst, size_t planeStride, size_t count) {
  HWY_DYNAMIC_DISPATCH(Rgb8ToPlanarF16)(src, dst, planeStride, count);
}

}  // namespace ko::simd
#endif
