#include "tessera/contour_feather.h"

#include <algorithm>

#include "tessera/pixel_math.h"

namespace ko::tessera {
namespace {

constexpr float kFar = 1e10f;
constexpr float kStraightStep = 0.955f;
constexpr float kDiagonalStep = 1.3693f;

void forwardPass(std::vector<float>& d, int32_t width, int32_t height) {
  for (int32_t y = 0; y < height; ++y) {
    float* row = d.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    const float* up = y > 0 ? row - width : nullptr;
    for (int32_t x = 0; x < width; ++x) {
      float v = row[x];
      if (x > 0) v = std::min(v, row[x - 1] + kStraightStep);
      if (up != nullptr) {
        if (x > 0) v = std::min(v, up[x - 1] + kDiagonalStep);
        v = std::min(v, up[x] + kStraightStep);
        if (x + 1 < width) v = std::min(v, up[x + 1] + kDiagonalStep);
      }
      row[x] = v;
    }
  }
}

void backwardPass(std::vector<float>& d, int32_t width, int32_t height) {
  for (int32_t y = height - 1; y >= 0; --y) {
    float* row = d.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    const float* down = y + 1 < height ? row + width : nullptr;
    for (int32_t x = width - 1; x >= 0; --x) {
      float v = row[x];
      if (x + 1 < width) v = std::min(v, row[x + 1] + kStraightStep);
      if (down != nullptr) {
        if (x + 1 < width) v = std::min(v, down[x + 1] + kDiagonalStep);
        v = std::min(v, down[x] + kStraightStep);
        if (x > 0) v = std::min(v, down[x - 1] + kDiagonalStep);
      }
      row[x] = v;
    }
  }
}

}  // namespace

void featherOutward(const uint8_t* mask, int32_t width, int32_t height, float feather,
                    std::vector<float>& distance, float* out, size_t outStride) {
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  distance.resize(count);
  for (size_t i = 0; i < count; ++i) distance[i] = mask[i] != 0 ? 0.0f : kFar;
  forwardPass(distance, width, height);
  backwardPass(distance, width, height);
  for (int32_t y = 0; y < height; ++y) {
    const float* d = distance.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    float* row = out + static_cast<size_t>(y) * outStride;
    for (int32_t x = 0; x < width; ++x) {
      const float t = std::clamp(1.0f - d[x] / feather, 0.0f, 1.0f);
      row[x] = t > 0.0f ? smoothstep(t) : 0.0f;
    }
  }
}

}  // namespace ko::tessera
