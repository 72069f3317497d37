// The band kernel against a direct evaluation of the sampling formulas on every compiled target, and
// the operator's shape checks.
#include "graph/gridsample_fast.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "graph/gridsample_fast_op.h"
#include "tests/simd/target_sweep.h"
#include "tests/support/failure_text.h"

namespace {

struct Image {
  int32_t c, h, w;
  std::vector<float> x, grid;
  size_t planeSize() const { return static_cast<size_t>(h) * static_cast<size_t>(w); }
  size_t size() const { return static_cast<size_t>(c) * planeSize(); }
  float at(int32_t ch, int32_t row, int32_t col) const {
    return x[static_cast<size_t>(ch) * planeSize() + static_cast<size_t>(row) * static_cast<size_t>(w) +
             static_cast<size_t>(col)];
  }
};

Image randomImage(int32_t c, int32_t h, int32_t w, float gridReach, std::mt19937& rng) {
  std::uniform_real_distribution<float> value(-4.0f, 4.0f);
  std::uniform_real_distribution<float> coordinate(-gridReach, gridReach);
  Image image{c, h, w, {}, {}};
  image.x.resize(image.size());
  image.grid.resize(image.planeSize() * 2);
  for (float& v : image.x) v = value(rng);
  for (float& g : image.grid) g = coordinate(rng);
  return image;
}

// The sampling formulas written out one pixel at a time, taps clamped as integers.
std::vector<float> referenceSample(const Image& image) {
  std::vector<float> y(image.size());
  for (int32_t r = 0; r < image.h; ++r) {
    for (int32_t q = 0; q < image.w; ++q) {
      const size_t pixel = static_cast<size_t>(r) * static_cast<size_t>(image.w) + static_cast<size_t>(q);
      const float sx = ((1.0f + image.grid[2 * pixel]) * 0.5f) * static_cast<float>(image.w) - 0.5f;
      const float sy = ((1.0f + image.grid[2 * pixel + 1]) * 0.5f) * static_cast<float>(image.h) - 0.5f;
      const float fx = sx - std::floor(sx);
      const float fy = sy - std::floor(sy);
      const auto x0 = static_cast<int32_t>(std::floor(sx));
      const auto y0 = static_cast<int32_t>(std::floor(sy));
      const int32_t xa = std::clamp(x0, 0, image.w - 1), xb = std::clamp(x0 + 1, 0, image.w - 1);
      const int32_t ya = std::clamp(y0, 0, image.h - 1), yb = std::clamp(y0 + 1, 0, image.h - 1);
      for (int32_t ch = 0; ch < image.c; ++ch) {
        y[static_cast<size_t>(ch) * image.planeSize() + pixel] =
            (1 - fx) * (1 - fy) * image.at(ch, ya, xa) + fx * (1 - fy) * image.at(ch, ya, xb) +
            (1 - fx) * fy * image.at(ch, yb, xa) + fx * fy * image.at(ch, yb, xb);
      }
    }
  }
  return y;
}

std::vector<float> sampleAll(const Image& image) {
  std::vector<float> y(image.size());
  ko::gridsample_fast(image.x.data(), image.grid.data(), y.data(), image.c, image.h, image.w);
  return y;
}

TEST(GridSampleFastKernel, MatchesTheFormulasBitForBitOnEveryTarget) {
  struct Shape {
    int32_t c, h, w;
  };
  std::mt19937 rng(5);
  for (const Shape shape :
       {Shape{1, 5, 7}, Shape{12, 17, 33}, Shape{3, 9, 65}, Shape{12, 4, 16}, Shape{2, 1, 1}}) {
    for (const float reach : {1.0f, 1.6f}) {
      const Image image = randomImage(shape.c, shape.h, shape.w, reach, rng);
      const std::vector<float> expected = referenceSample(image);
      SCOPED_TRACE(testing::Message() << shape.c << "x" << shape.h << "x" << shape.w << " reach " << reach);
      ko::test::forEachTarget([&] { EXPECT_EQ(sampleAll(image), expected); });
    }
  }
}

// Grid rows at pixel centres of a 4-row image (-0.75, -0.25, 0.25, 0.75 are exact in binary).
Image edgeImage(float gx, int32_t w) {
  std::mt19937 rng(11);
  Image image = randomImage(2, 4, w, 1.0f, rng);
  for (size_t pixel = 0; pixel < image.planeSize(); ++pixel) {
    image.grid[2 * pixel] = gx;
    image.grid[2 * pixel + 1] = static_cast<float>(2 * (pixel / static_cast<size_t>(w)) + 1) / 4.0f - 1.0f;
  }
  return image;
}

TEST(GridSampleFastKernel, GridEdgesAndBeyondSampleTheBorderColumnsExactly) {
  for (const int32_t w : {5, 19}) {
    for (const float gx : {-1.0f, -7.5f, 1.0f, 3.25f}) {
      const Image image = edgeImage(gx, w);
      const int32_t column = gx < 0 ? 0 : w - 1;
      ko::test::forEachTarget([&] {
        const std::vector<float> y = sampleAll(image);
        for (int32_t ch = 0; ch < image.c; ++ch) {
          for (int32_t r = 0; r < image.h; ++r) {
            for (int32_t q = 0; q < w; ++q) {
              const size_t at = static_cast<size_t>((ch * image.h + r) * w + q);
              ASSERT_EQ(y[at], image.at(ch, r, column)) << "gx " << gx << " c " << ch << " row " << r;
            }
          }
        }
      });
    }
  }
}

TEST(GridSampleFastKernel, NonFiniteGridValuesGiveNaNAndStayInsideTheImage) {
  std::mt19937 rng(3);
  Image image = randomImage(3, 2, 20, 1.0f, rng);
  const float nonFinite[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity(), 3e38f};
  for (size_t i = 0; i < image.grid.size(); ++i) image.grid[i] = nonFinite[i % 4];
  ko::test::forEachTarget([&] {
    const std::vector<float> y = sampleAll(image);
    for (size_t pixel = 0; pixel < image.planeSize(); pixel += 2) EXPECT_TRUE(std::isnan(y[pixel]));
  });
}

class GridSampleFastBand : public testing::Test {
 protected:
  static constexpr float kUntouched = -1234.5f;
  std::mt19937 rng_{9};
  Image image_ = randomImage(12, 17, 21, 1.3f, rng_);
  std::vector<float> full_ = sampleAll(image_);

  // Rows of channel 0..c-1 the band wrote, checked against the whole-image result.
  std::vector<int32_t> rowsWritten(int32_t rowBegin, int32_t rowEnd) {
    std::vector<float> y(image_.size(), kUntouched);
    ko::gridsample_fast_band(image_.x.data(), image_.grid.data(), y.data(), image_.c, image_.h, image_.w,
                             rowBegin, rowEnd);
    std::vector<int32_t> rows;
    for (int32_t r = 0; r < image_.h; ++r) {
      const size_t w = static_cast<size_t>(image_.w);
      bool written = false;
      for (int32_t ch = 0; ch < image_.c; ++ch) {
        const size_t start = static_cast<size_t>(ch) * image_.planeSize() + static_cast<size_t>(r) * w;
        const std::vector<float> row(y.begin() + static_cast<ptrdiff_t>(start),
                                     y.begin() + static_cast<ptrdiff_t>(start + w));
        written = row.front() != kUntouched;
        const std::vector<float> expected =
            written ? std::vector<float>(full_.begin() + static_cast<ptrdiff_t>(start),
                                         full_.begin() + static_cast<ptrdiff_t>(start + w))
                    : std::vector<float>(w, kUntouched);
        EXPECT_EQ(row, expected) << "channel " << ch << " row " << r;
      }
      if (written) rows.push_back(r);
    }
    return rows;
  }
};

TEST_F(GridSampleFastBand, WritesOnlyItsRowsClampedToTheImageAndNothingForEmptyRanges) {
  EXPECT_EQ(rowsWritten(0, 16), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
  EXPECT_EQ(rowsWritten(16, 32), (std::vector<int32_t>{16}));
  EXPECT_EQ(rowsWritten(-5, 2), (std::vector<int32_t>{0, 1}));
  EXPECT_EQ(rowsWritten(15, 1000), (std::vector<int32_t>{15, 16}));
  for (const auto& [begin, end] : {std::pair{5, 5}, {9, 3}, {17, 30}, {-8, 0}}) {
    EXPECT_TRUE(rowsWritten(begin, end).empty()) << begin << ".." << end;
  }
}

std::string shapeFailure(std::vector<int64_t> x, std::vector<int64_t> grid) {
  return ko::test::failureText([&] { ko::checkGridSampleFastShapes(x, grid); });
}

TEST(GridSampleFastShapes, RefusesTensorsTheKernelWouldReadOutsideOfAndAcceptsMatchingOnesEvenEmpty) {
  EXPECT_EQ(shapeFailure({1, 3, 8}, {1, 8, 8, 2}), "GridSampleFast: X must be 4-D [N, C, H, W], got rank 3");
  EXPECT_EQ(shapeFailure({1, 3, 8, 8}, {1, 8, 8, 2, 1}),
            "GridSampleFast: grid must be 4-D [N, H, W, 2], got rank 5");
  EXPECT_EQ(shapeFailure({1, 3, 8, 8}, {1, 8, 8, 3}),
            "GridSampleFast: grid's last dimension must be 2, got 3");
  EXPECT_EQ(shapeFailure({1, 3, 8, 8}, {2, 8, 8, 2}), "GridSampleFast: grid batch 2 differs from X batch 1");
  EXPECT_EQ(shapeFailure({1, 3, 8, 8}, {1, 8, 7, 2}),
            "GridSampleFast: grid spatial size 8x7 differs from X's 8x8");
  EXPECT_EQ(shapeFailure({1, 3, 8, 8}, {1, 4, 8, 2}),
            "GridSampleFast: grid spatial size 4x8 differs from X's 8x8");
  EXPECT_EQ(shapeFailure({1, 3, 65536, 32768}, {1, 65536, 32768, 2}),
            "GridSampleFast: X 65536x32768 with 3 channels is too large (sides up to 16777216, H*W and C "
            "below 2^31)");
  EXPECT_EQ(shapeFailure({2, 12, 64, 48}, {2, 64, 48, 2}), ko::test::kNoFailure);
  EXPECT_EQ(shapeFailure({0, 12, 64, 48}, {0, 64, 48, 2}), ko::test::kNoFailure);
  EXPECT_EQ(shapeFailure({1, 0, 1, 16777216}, {1, 1, 16777216, 2}), ko::test::kNoFailure);
}

}  // namespace
