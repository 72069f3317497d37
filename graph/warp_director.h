// The director's warp of its 3-channel source: bilinear sampling with border clamping and
// align_corners 0, corrected by the source's curvature so that the result follows a smooth image more
// closely than plain bilinear sampling does. The WarpDirector operator computes it.
//
// Per source pixel and channel, with the 3x3 neighbourhood n(dx, dy) read with replicated borders and
// v(dx) = (n(dx, -1) - 2 n(dx, 0)) + n(dx, +1) the vertical second difference of column dx:
//   f = n(0, 0), fxx = (n(-1, 0) - 2 f) + n(+1, 0), fyy = v(0), fxxyy = (v(-1) - 2 fyy) + v(+1).
// Per output pixel with grid pair (gx, gy), and the same for y with h:
//   x = ((1 + gx) w - 1) 0.5, cx = ((1 - fr(x)) fr(x)) 0.5 with fr(x) = x - floor(x);
//   x < 0: taps 0 and 0 with weights 1 and 0; otherwise xc = min(x, w - 1), x0 = floor(xc),
//   wx = xc - x0, taps x0 and min(x0 + 1, w - 1) with weights 1 - wx and wx.
// Each of f, fxx, fyy, fxxyy is interpolated as ((w00 t00 + w10 t10) + w01 t01) + w11 t11 with
// w00 = (1 - wx)(1 - wy), w10 = wx (1 - wy), w01 = (1 - wx) wy, w11 = wx wy (t10 the right tap of the
// top row), giving F, Fxx, Fyy, Fxxyy, and out = ((F - cx Fxx) - cy Fyy) + (cx cy) Fxxyy.
// Everything is single precision, rounded one operation at a time in the order written, so both forms
// and every instruction-set target give the same bits. A grid value that is not a number samples
// column (or row) 0 and gives a NaN pixel.
//
// Images are [3][h][w] planes, grids [h][w][2]. Sides up to 2^24 and h * w below 2^31 (the operator
// checks its tensors against these limits). Every function touches only the memory it is given.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ko {

inline constexpr int32_t kWarpChannels = 3;
// The two-pass form's per-pixel record: for each channel f, fxx, fyy, fxxyy.
inline constexpr int32_t kWarpPlaneValues = kWarpChannels * 4;

// One image, in a single pass that reads the source directly.
void warpDirector(const float* source, const float* grid, float* out, int32_t w, int32_t h);

// The single pass over output rows [max(0, rowBegin), min(h, rowEnd)).
void warpDirectorBand(const float* source, const float* grid, float* out, int32_t w, int32_t h,
                      int32_t rowBegin, int32_t rowEnd);

// First pass of the two-pass form: source rows [rowBegin, rowEnd) into `planes`, h * w records of
// kWarpPlaneValues floats in pixel order.
void warpDirectorPlanesBand(const float* source, float* planes, int32_t w, int32_t h, int32_t rowBegin,
                            int32_t rowEnd);

// Second pass: output rows [rowBegin, rowEnd) from the complete planes. Gives the single pass's bits.
void warpDirectorGatherBand(const float* planes, const float* grid, float* out, int32_t w, int32_t h,
                            int32_t rowBegin, int32_t rowEnd);

// The name of the compiled body, for log lines: Highway's name of the instruction-set target the bands
// dispatch to, for example "AVX2" or "AVX3_DL".
const char* warpBody();

}  // namespace ko
