#include "graph/warp_director.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ko {
namespace {

using Record = std::array<float, kWarpPlaneValues>;

// One axis of an output pixel's sampling: the two taps, their weights and the curvature factor.
struct AxisTaps {
  int32_t lo = 0, hi = 0;
  float wLo = 1.0f, wHi = 0.0f;
  float correction = 0.0f;
};

AxisTaps axisTaps(float g, int32_t size) {
  const float v = ((1.0f + g) * static_cast<float>(size) - 1.0f) * 0.5f;
  const float fraction = v - std::floor(v);
  AxisTaps taps;
  taps.correction = ((1.0f - fraction) * fraction) * 0.5f;
  // Written as "not at least 0" so that NaN takes the first tap too rather than becoming an index.
  if (!(v >= 0.0f)) return taps;
  const float clamped = std::min(v, static_cast<float>(size - 1));
  const float x0 = std::floor(clamped);
  const float weight = clamped - x0;
  taps.lo = static_cast<int32_t>(x0);
  taps.hi = std::min(taps.lo + 1, size - 1);
  taps.wLo = 1.0f - weight;
  taps.wHi = weight;
  return taps;
}

int32_t before(int32_t i) {
  return i > 0 ? i - 1 : 0;
}

int32_t after(int32_t i, int32_t size) {
  return i + 1 < size ? i + 1 : size - 1;
}

// Rows y - 1, y and y + 1 of one channel plane, replicated at the image's top and bottom.
struct Rows {
  const float* up;
  const float* mid;
  const float* down;
};

Rows rowsAround(const float* plane, int32_t w, int32_t h, int32_t y) {
  const auto row = [&](int32_t r) { return plane + static_cast<size_t>(r) * static_cast<size_t>(w); };
  return {row(before(y)), row(y), row(after(y, h))};
}

float verticalSecond(const Rows& rows, int32_t x) {
  return (rows.up[x] - 2.0f * rows.mid[x]) + rows.down[x];
}

// f, fxx, fyy, fxxyy of pixel x of the middle row: the one definition both forms evaluate.
void curvature(const Rows& rows, int32_t x, int32_t w, float* values) {
  const int32_t left = before(x);
  const int32_t right = after(x, w);
  const float f = rows.mid[x];
  const float fyy = verticalSecond(rows, x);
  values[0] = f;
  values[1] = (rows.mid[left] - 2.0f * f) + rows.mid[right];
  values[2] = fyy;
  values[3] = (verticalSecond(rows, left) - 2.0f * fyy) + verticalSecond(rows, right);
}

void recordAt(const float* source, int32_t w, int32_t h, int32_t x, int32_t y, float* record) {
  const size_t planeSize = static_cast<size_t>(w) * static_cast<size_t>(h);
  for (int32_t c = 0; c < kWarpChannels; ++c) {
    curvature(rowsAround(source + static_cast<size_t>(c) * planeSize, w, h, y), x, w, record + 4 * c);
  }
}

// The four taps of one output pixel, top row first.
struct PixelTaps {
  AxisTaps x, y;
};

PixelTaps pixelTaps(const float* grid, size_t pixel, int32_t w, int32_t h) {
  return {axisTaps(grid[2 * pixel], w), axisTaps(grid[2 * pixel + 1], h)};
}

void interpolate(const PixelTaps& taps, const float* t00, const float* t10, const float* t01,
                 const float* t11, float* out, size_t planeSize, size_t pixel) {
  const float w00 = taps.x.wLo * taps.y.wLo;
  const float w10 = taps.x.wHi * taps.y.wLo;
  const float w01 = taps.x.wLo * taps.y.wHi;
  const float w11 = taps.x.wHi * taps.y.wHi;
  Record v;
  for (size_t k = 0; k < v.size(); ++k) v[k] = ((w00 * t00[k] + w10 * t10[k]) + w01 * t01[k]) + w11 * t11[k];
  const float cx = taps.x.correction;
  const float cy = taps.y.correction;
  const float cxy = cx * cy;
  for (size_t c = 0; c < kWarpChannels; ++c) {
    const float* m = v.data() + 4 * c;
    out[c * planeSize + pixel] = ((m[0] - cx * m[1]) - cy * m[2]) + cxy * m[3];
  }
}

template <class EachPixel>
void forBandPixels(int32_t w, int32_t h, int32_t rowBegin, int32_t rowEnd, EachPixel&& eachPixel) {
  for (int32_t r = std::max(rowBegin, 0); r < std::min(rowEnd, h); ++r) {
    const size_t rowStart = static_cast<size_t>(r) * static_cast<size_t>(w);
    for (size_t q = 0; q < static_cast<size_t>(w); ++q) eachPixel(rowStart + q);
  }
}

}  // namespace

void warpDirectorBand(const float* source, const float* grid, float* out, int32_t w, int32_t h,
                      int32_t rowBegin, int32_t rowEnd) {
  const size_t planeSize = static_cast<size_t>(w) * static_cast<size_t>(h);
  forBandPixels(w, h, rowBegin, rowEnd, [&](size_t pixel) {
    const PixelTaps taps = pixelTaps(grid, pixel, w, h);
    std::array<Record, 4> records;
    recordAt(source, w, h, taps.x.lo, taps.y.lo, records[0].data());
    recordAt(source, w, h, taps.x.hi, taps.y.lo, records[1].data());
    recordAt(source, w, h, taps.x.lo, taps.y.hi, records[2].data());
    recordAt(source, w, h, taps.x.hi, taps.y.hi, records[3].data());
    interpolate(taps, records[0].data(), records[1].data(), records[2].data(), records[3].data(), out,
                planeSize, pixel);
  });
}

void warpDirector(const float* source, const float* grid, float* out, int32_t w, int32_t h) {
  warpDirectorBand(source, grid, out, w, h, 0, h);
}

void warpDirectorPlanesBand(const float* source, float* planes, int32_t w, int32_t h, int32_t rowBegin,
                            int32_t rowEnd) {
  const size_t planeSize = static_cast<size_t>(w) * static_cast<size_t>(h);
  for (int32_t y = std::max(rowBegin, 0); y < std::min(rowEnd, h); ++y) {
    float* row = planes + static_cast<size_t>(y) * static_cast<size_t>(w) * kWarpPlaneValues;
    for (int32_t c = 0; c < kWarpChannels; ++c) {
      const Rows rows = rowsAround(source + static_cast<size_t>(c) * planeSize, w, h, y);
      for (int32_t x = 0; x < w; ++x)
        curvature(rows, x, w, row + static_cast<size_t>(x) * kWarpPlaneValues + 4 * c);
    }
  }
}

void warpDirectorGatherBand(const float* planes, const float* grid, float* out, int32_t w, int32_t h,
                            int32_t rowBegin, int32_t rowEnd) {
  const size_t planeSize = static_cast<size_t>(w) * static_cast<size_t>(h);
  const auto record = [&](int32_t x, int32_t y) {
    return planes +
           (static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * kWarpPlaneValues;
  };
  forBandPixels(w, h, rowBegin, rowEnd, [&](size_t pixel) {
    const PixelTaps taps = pixelTaps(grid, pixel, w, h);
    interpolate(taps, record(taps.x.lo, taps.y.lo), record(taps.x.hi, taps.y.lo),
                record(taps.x.lo, taps.y.hi), record(taps.x.hi, taps.y.hi), out, planeSize, pixel);
  });
}

const char* warpBody() {
  return "scalar";
}

}  // namespace ko
