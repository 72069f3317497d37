#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "simd/simd.h"
#include "tests/reference/simd_reference.h"
#include "tests/simd/target_sweep.h"

namespace ko {
namespace {

// Every (Y, U, V) triple, laid out as rows of 512 pixels: one U per row, V varying per pixel pair,
// and each row covering two Y values per pair so that all 256 Y values meet every chroma pair.
TEST(YuvToRgb, EveryInputTripleMatchesTheIntegerFormula) {
  constexpr int32_t kWidth = 512;
  std::vector<uint8_t> luma(kWidth), u(kWidth / 2), v(kWidth / 2), nv12(kWidth);
  std::vector<uint8_t> planar(3 * kWidth), interleaved(3 * kWidth), expected(3 * kWidth);
  test::forEachTarget([&] {
    for (int cu = 0; cu < 256; ++cu) {
      for (int yPair = 0; yPair < 128; ++yPair) {
        for (int j = 0; j < kWidth / 2; ++j) {
          u[j] = static_cast<uint8_t>(cu);
          v[j] = static_cast<uint8_t>(j);
          nv12[2 * j] = u[j], nv12[2 * j + 1] = v[j];
          luma[2 * j] = static_cast<uint8_t>(2 * yPair),
                   luma[2 * j + 1] = static_cast<uint8_t>(2 * yPair + 1);
        }
        simd::yuv420RowToRgb24(luma.data(), u.data(), v.data(), kWidth, 1, planar.data());
        simd::yuv420RowToRgb24(luma.data(), nv12.data(), nv12.data() + 1, kWidth, 2, interleaved.data());
        reference::yuv420RowToRgb24(luma.data(), u.data(), v.data(), kWidth, 1, expected.data());
        ASSERT_EQ(planar, expected) << "U " << cu << " Y pair " << yPair;
        ASSERT_EQ(interleaved, expected) << "U " << cu << " Y pair " << yPair;
      }
    }
  });
}

TEST(YuvToRgb, OddWidthsConvertEveryPixelAndNoMore) {
  std::mt19937 rng(5);
  test::forEachTarget([&] {
    for (const size_t width : test::tailSizes()) {
      const auto luma = test::randomBytes<uint8_t>(width, rng);
      const size_t chroma = (width + 1) / 2;
      const auto u = test::randomBytes<uint8_t>(chroma, rng), v = test::randomBytes<uint8_t>(chroma, rng);
      std::vector<uint8_t> nv12(2 * chroma);
      for (size_t j = 0; j < chroma; ++j) nv12[2 * j] = u[j], nv12[2 * j + 1] = v[j];
      const int32_t w = static_cast<int32_t>(width);
      std::vector<uint8_t> expected(3 * width + 1, 0xAB), planar(3 * width + 1, 0xAB),
          interleaved(3 * width + 1, 0xAB);
      reference::yuv420RowToRgb24(luma.data(), u.data(), v.data(), w, 1, expected.data());
      simd::yuv420RowToRgb24(luma.data(), u.data(), v.data(), w, 1, planar.data());
      simd::yuv420RowToRgb24(luma.data(), nv12.data(), nv12.data() + 1, w, 2, interleaved.data());
      ASSERT_EQ(planar, expected) << width;
      ASSERT_EQ(interleaved, expected) << width;
    }
  });
}

TEST(YuvToRgb, LimitedRangeBlackAndWhite) {
  const uint8_t luma[2] = {16, 235}, chroma[1] = {128};
  uint8_t rgb[6];
  simd::yuv420RowToRgb24(luma, chroma, chroma, 2, 1, rgb);
  EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 6), (std::vector<uint8_t>{0, 0, 0, 255, 255, 255}));
  uint8_t untouched[3] = {7, 7, 7};
  simd::yuv420RowToRgb24(luma, chroma, chroma, 0, 1, untouched);
  simd::yuv420RowToRgb24(luma, chroma, chroma, -4, 1, untouched);
  EXPECT_EQ(untouched[0], 7);
}

}  // namespace
}  // namespace ko
