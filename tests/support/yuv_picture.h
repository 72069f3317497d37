// Planar 8-bit YUV pictures for movie fixtures, and what a frame source must make of them: packed
// RGB for the driver video, half-float RGB planes for the warp prior. The expectations are written
// from the BT.601 formulas directly, independent of the library's conversion code.
#pragma once

#include <cstdint>
#include <vector>

namespace ko::test {

enum class Chroma { Yuv420p, Yuv444p };

// Chroma planes are full size for 4:4:4 and ceil(width / 2) x ceil(height / 2) for 4:2:0.
struct YuvPicture {
  int width = 0;
  int height = 0;
  Chroma chroma = Chroma::Yuv420p;
  std::vector<uint8_t> y, u, v;

  int chromaWidth() const { return chroma == Chroma::Yuv444p ? width : (width + 1) / 2; }
  int chromaHeight() const { return chroma == Chroma::Yuv444p ? height : (height + 1) / 2; }
};

// Every luma sample `luma`, every chroma sample `cb` and `cr`.
YuvPicture uniformPicture(int width, int height, Chroma chroma, uint8_t luma, uint8_t cb, uint8_t cr);

// Samples that vary across the picture and with `seed` over the whole 0..255 range, so that the
// frames of a movie differ from each other and the conversions' clamps are reached.
YuvPicture patternPicture(int width, int height, Chroma chroma, int seed);

// Packed RGB of a 4:2:0 picture: (298(Y-16) + 409V' + 128) >> 8 and the like, clamped.
std::vector<uint8_t> expectedRgb(const YuvPicture& picture);

// The R, G and B planes of a 4:4:4 picture as halves of i / 255, with 16-bit fixed-point BT.601
// (76312(Y-16) + 104600V' + 32768) >> 16 and the like, clamped.
std::vector<uint16_t> expectedHalfPlanes(const YuvPicture& picture);

}  // namespace ko::test
