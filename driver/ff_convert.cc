#include "driver/ff_convert.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "simd/half.h"
#include "simd/simd.h"

namespace ko::driver {
namespace {

std::string formatName(const AVFrame& frame) {
  const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame.format));
  return name ? name : "?";
}

const uint8_t* row(const AVFrame& frame, int plane, int y) {
  return frame.data[plane] + static_cast<ptrdiff_t>(y) * frame.linesize[plane];
}

void writeYuv420p(const AVFrame& frame, uint8_t* dst) {
  const size_t rowBytes = static_cast<size_t>(frame.width) * 3;
  for (int y = 0; y < frame.height; ++y) {
    simd::yuv420RowToRgb24(row(frame, 0, y), row(frame, 1, y / 2), row(frame, 2, y / 2), frame.width, 1,
                           dst + rowBytes * static_cast<size_t>(y));
  }
}

void writeNv12(const AVFrame& frame, uint8_t* dst) {
  const size_t rowBytes = static_cast<size_t>(frame.width) * 3;
  for (int y = 0; y < frame.height; ++y) {
    const uint8_t* chroma = row(frame, 1, y / 2);
    simd::yuv420RowToRgb24(row(frame, 0, y), chroma, chroma + 1, frame.width, 2,
                           dst + rowBytes * static_cast<size_t>(y));
  }
}

// BT.601 limited range in 16-bit fixed point.
struct Rgb {
  int32_t r, g, b;
};

Rgb limitedRangeRgb(int32_t luma, int32_t cb, int32_t cr) {
  const int32_t yc = 76312 * (luma - 16), u = cb - 128, v = cr - 128;
  const auto channel = [](int32_t fixed) { return std::clamp((fixed + 32768) >> 16, 0, 255); };
  return {channel(yc + 104600 * v), channel(yc - 25672 * u - 53280 * v), channel(yc + 132200 * u)};
}

void storeHalf(uint8_t* dst, size_t index, uint16_t half) {
  std::memcpy(dst + 2 * index, &half, sizeof half);
}

void writeYuv444pAsHalves(const AVFrame& frame, const UnitHalfTable& lut, uint8_t* dst) {
  const size_t plane = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
  for (int y = 0; y < frame.height; ++y) {
    const uint8_t *luma = row(frame, 0, y), *cb = row(frame, 1, y), *cr = row(frame, 2, y);
    for (int x = 0; x < frame.width; ++x) {
      const Rgb rgb = limitedRangeRgb(luma[x], cb[x], cr[x]);
      const size_t at = static_cast<size_t>(y) * static_cast<size_t>(frame.width) + static_cast<size_t>(x);
      storeHalf(dst, at, lut[rgb.r]);
      storeHalf(dst, plane + at, lut[rgb.g]);
      storeHalf(dst, 2 * plane + at, lut[rgb.b]);
    }
  }
}

}  // namespace

UnitHalfTable unitHalfTable() {
  UnitHalfTable table{};
  for (size_t i = 0; i < table.size(); ++i) table[i] = f32ToF16(static_cast<float>(i) / 255.0f);
  return table;
}

void writeDriverFrame(const AVFrame& frame, const std::string& path, uint8_t* dst) {
  switch (frame.format) {
    case AV_PIX_FMT_YUV420P:
      return writeYuv420p(frame, dst);
    case AV_PIX_FMT_NV12:
      return writeNv12(frame, dst);
    default:
      throw std::runtime_error(
          "ko_driver: " + path + " decoded to " + formatName(frame) +
          ", not the 4:2:0 layout the canvas conversion is written for (yuv420p / nv12) — "
          "refusing rather than pasting onto a different pixel domain");
  }
}

void writePriorFrame(const AVFrame& frame, const std::string& path, const UnitHalfTable& lut, uint8_t* dst) {
  if (frame.format != AV_PIX_FMT_YUV444P) {
    throw std::runtime_error(
        "ko_driver: " + path + " decoded to " + formatName(frame) +
        ", not the yuv444p a warp prior is authored in — a subsampled prior is a different "
        "mouth, refusing");
  }
  writeYuv444pAsHalves(frame, lut, dst);
}

}  // namespace ko::driver
