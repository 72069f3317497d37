// One destination row of the Lanczos paste: 8x8-tap resampling of the crop, blended into the frame
// through the bilinearly sampled mask. The crop comes as one pixel per entry (four floats) or in the
// row-pair layout (eight floats: the pixel, then the one below it), where one 256-bit load carries
// the same column of two neighbouring rows and the interior needs no shuffles.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/paste_kernels.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>
#include <cmath>

#include "hwy/highway.h"
#include "simd/simd.h"

HWY_BEFORE_NAMESPACE();
namespace ko::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The square crop and its mask, with the resampling tables.
struct CropView {
  const float* pixels;  // side x side entries of `stride` floats, the pixel's first
  size_t stride;
  const uint8_t* mask;  // side x side bytes
  int32_t side;
  const float* lanczos;   // 32 phases x 8 taps
  const float* bilinear;  // 32 phases x 2 taps

  float MaskAt(int32_t x, int32_t y) const {
    if (x < 0 || y < 0 || x >= side || y >= side) return 0.0f;
    return static_cast<float>(mask[y * side + x]);
  }
  const float* PixelAt(int32_t x, int32_t y) const {
    return pixels + (static_cast<size_t>(y) * side + x) * stride;
  }
};

// Mask coverage at the source position, rounded to whole mask steps, as a 0..1 weight.
HWY_INLINE float MaskAlpha(const CropView& crop, int32_t ix, int32_t iy, int32_t px, int32_t py) {
  const float bx0 = crop.bilinear[2 * px], bx1 = crop.bilinear[2 * px + 1];
  const float by0 = crop.bilinear[2 * py], by1 = crop.bilinear[2 * py + 1];
  const float top = bx0 * crop.MaskAt(ix, iy) + bx1 * crop.MaskAt(ix + 1, iy);
  const float bottom = bx0 * crop.MaskAt(ix, iy + 1) + bx1 * crop.MaskAt(ix + 1, iy + 1);
  return std::nearbyint(by0 * top + by1 * bottom) / 255.0f;
}

// Footprint wholly inside the crop: the four floats of a pixel travel as one vector. Each lane sums
// exactly like the bounds-checked path below.
HWY_INLINE void ResampleInside(const CropView& crop, int32_t ix, int32_t iy, const float* wx, const float* wy,
                               float* value) {
  const hn::FixedTag<float, 4> d;
  auto sum = hn::Zero(d);
  for (int32_t r = 0; r < 8; ++r) {
    const float* row = crop.PixelAt(ix - 3, iy - 3 + r);
    auto across = hn::Zero(d);
#pragma GCC unroll 8
    for (int32_t q = 0; q < 8; ++q)
      across = hn::Add(across, hn::Mul(hn::Set(d, wx[q]), hn::LoadU(d, row + crop.stride * q)));
    sum = hn::Add(sum, hn::Mul(hn::Set(d, wy[r]), across));
  }
  HWY_ALIGN float lanes[4];
  hn::Store(sum, d, lanes);
  for (int c = 0; c < 3; ++c) value[c] = lanes[c];
}

#if HWY_TARGET <= HWY_AVX2
// One pixel from the row-pair layout: each vector holds two neighbouring rows of one column, so the
// horizontal sums of rows 2p and 2p + 1 share their loads and multiplies. Each half sums exactly
// like ResampleInside.
HWY_INLINE void ResampleInsideRowPairs(const CropView& crop, int32_t ix, int32_t iy, const float* wx,
                                       const float* wy, float* value) {
  const hn::FixedTag<float, 4> d4;
  const hn::FixedTag<float, 8> d8;
  const size_t rowFloats = static_cast<size_t>(crop.side) * 8;
  const float* top = crop.PixelAt(ix - 3, iy - 3);
  auto sum = hn::Zero(d4);
  for (int32_t p = 0; p < 4; ++p) {
    const float* rows = top + 2 * p * rowFloats;
    auto across = hn::Zero(d8);
#pragma GCC unroll 8
    for (int32_t q = 0; q < 8; ++q)
      across = hn::Add(across, hn::Mul(hn::Set(d8, wx[q]), hn::LoadU(d8, rows + 8 * q)));
    const auto weighted =
        hn::Mul(hn::Combine(d8, hn::Set(d4, wy[2 * p + 1]), hn::Set(d4, wy[2 * p])), across);
    sum = hn::Add(hn::Add(sum, hn::LowerHalf(d4, weighted)), hn::UpperHalf(d4, weighted));
  }
  HWY_ALIGN float lanes[4];
  hn::Store(sum, d4, lanes);
  for (int c = 0; c < 3; ++c) value[c] = lanes[c];
}

#endif

// Footprint crossing the crop's edge: taps outside are left out, the rest keep their weights.
HWY_INLINE void ResampleAtEdge(const CropView& crop, int32_t ix, int32_t iy, const float* wx, const float* wy,
                               float* value) {
  for (int c = 0; c < 3; ++c) {
    float sum = 0.0f;
    for (int32_t r = 0; r < 8; ++r) {
      const int32_t y = iy - 3 + r;
      if (y < 0 || y >= crop.side) continue;
      float across = 0.0f;
      for (int32_t q = 0; q < 8; ++q) {
        const int32_t x = ix - 3 + q;
        if (x < 0 || x >= crop.side) continue;
        across = across + wx[q] * crop.PixelAt(x, y)[c];
      }
      sum = sum + wy[r] * across;
    }
    value[c] = sum;
  }
}

HWY_INLINE uint8_t Blend(uint8_t under, float alpha, float value) {
  const float d = static_cast<float>(under) * (1.0f - alpha) + alpha * value;
  if (d > 255.0f) return 255;
  return d >= 0.0f ? static_cast<uint8_t>(d) : 0;  // NaN lands on 0 too
}

HWY_INLINE bool FootprintInside(const CropView& crop, int32_t ix, int32_t iy) {
  return ix >= 3 && iy >= 3 && ix + 4 < crop.side && iy + 4 < crop.side;
}

// The mask weight and resampled colour of one frame pixel, three of each; a skipped pixel gets
// weight 0 and value 0, which blends back to exactly the byte that was there.
HWY_INLINE bool Sample(const CropView& crop, int32_t sx, int32_t sy, float* alpha, float* value) {
  for (int c = 0; c < 3; ++c) alpha[c] = 0.0f, value[c] = 0.0f;
  const int32_t ix = sx >> 10, iy = sy >> 10;
  if (sx < -1024 || sy < -1024 || ix >= crop.side || iy >= crop.side) return false;
  const int32_t px = (sx >> 5) & 31, py = (sy >> 5) & 31;
  const float weight = MaskAlpha(crop, ix, iy, px, py);
  if (weight <= 0.0f) return false;
  const float* wx = crop.lanczos + 8 * px;
  const float* wy = crop.lanczos + 8 * py;
  if (!FootprintInside(crop, ix, iy)) {
    ResampleAtEdge(crop, ix, iy, wx, wy, value);
#if HWY_TARGET <= HWY_AVX2
  } else if (crop.stride == 8) {
    ResampleInsideRowPairs(crop, ix, iy, wx, wy, value);
#endif
  } else {
    ResampleInside(crop, ix, iy, wx, wy, value);
  }
  for (int c = 0; c < 3; ++c) alpha[c] = weight;
  return true;
}

// Frame bytes [0, n) blended with their weights and values, rounded as Blend rounds.
HWY_INLINE void BlendRun(const float* HWY_RESTRICT alpha, const float* HWY_RESTRICT value, size_t n,
                         uint8_t* HWY_RESTRICT bytes) {
  const hn::ScalableTag<float> df;
  const hn::Rebind<int32_t, decltype(df)> di;
  const hn::Rebind<uint8_t, decltype(df)> du8;
  const size_t lanes = hn::Lanes(df);
  size_t i = 0;
  for (; i + lanes <= n; i += lanes) {
    const auto a = hn::Load(df, alpha + i);
    const auto under = hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(du8, bytes + i)));
    const auto d =
        hn::Add(hn::Mul(under, hn::Sub(hn::Set(df, 1.0f), a)), hn::Mul(a, hn::Load(df, value + i)));
    const auto clamped = hn::IfThenElseZero(hn::Ge(d, hn::Zero(df)), hn::Min(d, hn::Set(df, 255.0f)));
    hn::StoreU(hn::DemoteTo(du8, hn::ConvertTo(di, clamped)), du8, bytes + i);
  }
  for (; i < n; ++i) bytes[i] = Blend(bytes[i], alpha[i], value[i]);
}

// Pixels are sampled a batch at a time and the batch's bytes blended in one vector run.
constexpr int32_t kBatch = 64;

HWY_INLINE void PasteRow(const CropView& crop, const int32_t* HWY_RESTRICT xcol,
                         const int32_t* HWY_RESTRICT ycol, int32_t xrow, int32_t yrow, int32_t first,
                         int32_t last, uint8_t* HWY_RESTRICT dst) {
  HWY_ALIGN float alpha[3 * kBatch];
  HWY_ALIGN float value[3 * kBatch];
  for (int32_t start = first; start <= last; start += kBatch) {
    const int32_t count = std::min(kBatch, last - start + 1);
    bool any = false;
    for (int32_t j = 0; j < count; ++j) {
      const int32_t k = start + j - first;
      any |= Sample(crop, xcol[k] + xrow, ycol[k] + yrow, alpha + 3 * j, value + 3 * j);
    }
    if (any) BlendRun(alpha, value, 3 * static_cast<size_t>(count), dst + 3 * static_cast<size_t>(start));
  }
}

void PasteLanczos8Row(const float* HWY_RESTRICT pixels, int32_t side, const uint8_t* HWY_RESTRICT mask,
                      const float* HWY_RESTRICT lanczos, const float* HWY_RESTRICT bilinear,
                      const int32_t* HWY_RESTRICT xcol, const int32_t* HWY_RESTRICT ycol, int32_t xrow,
                      int32_t yrow, int32_t first, int32_t last, uint8_t* HWY_RESTRICT dst) {
  PasteRow(CropView{pixels, 4, mask, side, lanczos, bilinear}, xcol, ycol, xrow, yrow, first, last, dst);
}

void PasteLanczos8RowPairs(const float* HWY_RESTRICT pairs, int32_t side, const uint8_t* HWY_RESTRICT mask,
                           const float* HWY_RESTRICT lanczos, const float* HWY_RESTRICT bilinear,
                           const int32_t* HWY_RESTRICT xcol, const int32_t* HWY_RESTRICT ycol, int32_t xrow,
                           int32_t yrow, int32_t first, int32_t last, uint8_t* HWY_RESTRICT dst) {
  PasteRow(CropView{pairs, 8, mask, side, lanczos, bilinear}, xcol, ycol, xrow, yrow, first, last, dst);
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko::simd {

HWY_EXPORT(PasteLanczos8Row);
HWY_EXPORT(PasteLanczos8RowPairs);

void pasteLanczos8Row(const float* crop, int32_t side, const uint8_t* mask, const float* lanczos,
                      const float* bilinear, const int32_t* xcol, const int32_t* ycol, int32_t xrow,
                      int32_t yrow, int32_t first, int32_t last, uint8_t* dst) {
  HWY_DYNAMIC_DISPATCH(PasteLanczos8Row)
  (crop, side, mask, lanczos, bilinear, xcol, ycol, xrow, yrow, first, last, dst);
}

void pasteLanczos8RowPairs(const float* pairs, int32_t side, const uint8_t* mask, const float* lanczos,
                           const float* bilinear, const int32_t* xcol, const int32_t* ycol, int32_t xrow,
                           int32_t yrow, int32_t first, int32_t last, uint8_t* dst) {
  HWY_DYNAMIC_DISPATCH(PasteLanczos8RowPairs)
  (pairs, side, mask, lanczos, bilinear, xcol, ycol, xrow, yrow, first, last, dst);
}

}  // namespace ko::simd
#endif
