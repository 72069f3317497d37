// Vector loop: one vector of output columns at a time, taps and weights computed once and reused for
// every channel through gathers. The scalar columns left over repeat the vector arithmetic.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "graph/gridsample_fast.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "graph/gridsample_fast.h"
#include "hwy/highway.h"

HWY_BEFORE_NAMESPACE();
namespace ko::graph::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Image coordinate of a normalised grid value (align_corners 0).
template <class D>
HWY_INLINE hn::Vec<D> Unnormalise(D d, hn::Vec<D> g, float size) {
  const auto scaled = hn::Mul(hn::Mul(hn::Add(hn::Set(d, 1.0f), g), hn::Set(d, 0.5f)), hn::Set(d, size));
  return hn::Sub(scaled, hn::Set(d, 0.5f));
}

HWY_INLINE float Unnormalise(float g, float size) {
  return ((1.0f + g) * 0.5f) * size - 0.5f;
}

// Clamps a whole-number tap position to [0, last] before it becomes an integer, so no value, however
// large, converts out of range; NaN fails both comparisons and lands on 0.
template <class D>
HWY_INLINE hn::Vec<D> ClampTap(D d, hn::Vec<D> tap, hn::Vec<D> last) {
  const auto zero = hn::Zero(d);
  return hn::IfThenElse(hn::Gt(tap, zero), hn::IfThenElse(hn::Lt(tap, last), tap, last), zero);
}

HWY_INLINE int32_t ClampTap(float tap, float last) {
  return static_cast<int32_t>(tap > 0.0f ? (tap < last ? tap : last) : 0.0f);
}

// Where and how strongly the four taps of a vector of output pixels read each channel plane.
template <class DF>
struct Taps {
  using DI = hn::RebindToSigned<DF>;
  hn::Vec<DI> topLeft, topRight, bottomLeft, bottomRight;
  hn::Vec<DF> wTopLeft, wTopRight, wBottomLeft, wBottomRight;
};

template <class DF>
HWY_INLINE Taps<DF> ComputeTaps(DF df, hn::Vec<DF> gx, hn::Vec<DF> gy, int32_t h, int32_t w) {
  const hn::RebindToSigned<DF> di;
  const auto x = Unnormalise(df, gx, static_cast<float>(w));
  const auto y = Unnormalise(df, gy, static_cast<float>(h));
  const auto x0 = hn::Floor(x);
  const auto y0 = hn::Floor(y);
  const auto fx = hn::Sub(x, x0);
  const auto fy = hn::Sub(y, y0);
  const auto one = hn::Set(df, 1.0f);
  const auto lastX = hn::Set(df, static_cast<float>(w - 1));
  const auto lastY = hn::Set(df, static_cast<float>(h - 1));
  const auto xa = hn::ConvertTo(di, ClampTap(df, x0, lastX));
  const auto xb = hn::ConvertTo(di, ClampTap(df, hn::Add(x0, one), lastX));
  const auto rowA = hn::Mul(hn::ConvertTo(di, ClampTap(df, y0, lastY)), hn::Set(di, w));
  const auto rowB = hn::Mul(hn::ConvertTo(di, ClampTap(df, hn::Add(y0, one), lastY)), hn::Set(di, w));
  const auto gx0 = hn::Sub(one, fx);
  const auto gy0 = hn::Sub(one, fy);
  return {hn::Add(rowA, xa), hn::Add(rowA, xb), hn::Add(rowB, xa), hn::Add(rowB, xb),
          hn::Mul(gx0, gy0), hn::Mul(fx, gy0),  hn::Mul(gx0, fy),  hn::Mul(fx, fy)};
}

template <class DF>
HWY_INLINE hn::Vec<DF> Interpolate(DF df, const Taps<DF>& t, const float* HWY_RESTRICT plane) {
  auto sum = hn::Mul(t.wTopLeft, hn::GatherIndex(df, plane, t.topLeft));
  sum = hn::Add(sum, hn::Mul(t.wTopRight, hn::GatherIndex(df, plane, t.topRight)));
  sum = hn::Add(sum, hn::Mul(t.wBottomLeft, hn::GatherIndex(df, plane, t.bottomLeft)));
  return hn::Add(sum, hn::Mul(t.wBottomRight, hn::GatherIndex(df, plane, t.bottomRight)));
}

// Output column q of row r, every channel, with the vector loop's arithmetic.
void SampleColumn(const float* HWY_RESTRICT x, const float* HWY_RESTRICT grid, float* HWY_RESTRICT y,
                  int32_t c, int32_t h, int32_t w, int32_t r, int32_t q) {
  const size_t pixel = static_cast<size_t>(r) * static_cast<size_t>(w) + static_cast<size_t>(q);
  const float sx = Unnormalise(grid[2 * pixel], static_cast<float>(w));
  const float sy = Unnormalise(grid[2 * pixel + 1], static_cast<float>(h));
  const float x0 = std::floor(sx);
  const float y0 = std::floor(sy);
  const float fx = sx - x0;
  const float fy = sy - y0;
  const float lastX = static_cast<float>(w - 1);
  const float lastY = static_cast<float>(h - 1);
  const int32_t xa = ClampTap(x0, lastX);
  const int32_t xb = ClampTap(x0 + 1.0f, lastX);
  const int32_t rowA = ClampTap(y0, lastY) * w;
  const int32_t rowB = ClampTap(y0 + 1.0f, lastY) * w;
  const float gx0 = 1.0f - fx;
  const float gy0 = 1.0f - fy;
  const float wTopLeft = gx0 * gy0;
  const float wTopRight = fx * gy0;
  const float wBottomLeft = gx0 * fy;
  const float wBottomRight = fx * fy;
  const size_t planeSize = static_cast<size_t>(h) * static_cast<size_t>(w);
  for (size_t ch = 0; ch < static_cast<size_t>(c); ++ch) {
    const float* plane = x + ch * planeSize;
    float sum = wTopLeft * plane[rowA + xa];
    sum = sum + wTopRight * plane[rowA + xb];
    sum = sum + wBottomLeft * plane[rowB + xa];
    y[ch * planeSize + pixel] = sum + wBottomRight * plane[rowB + xb];
  }
}

void GridSampleFastBand(const float* HWY_RESTRICT x, const float* HWY_RESTRICT grid, float* HWY_RESTRICT y,
                        int32_t c, int32_t h, int32_t w, int32_t rowBegin, int32_t rowEnd) {
  using DF = hn::ScalableTag<float>;
  const DF df;
  const size_t lanes = hn::Lanes(df);
  const size_t width = static_cast<size_t>(w);
  const size_t planeSize = static_cast<size_t>(h) * width;
  for (int32_t r = std::max(rowBegin, 0); r < std::min(rowEnd, h); ++r) {
    const size_t rowStart = static_cast<size_t>(r) * width;
    size_t q = 0;
    for (; q + lanes <= width; q += lanes) {
      hn::Vec<DF> gx, gy;
      hn::LoadInterleaved2(df, grid + 2 * (rowStart + q), gx, gy);
      const Taps<DF> taps = ComputeTaps(df, gx, gy, h, w);
      for (size_t ch = 0; ch < static_cast<size_t>(c); ++ch) {
        hn::StoreU(Interpolate(df, taps, x + ch * planeSize), df, y + ch * planeSize + rowStart + q);
      }
    }
    for (; q < width; ++q) SampleColumn(x, grid, y, c, h, w, r, static_cast<int32_t>(q));
  }
}

}  // namespace ko::graph::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko {
namespace graph {
HWY_EXPORT(GridSampleFastBand);
}  // namespace graph

void gridsample_fast_band(const float* x, const float* grid, float* y, int32_t c, int32_t h, int32_t w,
                          int32_t rowBegin, int32_t rowEnd) {
  using namespace graph;  // the dispatch table lives beside the per-target code
  HWY_DYNAMIC_DISPATCH(GridSampleFastBand)(x, grid, y, c, h, w, rowBegin, rowEnd);
}

void gridsample_fast(const float* x, const float* grid, float* y, int32_t c, int32_t h, int32_t w) {
  gridsample_fast_band(x, grid, y, c, h, w, 0, h);
}

}  // namespace ko
#endif
