#include "tessera/contour_feather.h"

#include <algorithm>

#include "tessera/pixel_math.h"

namespace ko::tessera {
namespace {

constexpr float kFar = 1e10f;
constexpr float kStraightStep = 0.955f;
constexpr float kDiagonalStep = 1.3693f;

// The three neighbours of the previous row (`near` in the pass's direction) into `row`: independent
// per pixel, so this part vectorises. min(a, b) + step equals min(a + step, b + step) exactly, since
// rounding a sum is monotonic.
void fromNeighbourRow(float* row, const float* near, int32_t width) {
  if (width == 1) {
    row[0] = std::min(row[0], near[0] + kStraightStep);
    return;
  }
  row[0] = std::min(row[0], std::min(near[0] + kStraightStep, near[1] + kDiagonalStep));
  for (int32_t x = 1; x + 1 < width; ++x) {
    row[x] = std::min(row[x],
                      std::min(std::min(near[x - 1], near[x + 1]) + kDiagonalStep, near[x] + kStraightStep));
  }
  row[width - 1] =
      std::min(row[width - 1], std::min(near[width - 1] + kStraightStep, near[width - 2] + kDiagonalStep));
}

void forwardPass(std::vector<float>& d, int32_t width, int32_t height) {
  for (int32_t y = 0; y < height; ++y) {
    float* row = d.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    if (y > 0) fromNeighbourRow(row, row - width, width);
    for (int32_t x = 1; x < width; ++x) row[x] = std::min(row[x], row[x - 1] + kStraightStep);
  }
}

void backwardPass(std::vector<float>& d, int32_t width, int32_t height) {
  for (int32_t y = height - 1; y >= 0; --y) {
    float* row = d.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    if (y + 1 < height) fromNeighbourRow(row, row + width, width);
    for (int32_t x = width - 2; x >= 0; --x) row[x] = std::min(row[x], row[x + 1] + kStraightStep);
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
