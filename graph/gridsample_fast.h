// Bilinear grid sampling with border padding and align_corners 0, output the size of the input: the
// one case the director network's GridSample nodes use, computed by the GridSampleFast operator.
//
// For output pixel (r, q) with grid pair (gx, gy) = grid[(r * w + q) * 2 + {0, 1}]:
//   x = ((1 + gx) * 0.5) * w - 0.5, y = ((1 + gy) * 0.5) * h - 0.5,
//   x0 = floor(x), y0 = floor(y), fx = x - x0, fy = y - y0,
//   taps xa, xb = x0, x0 + 1 and ya, yb = y0, y0 + 1, each clamped to the image,
//   out = (1-fx)(1-fy) X[ya][xa] + fx(1-fy) X[ya][xb] + (1-fx)fy X[yb][xa] + fx fy X[yb][xb],
// in single precision, products and sums rounded one at a time and summed left to right. Every
// instruction-set target gives the same bits. A NaN or infinite grid value gives a NaN pixel and
// reads inside the image.
#pragma once

#include <cstdint>

namespace ko {

// One image: `x` and `y` are [c][h][w], `grid` is [h][w][2]. Needs h and w at most 2^24 and
// h * w below 2^31 (the operator checks its tensors against these limits).
void gridsample_fast(const float* x, const float* grid, float* y, int32_t c, int32_t h, int32_t w);

// Output rows [max(0, rowBegin), min(h, rowEnd)) of one image; an empty range writes nothing.
void gridsample_fast_band(const float* x, const float* grid, float* y, int32_t c, int32_t h, int32_t w,
                          int32_t rowBegin, int32_t rowEnd);

}  // namespace ko
