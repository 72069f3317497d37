#include "tests/reference/simd_reference.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ko::reference {

uint16_t halfFromFloat(float value) {
  const _Float16 half = static_cast<_Float16>(value);
  uint16_t bits;
  std::memcpy(&bits, &half, sizeof bits);
  return bits;
}

float floatFromHalf(uint16_t bits) {
  _Float16 half;
  std::memcpy(&half, &bits, sizeof half);
  return static_cast<float>(half);
}

float throughHalf(float value) {
  return floatFromHalf(halfFromFloat(value));
}

uint32_t bitsOf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float floatOf(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void rgb8ToPlanarF16(const uint8_t* src, uint16_t* dst, size_t planeStride, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    for (size_t c = 0; c < 3; ++c) dst[c * planeStride + i] = halfFromFloat(src[3 * i + c] / 255.0f);
  }
}

void yuv420RowToRgb24(const uint8_t* luma, const uint8_t* u, const uint8_t* v, int32_t width,
                      int32_t chromaStep, uint8_t* rgb) {
  for (int32_t x = 0; x < width; ++x) {
    const int32_t j = (x / 2) * chromaStep;
    const int32_t cu = u[j] - 128, cv = v[j] - 128;
    const int32_t yc = 298 * (luma[x] - 16) + 128;
    const int32_t channels[3] = {(yc + 409 * cv) >> 8, (yc - 100 * cu - 208 * cv) >> 8, (yc + 516 * cu) >> 8};
    for (int c = 0; c < 3; ++c) rgb[3 * x + c] = static_cast<uint8_t>(std::clamp(channels[c], 0, 255));
  }
}

void pasteLanczos8Row(const float* crop, int32_t side, const uint8_t* mask, const float* lanczos,
                      const float* bilinear, const int32_t* xcol, const int32_t* ycol, int32_t xrow,
                      int32_t yrow, int32_t first, int32_t last, uint8_t* dst) {
  const auto inside = [side](int32_t x, int32_t y) { return x >= 0 && y >= 0 && x < side && y < side; };
  const auto maskAt = [&](int32_t x, int32_t y) {
    return inside(x, y) ? static_cast<float>(mask[y * side + x]) : 0.0f;
  };
  for (int32_t k = first; k <= last; ++k) {
    const int32_t sx = xcol[k - first] + xrow, sy = ycol[k - first] + yrow;
    const int32_t ix = sx >> 10, iy = sy >> 10, px = (sx >> 5) & 31, py = (sy >> 5) & 31;
    if (sx < -1024 || sy < -1024 || ix >= side || iy >= side) continue;
    const float bx0 = bilinear[2 * px], bx1 = bilinear[2 * px + 1];
    const float by0 = bilinear[2 * py], by1 = bilinear[2 * py + 1];
    const float a = by0 * (bx0 * maskAt(ix, iy) + bx1 * maskAt(ix + 1, iy)) +
                    by1 * (bx0 * maskAt(ix, iy + 1) + bx1 * maskAt(ix + 1, iy + 1));
    const float alpha = std::nearbyint(a) / 255.0f;
    if (alpha <= 0.0f) continue;
    for (int c = 0; c < 3; ++c) {
      float value = 0.0f;
      for (int32_t r = iy - 3; r <= iy + 4; ++r) {
        float across = 0.0f;
        for (int32_t q = ix - 3; q <= ix + 4; ++q) {
          if (inside(q, r)) across = across + lanczos[px * 8 + (q - ix + 3)] * crop[(r * side + q) * 4 + c];
        }
        if (r >= 0 && r < side) value = value + lanczos[py * 8 + (r - iy + 3)] * across;
      }
      uint8_t& out = dst[3 * k + c];
      const float d = out * (1.0f - alpha) + alpha * value;
      out = d < 0.0f ? 0 : d > 255.0f ? 255 : static_cast<uint8_t>(d);
    }
  }
}

void gaussTapsRange(const float* src, const float* taps, int32_t ntaps, size_t begin, size_t end,
                    float* dst) {
  for (size_t i = begin; i < end; ++i) {
    float sum = 0.0f;
    for (int32_t k = 0; k < ntaps; ++k) sum = sum + taps[k] * src[i + k];
    dst[i] = sum;
  }
}

void sharpenRow(const float* blurred, size_t stride, const float* taps, int32_t ntaps, int32_t width,
                float amount, float* row) {
  for (int32_t x = 0; x < width; ++x) {
    float blur = 0.0f;
    for (int32_t k = 0; k < ntaps; ++k) blur = blur + taps[k] * blurred[k * stride + x];
    const float sharp = row[x] * (1.0f + amount) - blur * amount;
    row[x] = std::isnan(sharp) ? 0.0f : std::clamp(sharp, 0.0f, 255.0f);
  }
}

void conv3x3Range(const float* in, int32_t n, int32_t cin, int32_t h, int32_t w, const float* weights,
                  const float* bias, int32_t cout, float* out, int32_t begin, int32_t end) {
  (void)n;
  for (int32_t j = begin; j < end; ++j) {
    const int32_t image = j / cout, co = j % cout;
    for (int32_t y = 0; y < h; ++y) {
      for (int32_t x = 0; x < w; ++x) {
        float sum = bias[co];
        for (int32_t ci = 0; ci < cin; ++ci) {
          for (int32_t ky = 0; ky < 3; ++ky) {
            for (int32_t kx = 0; kx < 3; ++kx) {
              const int32_t sy = y + ky - 1, sx = x + kx - 1;
              const float sample = sy < 0 || sx < 0 || sy >= h || sx >= w
                                       ? 0.0f
                                       : in[((static_cast<size_t>(image) * cin + ci) * h + sy) * w + sx];
              sum = sum + weights[((co * cin + ci) * 3 + ky) * 3 + kx] * sample;
            }
          }
        }
        out[(static_cast<size_t>(j) * h + y) * w + x] = sum;
      }
    }
  }
}

namespace {

float meanDistance(const uint16_t* a, const uint16_t* b, size_t count, size_t i) {
  float d[3];
  for (size_t c = 0; c < 3; ++c) {
    d[c] = std::fabs(throughHalf(floatFromHalf(a[c * count + i]) - floatFromHalf(b[c * count + i])));
  }
  return throughHalf((d[0] + d[1] + d[2]) / 3.0f);
}

}  // namespace

float retrieveTermPooled(const uint16_t* a, const uint16_t* b, const uint16_t* weights, size_t count) {
  float sum = 0.0f;
  for (size_t i = 0; i < count; ++i)
    sum += throughHalf(meanDistance(a, b, count, i) * floatFromHalf(weights[i]));
  return sum;
}

float retrieveTermExactRange(const uint16_t* a, const uint16_t* b, const float* weights, size_t count,
                             size_t begin, size_t end) {
  float sum = 0.0f;
  for (size_t i = begin; i < end && i < count; ++i) {
    sum += weights[i] == 0.0f ? 0.0f : weights[i] * meanDistance(a, b, count, i);
  }
  return sum;
}

}  // namespace ko::reference
