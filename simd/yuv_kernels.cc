// BT.601 limited-range YUV 4:2:0 rows to packed RGB24.
//
// The reference arithmetic is 32-bit: R = (298(Y-16) + 409V + 128) >> 8 and likewise for G and B.
// Splitting each coefficient into a multiple of 256 and a small rest gives the same floor in 16-bit
// lanes, twice as many pixels per instruction:
//   R = a + V  + ((42a + 153V + 128) >> 8)
//   G = a - V  + ((42a - 100U + 48V + 128) >> 8)
//   B = a + 2U + ((42a + 4U + 128) >> 8)
// with a = Y - 16; every intermediate stays within int16 for all 8-bit inputs, and the saturating
// narrowing to bytes is the clamp to [0, 255].
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/yuv_kernels.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>

#include "hwy/highway.h"
#include "simd/simd.h"

HWY_BEFORE_NAMESPACE();
namespace ko::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using PixelTag = hn::ScalableTag<int16_t>;
using PixelBytesTag = hn::Rebind<uint8_t, PixelTag>;
using ChromaPairTag = hn::Repartition<uint32_t, PixelTag>;

// Repeats each chroma sample (one per 32-bit lane) for the two pixels it covers.
HWY_INLINE hn::Vec<PixelTag> Centered(hn::Vec<ChromaPairTag> chroma) {
  const auto twice = hn::Or(chroma, hn::ShiftLeft<16>(chroma));
  return hn::Sub(hn::BitCast(PixelTag(), twice), hn::Set(PixelTag(), 128));
}

// Chroma for pixels [x, x + lanes) of a planar row: lanes / 2 consecutive bytes from x / 2.
HWY_INLINE hn::Vec<PixelTag> PlanarChroma(const uint8_t* HWY_RESTRICT row, size_t x) {
  const hn::Rebind<uint8_t, ChromaPairTag> halfBytes;
  return Centered(hn::PromoteTo(ChromaPairTag(), hn::LoadU(halfBytes, row + x / 2)));
}

// Chroma for pixels [x, x + lanes) of an interleaved row: the even bytes from x.
HWY_INLINE hn::Vec<PixelTag> InterleavedChroma(const uint8_t* HWY_RESTRICT row, size_t x) {
  const hn::Repartition<uint16_t, PixelBytesTag> pairs;
  const auto words = hn::PromoteTo(ChromaPairTag(), hn::BitCast(pairs, hn::LoadU(PixelBytesTag(), row + x)));
  return Centered(hn::And(words, hn::Set(ChromaPairTag(), 0xFF)));
}

// Channels of one vector of pixels, before the clamp.
struct Rgb16 {
  hn::Vec<PixelTag> r, g, b;
};

HWY_INLINE Rgb16 ToRgb(hn::Vec<PixelTag> luma, hn::Vec<PixelTag> u, hn::Vec<PixelTag> v) {
  const PixelTag d;
  const auto a = hn::Sub(luma, hn::Set(d, 16));
  const auto base = hn::Add(hn::Mul(a, hn::Set(d, 42)), hn::Set(d, 128));
  const auto rRest = hn::Add(base, hn::Mul(v, hn::Set(d, 153)));
  const auto gRest = hn::Add(base, hn::Add(hn::Mul(u, hn::Set(d, -100)), hn::Mul(v, hn::Set(d, 48))));
  const auto bRest = hn::Add(base, hn::Mul(u, hn::Set(d, 4)));
  const auto r = hn::Add(hn::Add(a, v), hn::ShiftRight<8>(rRest));
  const auto g = hn::Add(hn::Sub(a, v), hn::ShiftRight<8>(gRest));
  const auto b = hn::Add(hn::Add(a, hn::Add(u, u)), hn::ShiftRight<8>(bRest));
  return {r, g, b};
}

// Narrows with saturation (the clamp to [0, 255]) and writes two vectors of pixels as RGB triples.
HWY_INLINE void StorePixels(const Rgb16& lo, const Rgb16& hi, uint8_t* HWY_RESTRICT rgb) {
  const PixelBytesTag d8;
  const hn::Twice<PixelBytesTag> d8x2;
  hn::StoreInterleaved3(hn::Combine(d8x2, hn::DemoteTo(d8, hi.r), hn::DemoteTo(d8, lo.r)),
                        hn::Combine(d8x2, hn::DemoteTo(d8, hi.g), hn::DemoteTo(d8, lo.g)),
                        hn::Combine(d8x2, hn::DemoteTo(d8, hi.b), hn::DemoteTo(d8, lo.b)), d8x2, rgb);
}

HWY_INLINE uint8_t ClampToByte(int32_t value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

template <bool kInterleaved>
HWY_INLINE Rgb16 PixelsAt(const uint8_t* HWY_RESTRICT luma, const uint8_t* HWY_RESTRICT u,
                          const uint8_t* HWY_RESTRICT v, size_t x) {
  const auto y = hn::PromoteTo(PixelTag(), hn::LoadU(PixelBytesTag(), luma + x));
  if constexpr (kInterleaved) return ToRgb(y, InterleavedChroma(u, x), InterleavedChroma(v, x));
  return ToRgb(y, PlanarChroma(u, x), PlanarChroma(v, x));
}

// Converts whole blocks of two vectors while they end at or before `limit`; returns where it stopped.
template <bool kInterleaved>
HWY_INLINE size_t ConvertBlocks(const uint8_t* HWY_RESTRICT luma, const uint8_t* HWY_RESTRICT u,
                                const uint8_t* HWY_RESTRICT v, size_t limit, uint8_t* HWY_RESTRICT rgb) {
  const size_t lanes = hn::Lanes(PixelTag());
  size_t x = 0;
  for (; x + 2 * lanes <= limit; x += 2 * lanes) {
    StorePixels(PixelsAt<kInterleaved>(luma, u, v, x), PixelsAt<kInterleaved>(luma, u, v, x + lanes),
                rgb + 3 * x);
  }
  return x;
}

void Yuv420RowToRgb24(const uint8_t* HWY_RESTRICT luma, const uint8_t* HWY_RESTRICT u,
                      const uint8_t* HWY_RESTRICT v, int32_t width, int32_t chromaStep,
                      uint8_t* HWY_RESTRICT rgb) {
  if (width < 1) return;
  const size_t count = static_cast<size_t>(width);
  size_t x = 0;
  if (chromaStep == 1) x = ConvertBlocks<false>(luma, u, v, count, rgb);
  // The interleaved loads read one byte past the last chroma pair they use; ending the blocks a
  // pixel early keeps that byte inside the row.
  if (chromaStep == 2) x = ConvertBlocks<true>(luma, u, v, count - 1, rgb);
  for (; x < count; ++x) {
    const size_t j = (x / 2) * static_cast<size_t>(chromaStep);
    const int32_t cu = u[j] - 128;
    const int32_t cv = v[j] - 128;
    const int32_t yc = 298 * (luma[x] - 16) + 128;
    rgb[3 * x] = ClampToByte((yc + 409 * cv) >> 8);
    rgb[3 * x + 1] = ClampToByte((yc - 100 * cu - 208 * cv) >> 8);
    rgb[3 * x + 2] = ClampToByte((yc + 516 * cu) >> 8);
  }
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko::simd {

HWY_EXPORT(Yuv420RowToRgb24);

void yuv420RowToRgb24(const uint8_t* luma, const uint8_t* u, const uint8_t* v, int32_t width,
                      int32_t chromaStep, uint8_t* rgb) {
  HWY_DYNAMIC_DISPATCH(Yuv420RowToRgb24)(luma, u, v, width, chromaStep, rgb);
}

}  // namespace ko::simd
#endif
