// Per-target half conversions shared by the kernels. Targets with F16C (AVX2 and up) use the
// processor's conversion; SSSE3 and SSE4 compute the same bits with integer operations, so every
// target agrees on every input, NaNs included.
#if defined(KO_SIMD_HALF_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef KO_SIMD_HALF_INL_H_
#undef KO_SIMD_HALF_INL_H_
#else
#define KO_SIMD_HALF_INL_H_
#endif

#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace ko::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

template <class DF>
using HalfBitsTag = hn::Rebind<uint16_t, DF>;

template <class DF>
HWY_INLINE hn::Vec<HalfBitsTag<DF>> FloatToHalfBits(DF df, hn::Vec<DF> v) {
#if HWY_TARGET <= HWY_AVX2
  (void)df;
  return hn::BitCast(HalfBitsTag<DF>(), hn::DemoteTo(hn::Rebind<hwy::float16_t, DF>(), v));
#else
  const hn::RebindToSigned<DF> di;
  const auto bits = hn::BitCast(di, v);
  const auto magnitude = hn::And(bits, hn::Set(di, 0x7FFFFFFF));
  const auto sign = hn::And(hn::ShiftRight<16>(bits), hn::Set(di, 0x8000));
  // Below 2^-14 the float adder rounds the subnormal half when 0.5 is added.
  const auto subnormal = hn::Sub(hn::BitCast(di, hn::Add(hn::BitCast(df, magnitude), hn::Set(df, 0.5f))),
                                 hn::Set(di, 0x3F000000));
  const auto lowestKept = hn::And(hn::ShiftRight<13>(magnitude), hn::Set(di, 1));
  const auto normal =
      hn::ShiftRight<13>(hn::Add(hn::Add(magnitude, hn::Set(di, 0xFFF - 0x38000000)), lowestKept));
  const auto nan = hn::Or(hn::Set(di, 0x7E00), hn::And(hn::ShiftRight<13>(magnitude), hn::Set(di, 0x3FF)));
  auto half = hn::IfThenElse(hn::Lt(magnitude, hn::Set(di, 0x38800000)), subnormal, normal);
  half = hn::IfThenElse(hn::Lt(magnitude, hn::Set(di, 0x477FF000)), half, hn::Set(di, 0x7C00));
  half = hn::IfThenElse(hn::Gt(magnitude, hn::Set(di, 0x7F800000)), nan, half);
  return hn::DemoteTo(HalfBitsTag<DF>(), hn::Or(half, sign));
#endif
}

template <class DF>
HWY_INLINE hn::Vec<DF> HalfBitsToFloat(DF df, hn::Vec<HalfBitsTag<DF>> halves) {
#if HWY_TARGET <= HWY_AVX2
  return hn::PromoteTo(df, hn::BitCast(hn::Rebind<hwy::float16_t, DF>(), halves));
#else
  const hn::RebindToSigned<DF> di;
  const auto bits = hn::BitCast(di, hn::PromoteTo(hn::RebindToUnsigned<DF>(), halves));
  const auto sign = hn::ShiftLeft<16>(hn::And(bits, hn::Set(di, 0x8000)));
  const auto exponent = hn::And(bits, hn::Set(di, 0x7C00));
  const auto mantissa = hn::And(bits, hn::Set(di, 0x3FF));
  const auto shifted = hn::ShiftLeft<13>(hn::And(bits, hn::Set(di, 0x7FFF)));
  const auto normal = hn::Add(shifted, hn::Set(di, 112 << 23));
  const auto quiet = hn::IfThenElseZero(hn::Ne(mantissa, hn::Zero(di)), hn::Set(di, 0x400000));
  const auto special = hn::Or(hn::Add(shifted, hn::Set(di, 224 << 23)), quiet);
  const auto subnormal = hn::BitCast(di, hn::Mul(hn::ConvertTo(df, mantissa), hn::Set(df, 0x1p-24f)));
  auto magnitude = hn::IfThenElse(hn::Eq(exponent, hn::Set(di, 0x7C00)), special, normal);
  magnitude = hn::IfThenElse(hn::Eq(exponent, hn::Zero(di)), subnormal, magnitude);
  return hn::BitCast(df, hn::Or(magnitude, sign));
#endif
}

// The value a float takes after a round trip through half precision.
template <class DF>
HWY_INLINE hn::Vec<DF> RoundThroughHalf(DF df, hn::Vec<DF> v) {
  return HalfBitsToFloat(df, FloatToHalfBits(df, v));
}

template <class DF>
HWY_INLINE hn::Vec<DF> LoadHalves(DF df, const uint16_t* HWY_RESTRICT src) {
  return HalfBitsToFloat(df, hn::LoadU(HalfBitsTag<DF>(), src));
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif  // KO_SIMD_HALF_INL_H_
