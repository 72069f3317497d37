#include "tests/support/yuv_picture.h"

#include <algorithm>
#include <cstring>

namespace ko::test {
namespace {

YuvPicture blankPicture(int width, int height, Chroma chroma) {
  YuvPicture picture{width, height, chroma, {}, {}, {}};
  const size_t chromaSize =
      static_cast<size_t>(picture.chromaWidth()) * static_cast<size_t>(picture.chromaHeight());
  picture.y.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
  picture.u.resize(chromaSize);
  picture.v.resize(chromaSize);
  return picture;
}

uint8_t clampedByte(int value) {
  return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// The half of clamp(value) / 255.
uint16_t unitHalf(int value) {
  const _Float16 half = static_cast<_Float16>(static_cast<float>(clampedByte(value)) / 255.0f);
  uint16_t bits;
  std::memcpy(&bits, &half, sizeof bits);
  return bits;
}

}  // namespace

YuvPicture uniformPicture(int width, int height, Chroma chroma, uint8_t luma, uint8_t cb, uint8_t cr) {
  YuvPicture picture = blankPicture(width, height, chroma);
  std::fill(picture.y.begin(), picture.y.end(), luma);
  std::fill(picture.u.begin(), picture.u.end(), cb);
  std::fill(picture.v.begin(), picture.v.end(), cr);
  return picture;
}

YuvPicture patternPicture(int width, int height, Chroma chroma, int seed) {
  YuvPicture picture = blankPicture(width, height, chroma);
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      picture.y[static_cast<size_t>(row * width + x)] = static_cast<uint8_t>(x * 4 + row * 3 + seed * 37);
    }
  }
  const int cw = picture.chromaWidth();
  for (int row = 0; row < picture.chromaHeight(); ++row) {
    for (int x = 0; x < cw; ++x) {
      picture.u[static_cast<size_t>(row * cw + x)] = static_cast<uint8_t>(x * 9 - row * 5 + seed * 23);
      picture.v[static_cast<size_t>(row * cw + x)] = static_cast<uint8_t>(row * 11 + x * 2 + seed * 51);
    }
  }
  return picture;
}

std::vector<uint8_t> expectedRgb(const YuvPicture& picture) {
  std::vector<uint8_t> rgb;
  rgb.reserve(picture.y.size() * 3);
  const int cw = picture.chromaWidth();
  for (int row = 0; row < picture.height; ++row) {
    for (int x = 0; x < picture.width; ++x) {
      const size_t chromaAt = static_cast<size_t>((row / 2) * cw + x / 2);
      const int c = 298 * (picture.y[static_cast<size_t>(row * picture.width + x)] - 16) + 128;
      const int d = picture.u[chromaAt] - 128, e = picture.v[chromaAt] - 128;
      rgb.push_back(clampedByte((c + 409 * e) >> 8));
      rgb.push_back(clampedByte((c - 100 * d - 208 * e) >> 8));
      rgb.push_back(clampedByte((c + 516 * d) >> 8));
    }
  }
  return rgb;
}

std::vector<uint16_t> expectedHalfPlanes(const YuvPicture& picture) {
  const size_t plane = picture.y.size();
  std::vector<uint16_t> halves(3 * plane);
  for (size_t i = 0; i < plane; ++i) {
    const int c = 76312 * (picture.y[i] - 16), d = picture.u[i] - 128, e = picture.v[i] - 128;
    halves[i] = unitHalf((c + 104600 * e + 32768) >> 16);
    halves[plane + i] = unitHalf((c - 25672 * d - 53280 * e + 32768) >> 16);
    halves[2 * plane + i] = unitHalf((c + 132200 * d + 32768) >> 16);
  }
  return halves;
}

}  // namespace ko::test
