#include "paste/plane_sampling.h"

#include <cmath>

namespace ko {
namespace {

constexpr int32_t kFractionBits = 10;
constexpr int32_t kPhaseShift = 5;
constexpr int32_t kPhaseMask = 31;
constexpr int32_t kOne = 1 << kFractionBits;

struct CropView {
  int32_t side;
  const uint8_t* mask;

  bool inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < side && y < side; }
  float maskAt(int32_t x, int32_t y) const {
    return inside(x, y) ? static_cast<float>(mask[y * side + x]) : 0.0f;
  }
};

float maskAlpha(const CropView& crop, const float* bilinear, int32_t ix, int32_t iy, int32_t px, int32_t py) {
  const float bx0 = bilinear[2 * px], bx1 = bilinear[2 * px + 1];
  const float by0 = bilinear[2 * py], by1 = bilinear[2 * py + 1];
  const float a = by0 * (bx0 * crop.maskAt(ix, iy) + bx1 * crop.maskAt(ix + 1, iy)) +
                  by1 * (bx0 * crop.maskAt(ix, iy + 1) + bx1 * crop.maskAt(ix + 1, iy + 1));
  return std::nearbyint(a) / 255.0f;
}

float sample(const PlaneFootprint& fp, const CropView& crop, const float* plane, int32_t ix, int32_t iy,
             int32_t px, int32_t py) {
  const float* wx = fp.taps + px * fp.count;
  const float* wy = fp.taps + py * fp.count;
  float value = 0.0f;
  for (int32_t j = 0; j < fp.count; ++j) {
    const int32_t r = iy + fp.first + j;
    if (r < 0 || r >= crop.side) continue;
    float across = 0.0f;
    for (int32_t i = 0; i < fp.count; ++i) {
      const int32_t q = ix + fp.first + i;
      if (q >= 0 && q < crop.side) across = across + wx[i] * plane[r * crop.side + q];
    }
    value = value + wy[j] * across;
  }
  return value;
}

uint8_t blend(uint8_t under, float alpha, float value) {
  const float d = under * (1.0f - alpha) + alpha * value;
  return d < 0.0f ? 0 : d > 255.0f ? 255 : static_cast<uint8_t>(d);
}

}  // namespace

void pastePlanesRow(const PlaneFootprint& footprint, const float* const* planes, int32_t side,
                    const uint8_t* mask, const float* bilinear, const int32_t* xcol, const int32_t* ycol,
                    int32_t xrow, int32_t yrow, int32_t first, int32_t last, uint8_t* dst) {
  const CropView crop{side, mask};
  for (int32_t k = first; k <= last; ++k) {
    const int32_t sx = xcol[k - first] + xrow, sy = ycol[k - first] + yrow;
    const int32_t ix = sx >> kFractionBits, iy = sy >> kFractionBits;
    if (sx < -kOne || sy < -kOne || ix >= side || iy >= side) continue;
    const int32_t px = (sx >> kPhaseShift) & kPhaseMask, py = (sy >> kPhaseShift) & kPhaseMask;
    const float alpha = maskAlpha(crop, bilinear, ix, iy, px, py);
    if (alpha <= 0.0f) continue;
    for (int32_t c = 0; c < 3; ++c) {
      dst[3 * k + c] = blend(dst[3 * k + c], alpha, sample(footprint, crop, planes[c], ix, iy, px, py));
    }
  }
}

}  // namespace ko
