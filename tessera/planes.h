// The plane arithmetic the teeth pass and its blend head share: packed bytes to unit planes, and
// block-mean pooling.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ko::tessera {

// `count` packed RGB pixels as three planes of byte/255, `planeStride` floats apart.
inline void rgbToUnitPlanes(const uint8_t* rgb, size_t count, size_t planeStride, float* planes) {
  for (size_t i = 0; i < count; ++i) {
    for (size_t ch = 0; ch < 3; ++ch)
      planes[ch * planeStride + i] = static_cast<float>(rgb[i * 3 + ch]) / 255.0f;
  }
}

// out (height / block) x (width / block) gets each block's mean, summed row by row and left to right;
// trailing rows or columns that do not fill a block are dropped.
inline void averagePool(const float* plane, int32_t height, int32_t width, int32_t block, float* out) {
  const int32_t outH = height / block;
  const int32_t outW = width / block;
  const float scale = 1.0f / static_cast<float>(block * block);
  for (int32_t y = 0; y < outH; ++y) {
    for (int32_t x = 0; x < outW; ++x) {
      float sum = 0;
      for (int32_t dy = 0; dy < block; ++dy) {
        const float* row = plane + static_cast<size_t>(y * block + dy) * static_cast<size_t>(width);
        for (int32_t dx = 0; dx < block; ++dx) sum += row[x * block + dx];
      }
      out[static_cast<size_t>(y) * static_cast<size_t>(outW) + static_cast<size_t>(x)] = sum * scale;
    }
  }
}

}  // namespace ko::tessera
