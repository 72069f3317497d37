// One destination row of the Lanczos paste: 8x8-tap resampling of the crop, blended into the frame
// through the bilinearly sampled mask. The crop comes as one pixel per entry (four floats) or in the
// row-pair layout (eight floats: the pixel, then the one below it), where one 256-bit load carries
// the same column of two neighbouring rows and the interior needs no shuffles. Pixels go in
// batches: located (skip rule and mask weight), resampled, then blended as one vector run of bytes.
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

// Floats in one row-pair entry: a pixel and the pixel below it, four floats each.
constexpr size_t kEntry = 8;

// The square crop in the row-pair layout, with the Lanczos table.
struct CropView {
  const float* pixels;  // side x side row-pair entries of kEntry floats, the pixel's first
  int32_t side;
  const float* lanczos;  // 32 phases x 8 taps

  const float* PixelAt(int32_t x, int32_t y) const {
    return pixels + (static_cast<size_t>(y) * side + x) * kEntry;
  }
};

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
      across = hn::Add(across, hn::Mul(hn::Set(d, wx[q]), hn::LoadU(d, row + kEntry * q)));
    sum = hn::Add(sum, hn::Mul(hn::Set(d, wy[r]), across));
  }
  HWY_ALIGN float lanes[4];
  hn::Store(sum, d, lanes);
  for (int c = 0; c < 3; ++c) value[c] = lanes[c];
}

#if HWY_TARGET <= HWY_AVX2
// One pixel from the row-pair layout: each vector holds two neighbouring rows of one column, so the
// horizontal sums of rows 2p and 2p + 1 share their loads and multiplies. Each half sums like
// ResampleInside but starts from its first product instead of adding it to zero, which can only
// turn a -0 into +0 there; the blend maps both to the same byte. Writes four floats: the fourth is
// the next pixel's first, which that pixel overwrites.
HWY_INLINE void ResampleInsideRowPairs(const CropView& crop, int32_t ix, int32_t iy, const float* wx,
                                       const float* wy, float* value) {
  const hn::FixedTag<float, 4> d4;
  const hn::FixedTag<float, 8> d8;
  const size_t rowFloats = static_cast<size_t>(crop.side) * kEntry;
  const float* top = crop.PixelAt(ix - 3, iy - 3);
  const auto across = [&](int32_t p) {
    const float* rows = top + 2 * p * rowFloats;
    auto sum = hn::Mul(hn::Set(d8, wx[0]), hn::LoadU(d8, rows));
#pragma GCC unroll 7
    for (int32_t q = 1; q < 8; ++q)
      sum = hn::Add(sum, hn::Mul(hn::Set(d8, wx[q]), hn::LoadU(d8, rows + 8 * q)));
    return sum;
  };
  const auto upper = [&](int32_t p, hn::Vec<decltype(d8)> pair) {
    return hn::Mul(hn::Set(d4, wy[2 * p + 1]), hn::UpperHalf(d4, pair));
  };
  const auto first = across(0);
  auto sum = hn::Add(hn::Mul(hn::Set(d4, wy[0]), hn::LowerHalf(d4, first)), upper(0, first));
#pragma GCC unroll 3
  for (int32_t p = 1; p < 4; ++p) {
    const auto pair = across(p);
    sum = hn::Add(hn::Add(sum, hn::Mul(hn::Set(d4, wy[2 * p]), hn::LowerHalf(d4, pair))), upper(p, pair));
  }
  hn::StoreU(sum, d4, value);
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

// Pixels are located a batch at a time, then resampled, then the batch's bytes blended in one vector
// run.
constexpr int32_t kBatch = 64;

// Where the pixels of one batch sample the crop (10-bit fixed point) and their mask weights, 0 for
// a pixel left as it is.
struct Located {
  HWY_ALIGN int32_t sx[kBatch];
  HWY_ALIGN int32_t sy[kBatch];
  HWY_ALIGN float alpha[kBatch];
};

HWY_INLINE bool SourceInside(int32_t side, int32_t sx, int32_t sy) {
  return sx >= -1024 && sy >= -1024 && (sx >> 10) < side && (sy >> 10) < side;
}

// Locates a vector of pixels at a time from the mask as floats with a border of zeros, so the four
// mask samples of any pixel that passes the skip rule are plain gathers. The bilinear weights
// (1 - p / 32, p / 32) are exact in float, so they are computed rather than looked up, and the
// coverage is rounded to whole mask steps.
struct PaddedMaskLocator {
  const float* mask;    // (side + 2) x (side + 2)
  const int32_t* sums;  // (side + 3) x (side + 3)
  int32_t side;

  enum class Cover { transparent, opaque, mixed };

  // What the mask holds under the 2 x 2 mask samples of every pixel whose integer source position
  // lies in [x0, x1] x [y0, y1]. All 0 gives every such pixel weight 0 and all 255 weight 1 (the
  // bilinear weights sum to exactly 1), so neither needs the gathers.
  Cover Coverage(int32_t x0, int32_t x1, int32_t y0, int32_t y1) const {
    const int32_t n = side + 2, w = side + 3;
    const int32_t left = std::clamp(x0 + 1, 0, n), right = std::clamp(x1 + 3, 0, n);
    const int32_t top = std::clamp(y0 + 1, 0, n), bottom = std::clamp(y1 + 3, 0, n);
    if (left >= right || top >= bottom) return Cover::transparent;
    const int64_t sum = static_cast<int64_t>(sums[bottom * w + right]) - sums[top * w + right] -
                        sums[bottom * w + left] + sums[top * w + left];
    if (sum == 0) return Cover::transparent;
    const int64_t area = static_cast<int64_t>(right - left) * (bottom - top);
    return sum == 255 * area ? Cover::opaque : Cover::mixed;
  }

  float Alpha(int32_t sx, int32_t sy) const {
    const int32_t stride = side + 2;
    const float bx1 = static_cast<float>((sx >> 5) & 31) * (1.0f / 32.0f), bx0 = 1.0f - bx1;
    const float by1 = static_cast<float>((sy >> 5) & 31) * (1.0f / 32.0f), by0 = 1.0f - by1;
    const float* m = mask + ((sy >> 10) + 1) * stride + (sx >> 10) + 1;
    const float top = bx0 * m[0] + bx1 * m[1];
    const float bottom = bx0 * m[stride] + bx1 * m[stride + 1];
    return std::nearbyint(by0 * top + by1 * bottom) / 255.0f;
  }

  void operator()(const int32_t* xcol, const int32_t* ycol, int32_t xrow, int32_t yrow, int32_t count,
                  Located& out) const {
    const hn::ScalableTag<int32_t> di;
    const hn::Rebind<float, decltype(di)> df;
    const int32_t lanes = static_cast<int32_t>(hn::Lanes(di));
    const int32_t stride = side + 2;
    int32_t j = 0;
    for (; j + lanes <= count; j += lanes) {
      const auto sx = hn::Add(hn::LoadU(di, xcol + j), hn::Set(di, xrow));
      const auto sy = hn::Add(hn::LoadU(di, ycol + j), hn::Set(di, yrow));
      const auto ix = hn::ShiftRight<10>(sx), iy = hn::ShiftRight<10>(sy);
      const auto limit = hn::Set(di, side), below = hn::Set(di, -1025);
      const auto inside = hn::And(hn::And(hn::Gt(sx, below), hn::Gt(sy, below)),
                                  hn::And(hn::Lt(ix, limit), hn::Lt(iy, limit)));
      hn::Store(sx, di, out.sx + j);
      hn::Store(sy, di, out.sy + j);
      const Cover cover = Coverage(hn::GetLane(hn::MinOfLanes(di, ix)), hn::GetLane(hn::MaxOfLanes(di, ix)),
                                   hn::GetLane(hn::MinOfLanes(di, iy)), hn::GetLane(hn::MaxOfLanes(di, iy)));
      if (cover != Cover::mixed) {
        const auto weight = hn::Set(df, cover == Cover::opaque ? 1.0f : 0.0f);
        hn::Store(hn::IfThenElseZero(hn::RebindMask(df, inside), weight), df, out.alpha + j);
        continue;
      }
      const auto one = hn::Set(di, 1), phase = hn::Set(di, 31);
      const auto at = hn::IfThenElseZero(
          inside, hn::Add(hn::Mul(hn::Add(iy, one), hn::Set(di, stride)), hn::Add(ix, one)));
      const auto step = hn::Set(df, 1.0f / 32.0f), unit = hn::Set(df, 1.0f);
      const auto bx1 = hn::Mul(hn::ConvertTo(df, hn::And(hn::ShiftRight<5>(sx), phase)), step);
      const auto by1 = hn::Mul(hn::ConvertTo(df, hn::And(hn::ShiftRight<5>(sy), phase)), step);
      const auto bx0 = hn::Sub(unit, bx1), by0 = hn::Sub(unit, by1);
      const auto top = hn::Add(hn::Mul(bx0, hn::GatherIndex(df, mask, at)),
                               hn::Mul(bx1, hn::GatherIndex(df, mask + 1, at)));
      const auto bottom = hn::Add(hn::Mul(bx0, hn::GatherIndex(df, mask + stride, at)),
                                  hn::Mul(bx1, hn::GatherIndex(df, mask + stride + 1, at)));
      const auto alpha =
          hn::Div(hn::Round(hn::Add(hn::Mul(by0, top), hn::Mul(by1, bottom))), hn::Set(df, 255.0f));
      hn::Store(hn::IfThenElseZero(hn::RebindMask(df, inside), alpha), df, out.alpha + j);
    }
    for (; j < count; ++j) {
      const int32_t sx = xcol[j] + xrow, sy = ycol[j] + yrow;
      out.sx[j] = sx, out.sy[j] = sy;
      out.alpha[j] = SourceInside(side, sx, sy) ? Alpha(sx, sy) : 0.0f;
    }
  }
};

// The resampled colour of a located pixel in value[0, 3); value[3] may be written too.
HWY_INLINE void Resample(const CropView& crop, int32_t sx, int32_t sy, float* value) {
  const int32_t ix = sx >> 10, iy = sy >> 10;
  const float* wx = crop.lanczos + 8 * ((sx >> 5) & 31);
  const float* wy = crop.lanczos + 8 * ((sy >> 5) & 31);
  if (!FootprintInside(crop, ix, iy)) {
    ResampleAtEdge(crop, ix, iy, wx, wy, value);
  } else {
#if HWY_TARGET <= HWY_AVX2
    ResampleInsideRowPairs(crop, ix, iy, wx, wy, value);
#else
    ResampleInside(crop, ix, iy, wx, wy, value);
#endif
  }
}

// Whether any of the first `count` weights is above 0 (or NaN, which the paste does not skip
// either).
HWY_INLINE bool AnyWeight(const float* HWY_RESTRICT alpha, int32_t count) {
  const hn::ScalableTag<float> d;
  const auto lanes = static_cast<int32_t>(hn::Lanes(d));
  int32_t j = 0;
  for (; j + lanes <= count; j += lanes) {
    if (!hn::AllTrue(d, hn::Le(hn::Load(d, alpha + j), hn::Zero(d)))) return true;
  }
  for (; j < count; ++j) {
    if (!(alpha[j] <= 0.0f)) return true;
  }
  return false;
}

// Skipped pixels keep weight 0 and colour 0, which blends back to exactly the byte that was there.
template <class Locator>
HWY_INLINE void PasteRow(const CropView& crop, const Locator& locate, const int32_t* HWY_RESTRICT xcol,
                         const int32_t* HWY_RESTRICT ycol, int32_t xrow, int32_t yrow, int32_t first,
                         int32_t last, uint8_t* HWY_RESTRICT dst) {
  Located located;
  HWY_ALIGN float alpha[3 * kBatch];
  HWY_ALIGN float value[3 * kBatch + 1];  // room for the last pixel's fourth float
  for (int32_t start = first; start <= last; start += kBatch) {
    const int32_t count = std::min(kBatch, last - start + 1);
    locate(xcol + (start - first), ycol + (start - first), xrow, yrow, count, located);
    if (!AnyWeight(located.alpha, count)) continue;
    for (int32_t j = 0; j < count; ++j) {
      const float weight = located.alpha[j];
      if (weight <= 0.0f) {
        for (int c = 0; c < 3; ++c) alpha[3 * j + c] = 0.0f, value[3 * j + c] = 0.0f;
        continue;
      }
      Resample(crop, located.sx[j], located.sy[j], value + 3 * j);
      for (int c = 0; c < 3; ++c) alpha[3 * j + c] = weight;
    }
    BlendRun(alpha, value, 3 * static_cast<size_t>(count), dst + 3 * static_cast<size_t>(start));
  }
}

void PasteLanczos8RowPairs(const float* HWY_RESTRICT pairs, int32_t side,
                           const float* HWY_RESTRICT paddedMask, const int32_t* HWY_RESTRICT maskSums,
                           const float* HWY_RESTRICT lanczos, const int32_t* HWY_RESTRICT xcol,
                           const int32_t* HWY_RESTRICT ycol, int32_t xrow, int32_t yrow, int32_t first,
                           int32_t last, uint8_t* HWY_RESTRICT dst) {
  const CropView crop{pairs, side, lanczos};
  PasteRow(crop, PaddedMaskLocator{paddedMask, maskSums, side}, xcol, ycol, xrow, yrow, first, last, dst);
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko::simd {

HWY_EXPORT(PasteLanczos8RowPairs);

void pasteLanczos8RowPairs(const float* pairs, int32_t side, const float* paddedMask, const int32_t* maskSums,
                           const float* lanczos, const int32_t* xcol, const int32_t* ycol, int32_t xrow,
                           int32_t yrow, int32_t first, int32_t last, uint8_t* dst) {
  HWY_DYNAMIC_DISPATCH(PasteLanczos8RowPairs)
  (pairs, side, paddedMask, maskSums, lanczos, xcol, ycol, xrow, yrow, first, last, dst);
}

}  // namespace ko::simd
#endif
