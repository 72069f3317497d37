#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "paste/paste_tables.h"
#include "simd/simd.h"
#include "tests/reference/simd_reference.h"
#include "tests/simd/target_sweep.h"

namespace ko {
namespace {

enum class Kernel { reference, rowPairs };

// The row-pair layout of a crop of four floats per pixel: each pixel followed by the one below it,
// zeros below the last row.
std::vector<float> rowPairs(const std::vector<float>& crop, int32_t side) {
  const size_t pixels = static_cast<size_t>(side) * side;
  std::vector<float> pairs(8 * pixels, 0.0f);
  for (size_t i = 0; i < pixels; ++i) {
    std::copy_n(&crop[4 * i], 4, &pairs[8 * i]);
    if (i + side < pixels) std::copy_n(&crop[4 * (i + side)], 4, &pairs[8 * i + 4]);
  }
  return pairs;
}

// The mask as floats inside a border of zeros.
std::vector<float> paddedMask(const std::vector<uint8_t>& mask, int32_t side) {
  const int32_t stride = side + 2;
  std::vector<float> padded(static_cast<size_t>(stride) * stride, 0.0f);
  for (int32_t y = 0; y < side; ++y) {
    for (int32_t x = 0; x < side; ++x) padded[(y + 1) * stride + x + 1] = mask[y * side + x];
  }
  return padded;
}

// The summed-area table of a padded mask, one row and column of zeros ahead.
std::vector<int32_t> summedArea(const std::vector<float>& padded, int32_t side) {
  const int32_t n = side + 2, w = n + 1;
  std::vector<int32_t> sums(static_cast<size_t>(w) * w, 0);
  for (int32_t y = 1; y <= n; ++y) {
    for (int32_t x = 1; x <= n; ++x) {
      sums[y * w + x] = sums[(y - 1) * w + x] + sums[y * w + x - 1] - sums[(y - 1) * w + x - 1] +
                        static_cast<int32_t>(padded[(y - 1) * n + x - 1]);
    }
  }
  return sums;
}

// A crop with random pixels and a mask that is opaque in the middle, feathered, and zero in a
// corner, plus the real resampling tables.
struct PasteScene {
  int32_t side;
  std::vector<float> crop;
  std::vector<float> pairs;
  std::vector<uint8_t> mask;
  std::vector<float> lanczos = lanczosTable();
  std::vector<float> bilinear = bilinearTable();

  PasteScene(int32_t s, std::mt19937& rng)
      : side(s), crop(static_cast<size_t>(s) * s * 4), mask(static_cast<size_t>(s) * s) {
    std::uniform_real_distribution<float> value(0.0f, 255.0f);
    for (auto& c : crop) c = value(rng);
    for (int32_t y = 0; y < s; ++y) {
      for (int32_t x = 0; x < s; ++x)
        mask[y * s + x] = x + y < s / 3 ? 0 : static_cast<uint8_t>(std::min(255, 40 * (x + 1)));
    }
    pairs = rowPairs(crop, s);
  }

  std::vector<uint8_t> paste(Kernel kernel, const std::vector<int32_t>& xcol,
                             const std::vector<int32_t>& ycol, int32_t xrow, int32_t yrow, int32_t first,
                             const std::vector<uint8_t>& under) const {
    std::vector<uint8_t> row = under;
    const int32_t last = first + static_cast<int32_t>(xcol.size()) - 1;
    if (kernel == Kernel::rowPairs) {
      const std::vector<float> padded = paddedMask(mask, side);
      simd::pasteLanczos8RowPairs(pairs.data(), side, padded.data(), summedArea(padded, side).data(),
                                  lanczos.data(), xcol.data(), ycol.data(), xrow, yrow, first, last,
                                  row.data());
      return row;
    }
    reference::pasteLanczos8Row(crop.data(), side, mask.data(), lanczos.data(), bilinear.data(), xcol.data(),
                                ycol.data(), xrow, yrow, first, last, row.data());
    return row;
  }
};

TEST(PasteRow, MatchesReferenceInsideAtEdgesAndOutsideTheCrop) {
  std::mt19937 rng(17);
  const PasteScene scene(24, rng);
  // Source positions from well outside to well past the crop, at arbitrary phases.
  std::uniform_int_distribution<int32_t> position(-3 * 1024, 27 * 1024);
  test::forEachTarget([&] {
    for (int trial = 0; trial < 40; ++trial) {
      const int32_t pixels = 1 + trial * 3, first = trial % 5;
      std::vector<int32_t> xcol(pixels), ycol(pixels);
      for (int32_t k = 0; k < pixels; ++k) xcol[k] = position(rng), ycol[k] = position(rng);
      const auto under = test::randomBytes<uint8_t>(3 * (first + pixels), rng);
      const int32_t xrow = trial * 37, yrow = -trial * 11;
      const auto expected = scene.paste(Kernel::reference, xcol, ycol, xrow, yrow, first, under);
      ASSERT_EQ(scene.paste(Kernel::rowPairs, xcol, ycol, xrow, yrow, first, under), expected)
          << "trial " << trial;
    }
  });
}

// Rows as a rotated, enlarged paste walks them, so whole vectors of pixels fall on transparent,
// opaque and feathered parts of the mask and outside the crop.
TEST(PasteRow, RowPairsMatchReferenceAlongAffineRows) {
  std::mt19937 rng(23);
  const PasteScene scene(64, rng);
  const int32_t pixels = 130;
  std::vector<int32_t> xcol(pixels), ycol(pixels);
  for (int32_t k = 0; k < pixels; ++k) xcol[k] = 710 * k, ycol[k] = 95 * k;
  test::forEachTarget([&] {
    for (int32_t y = -10; y < 80; y += 3) {
      const auto under = test::randomBytes<uint8_t>(3 * pixels, rng);
      const int32_t xrow = -95 * y - 20 * 1024, yrow = 710 * y - 6 * 1024 + 16;
      ASSERT_EQ(scene.paste(Kernel::rowPairs, xcol, ycol, xrow, yrow, 0, under),
                scene.paste(Kernel::reference, xcol, ycol, xrow, yrow, 0, under))
          << "row " << y;
    }
  });
}

TEST(PasteRow, PlanesBecomeTheRowPairLayout) {
  std::mt19937 rng(29);
  std::uniform_real_distribution<float> value(0.0f, 255.0f);
  test::forEachTarget([&] {
    for (int32_t side : {1, 5, 8, 13}) {
      const size_t pixels = static_cast<size_t>(side) * side;
      std::vector<float> planes(3 * pixels), rgba(4 * pixels, 0.0f);
      for (float& v : planes) v = value(rng);
      for (size_t i = 0; i < pixels; ++i) {
        for (size_t c = 0; c < 3; ++c) rgba[4 * i + c] = planes[c * pixels + i];
      }
      // Rows in two calls, as the pool splits them.
      std::vector<float> pairs(8 * pixels, 0.0f);
      const size_t half = static_cast<size_t>(side) / 2;
      for (const auto& [begin, end] : {std::pair<size_t, size_t>{0, half}, {half, side}}) {
        simd::planesToRowPairs(planes.data(), planes.data() + pixels, planes.data() + 2 * pixels, side, begin,
                               end, pairs.data());
      }
      EXPECT_EQ(pairs, rowPairs(rgba, side)) << "side " << side;
    }
  });
}

TEST(PasteRow, PhaseZeroTakesTheSampleAndTransparentMaskLeavesPixels) {
  std::mt19937 rng(19);
  PasteScene scene(16, rng);
  std::fill(scene.mask.begin(), scene.mask.end(), 255);
  scene.mask[0] = 0, scene.mask[1] = 0, scene.mask[16] = 0, scene.mask[17] = 0;
  // Pixel 0 sits exactly on crop sample (8, 9); pixel 1 on (0, 0), where the mask is transparent.
  const std::vector<int32_t> xcol{8 * 1024, 0}, ycol{9 * 1024, 0};
  const std::vector<uint8_t> under{1, 2, 3, 4, 5, 6};
  const std::vector<uint8_t> row = scene.paste(Kernel::rowPairs, xcol, ycol, 0, 0, 0, under);
  const float* sample = &scene.crop[(9 * 16 + 8) * 4];
  for (int c = 0; c < 3; ++c) EXPECT_EQ(row[c], static_cast<uint8_t>(sample[c])) << c;
  EXPECT_EQ(std::vector<uint8_t>(row.begin() + 3, row.end()), (std::vector<uint8_t>{4, 5, 6}));
}

}  // namespace
}  // namespace ko
