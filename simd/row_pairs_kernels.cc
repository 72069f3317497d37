// The paste's row-pair layout built from the three sharpened planes: four pixels at a time are
// transposed from planar to R, G, B, 0 and stored next to the same pixels of the row below.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/row_pairs_kernels.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include "hwy/highway.h"
#include "simd/simd.h"

HWY_BEFORE_NAMESPACE();
namespace ko::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Four pixels of one row, each as R, G, B, 0, to the given halves of four entries.
HWY_INLINE void StorePixels(const float* HWY_RESTRICT r, const float* HWY_RESTRICT g,
                            const float* HWY_RESTRICT b, float* HWY_RESTRICT out) {
  const hn::FixedTag<float, 4> d;
  const auto red = hn::LoadU(d, r), green = hn::LoadU(d, g), blue = hn::LoadU(d, b), zero = hn::Zero(d);
  const auto rgLow = hn::InterleaveLower(d, red, green), rgHigh = hn::InterleaveUpper(d, red, green);
  const auto b0Low = hn::InterleaveLower(d, blue, zero), b0High = hn::InterleaveUpper(d, blue, zero);
  hn::StoreU(hn::ConcatLowerLower(d, b0Low, rgLow), d, out);
  hn::StoreU(hn::ConcatUpperUpper(d, b0Low, rgLow), d, out + 8);
  hn::StoreU(hn::ConcatLowerLower(d, b0High, rgHigh), d, out + 16);
  hn::StoreU(hn::ConcatUpperUpper(d, b0High, rgHigh), d, out + 24);
}

void PlanesToRowPairs(const float* HWY_RESTRICT r, const float* HWY_RESTRICT g, const float* HWY_RESTRICT b,
                      int32_t side, size_t begin, size_t end, float* HWY_RESTRICT pairs) {
  const size_t n = static_cast<size_t>(side);
  for (size_t y = begin; y < end; ++y) {
    float* out = pairs + 8 * y * n;
    const size_t at = y * n, below = at + n;
    const bool last = y + 1 == n;
    size_t x = 0;
    for (; x + 4 <= n; x += 4) {
      StorePixels(r + at + x, g + at + x, b + at + x, out + 8 * x);
      if (!last) StorePixels(r + below + x, g + below + x, b + below + x, out + 8 * x + 4);
    }
    for (; x < n; ++x) {
      const float* planes[3] = {r, g, b};
      for (int c = 0; c < 3; ++c) {
        out[8 * x + c] = planes[c][at + x];
        if (!last) out[8 * x + 4 + c] = planes[c][below + x];
      }
    }
  }
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko::simd {

HWY_EXPORT(PlanesToRowPairs);

void planesToRowPairs(const float* r, const float* g, const float* b, int32_t side, size_t begin, size_t end,
                      float* pairs) {
  HWY_DYNAMIC_DISPATCH(PlanesToRowPairs)(r, g, b, side, begin, end, pairs);
}

}  // namespace ko::simd
#endif
