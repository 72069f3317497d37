// The director's warp: both kernel forms against the formulas evaluated directly, the invariants a
// warp must keep, and the WarpDirector operator inside ONNX Runtime, including the runs it refuses.
#include "graph/warp_director.h"

#include <gtest/gtest.h>
#include <onnxruntime_cxx_api.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "graph/custom_domain.h"
#include "graph/warp_director_op.h"
#include "tests/simd/target_sweep.h"
#include "tests/support/failure_text.h"
#include "tests/support/random_tensor.h"
#include "tests/support/warp_block_model.h"

namespace ko {
namespace {

struct Image {
  int32_t w, h;
  std::vector<float> source, grid;
  size_t planeSize() const { return static_cast<size_t>(w) * static_cast<size_t>(h); }
};

Image randomImage(int32_t w, int32_t h, float gridReach, std::mt19937& rng) {
  std::uniform_real_distribution<float> value(-2.0f, 2.0f);
  std::uniform_real_distribution<float> coordinate(-gridReach, gridReach);
  Image image{w, h, std::vector<float>(3 * static_cast<size_t>(w) * static_cast<size_t>(h)),
              std::vector<float>(2 * static_cast<size_t>(w) * static_cast<size_t>(h))};
  for (float& v : image.source) v = value(rng);
  for (float& g : image.grid) g = coordinate(rng);
  return image;
}

// The formulas as written, one output pixel and channel at a time.
struct Reference {
  const Image& image;

  float n(int32_t c, int32_t x, int32_t y) const {
    x = std::clamp(x, 0, image.w - 1);
    y = std::clamp(y, 0, image.h - 1);
    return image.source[static_cast<size_t>(c) * image.planeSize() + static_cast<size_t>(y * image.w + x)];
  }

  // f, fxx, fyy, fxxyy of channel c at (x, y).
  std::array<float, 4> differences(int32_t c, int32_t x, int32_t y) const {
    const float f = n(c, x, y);
    const float fxx = n(c, x - 1, y) - 2.0f * f + n(c, x + 1, y);
    const float fyy = n(c, x, y - 1) - 2.0f * f + n(c, x, y + 1);
    const float fxxyy = (n(c, x - 1, y - 1) - 2.0f * n(c, x - 1, y) + n(c, x - 1, y + 1)) - 2.0f * fyy +
                        (n(c, x + 1, y - 1) - 2.0f * n(c, x + 1, y) + n(c, x + 1, y + 1));
    return {f, fxx, fyy, fxxyy};
  }

  struct Axis {
    int32_t lo, hi;
    float wLo, wHi, c;
  };

  static Axis axis(float g, int32_t size) {
    const float v = ((1.0f + g) * static_cast<float>(size) - 1.0f) * 0.5f;
    const float fr = v - std::floor(v);
    const float c = (1.0f - fr) * fr * 0.5f;
    if (v < 0.0f) return {0, 0, 1.0f, 0.0f, c};
    const float clamped = std::min(v, static_cast<float>(size - 1));
    const float x0 = std::floor(clamped);
    const float wx = clamped - x0;
    const auto lo = static_cast<int32_t>(x0);
    return {lo, std::min(lo + 1, size - 1), 1.0f - wx, wx, c};
  }

  std::vector<float> warp() const {
    std::vector<float> out(image.source.size());
    for (int32_t r = 0; r < image.h; ++r) {
      for (int32_t q = 0; q < image.w; ++q) {
        const size_t pixel = static_cast<size_t>(r * image.w + q);
        const Axis ax = axis(image.grid[2 * pixel], image.w);
        const Axis ay = axis(image.grid[2 * pixel + 1], image.h);
        for (int32_t c = 0; c < 3; ++c) {
          const auto d00 = differences(c, ax.lo, ay.lo), d10 = differences(c, ax.hi, ay.lo);
          const auto d01 = differences(c, ax.lo, ay.hi), d11 = differences(c, ax.hi, ay.hi);
          std::array<float, 4> m;
          for (size_t k = 0; k < 4; ++k) {
            m[k] = ax.wLo * ay.wLo * d00[k] + ax.wHi * ay.wLo * d10[k] + ax.wLo * ay.wHi * d01[k] +
                   ax.wHi * ay.wHi * d11[k];
          }
          out[static_cast<size_t>(c) * image.planeSize() + pixel] =
              (m[0] - ax.c * m[1] - ay.c * m[2]) + ax.c * ay.c * m[3];
        }
      }
    }
    return out;
  }
};

std::vector<float> fused(const Image& image) {
  std::vector<float> out(image.source.size());
  warpDirector(image.source.data(), image.grid.data(), out.data(), image.w, image.h);
  return out;
}

// The operator's schedule: every planes band, then every gather band, `rows` rows each.
std::vector<float> twoPass(const Image& image, int32_t rows) {
  std::vector<float> planes(image.planeSize() * kWarpPlaneValues);
  std::vector<float> out(image.source.size());
  for (int32_t r = 0; r < image.h; r += rows) {
    warpDirectorPlanesBand(image.source.data(), planes.data(), image.w, image.h, r, r + rows);
  }
  for (int32_t r = 0; r < image.h; r += rows) {
    warpDirectorGatherBand(planes.data(), image.grid.data(), out.data(), image.w, image.h, r, r + rows);
  }
  return out;
}

struct Size {
  int32_t w, h;
};

const Size kSizes[] = {{1, 1}, {1, 5}, {5, 1}, {7, 3}, {16, 17}, {33, 9}, {2, 40}};

TEST(WarpDirectorKernel, BothFormsComputeTheFormulasBitForBit) {
  std::mt19937 rng(53);
  for (const Size size : kSizes) {
    for (const float reach : {1.0f, 1.5f}) {
      const Image image = randomImage(size.w, size.h, reach, rng);
      const std::vector<float> expected = Reference{image}.warp();
      SCOPED_TRACE(testing::Message() << size.w << "x" << size.h << " reach " << reach);
      test::forEachTarget([&] {
        EXPECT_EQ(fused(image), expected);
        for (const int32_t rows : {16, 3, 1000}) EXPECT_EQ(twoPass(image, rows), expected) << rows << " rows";
      });
    }
  }
}

TEST(WarpDirectorKernel, BandsWriteOnlyTheirRows) {
  std::mt19937 rng(7);
  const Image image = randomImage(9, 20, 1.2f, rng);
  const std::vector<float> whole = fused(image);
  constexpr float kUntouched = -1234.5f;
  std::vector<float> out(image.source.size(), kUntouched);
  warpDirectorBand(image.source.data(), image.grid.data(), out.data(), image.w, image.h, 16, 99);
  warpDirectorBand(image.source.data(), image.grid.data(), out.data(), image.w, image.h, 5, 5);
  for (size_t i = 0; i < out.size(); ++i) {
    const bool inBand = i % image.planeSize() >= 16 * static_cast<size_t>(image.w);
    ASSERT_EQ(out[i], inBand ? whole[i] : kUntouched) << i;
  }
}

TEST(WarpDirectorKernel, KeepsTheIdentityGridExact) {
  std::mt19937 rng(8);
  Image image = randomImage(16, 8, 1.0f, rng);
  // Pixel centres are exact in binary for power-of-two sides.
  for (int32_t r = 0; r < image.h; ++r) {
    for (int32_t q = 0; q < image.w; ++q) {
      const size_t pixel = static_cast<size_t>(r * image.w + q);
      image.grid[2 * pixel] = static_cast<float>(2 * q + 1) / static_cast<float>(image.w) - 1.0f;
      image.grid[2 * pixel + 1] = static_cast<float>(2 * r + 1) / static_cast<float>(image.h) - 1.0f;
    }
  }
  test::forEachTarget([&] {
    EXPECT_EQ(fused(image), image.source);
    EXPECT_EQ(twoPass(image, 16), image.source);
  });
}

TEST(WarpDirectorKernel, NonFiniteGridValuesGiveNaNAndStayInsideTheImage) {
  std::mt19937 rng(3);
  Image image = randomImage(20, 3, 1.0f, rng);
  const float nonFinite[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                             -std::numeric_limits<float>::infinity()};
  for (size_t i = 0; i < image.grid.size(); ++i) image.grid[i] = nonFinite[i % 3];
  test::forEachTarget([&] {
    for (const std::vector<float>& out : {fused(image), twoPass(image, 16)}) {
      for (const float v : out) ASSERT_TRUE(std::isnan(v));
    }
  });
}

Ort::Session openDirector(int threads) {
  return test::openSession(test::warpDirectorModel(), threads, registerWarpDirector);
}

TEST(WarpDirectorOperator, ComputesTheKernelForEveryImageOfTheBatch) {
  std::mt19937 rng(21);
  const int32_t w = 13, h = 35;
  const test::FloatTensor source = test::uniformTensor({2, 3, h, w}, 2.0f, rng);
  const test::FloatTensor grid = test::uniformTensor({2, h, w, 2}, 1.3f, rng);
  const std::vector<float> expected = test::warpEveryImage(source, grid);
  for (const int threads : {1, 2}) {
    Ort::Session session = openDirector(threads);
    for (int run = 0; run < 2; ++run) {  // the second run reuses the kernel's scratch
      const test::FloatTensor out = test::runWarpDirector(session, source, grid);
      EXPECT_EQ(out.shape, source.shape);
      EXPECT_EQ(out.values, expected) << threads << " threads";
    }
  }
}

TEST(WarpDirectorOperator, LoadsWhereBothOperatorsWereRegisteredForOneSession) {
  Ort::SessionOptions options;
  registerGridSampleFast(options);
  registerWarpDirector(options);
  registerWarpDirector(options);
  const std::vector<uint8_t> model = test::warpDirectorModel();
  std::mt19937 rng(6);
  EXPECT_EQ(test::failureText([&] {
              Ort::Session session(test::ortEnv(), model.data(), model.size(), options);
              test::runWarpDirector(session, test::uniformTensor({1, 3, 4, 4}, 1.0f, rng),
                                    test::uniformTensor({1, 4, 4, 2}, 1.0f, rng));
            }),
            test::kNoFailure);
}

TEST(WarpDirectorOperator, FailsTheRunOnTensorsItCannotWarp) {
  Ort::Session session = openDirector(2);
  std::mt19937 rng(4);
  const struct {
    std::vector<int64_t> source, grid;
    const char* message;
  } cases[] = {
      {{1, 4, 5, 5},
       {1, 5, 5, 2},
       "com.quandrel::WarpDirector: this node warps the director's 3-channel source and the graph handed it "
       "C=4. REFUSING rather than writing a frame nobody asked for."},
      {{1, 3, 8, 8}, {1, 8, 7, 2}, "com.quandrel::WarpDirector: grid spatial size 8x7 differs from S's 8x8"},
  };
  for (const auto& c : cases) {
    const std::string failure = test::failureText([&] {
      test::runWarpDirector(session, test::uniformTensor(c.source, 1.0f, rng),
                            test::uniformTensor(c.grid, 1.0f, rng));
    });
    EXPECT_NE(failure.find(c.message), std::string::npos) << failure;
  }
  // After a refused run the session still warps.
  const test::FloatTensor out = test::runWarpDirector(session, test::uniformTensor({1, 3, 4, 4}, 1.0f, rng),
                                                      test::uniformTensor({1, 4, 4, 2}, 1.0f, rng));
  EXPECT_EQ(out.shape, (std::vector<int64_t>{1, 3, 4, 4}));
}

std::string shapeFailure(std::vector<int64_t> source, std::vector<int64_t> grid) {
  return test::failureText([&] { checkWarpDirectorShapes(source, grid); });
}

TEST(WarpDirectorOperator, ChecksRanksAndTheGridAgainstTheSource) {
  const std::string prefix = "com.quandrel::WarpDirector: ";
  EXPECT_EQ(shapeFailure({3, 8, 8}, {1, 8, 8, 2}), prefix + "S must be 4-D [N, 3, H, W], got rank 3");
  EXPECT_EQ(shapeFailure({1, 3, 8, 8}, {8, 8, 2}), prefix + "grid must be 4-D [N, H, W, 2], got rank 3");
  EXPECT_EQ(shapeFailure({1, 3, 8, 8}, {1, 8, 8, 3}), prefix + "grid's last dimension must be 2, got 3");
  EXPECT_EQ(shapeFailure({1, 3, 8, 8}, {2, 8, 8, 2}), prefix + "grid batch 2 differs from S batch 1");
  EXPECT_EQ(shapeFailure({1, 3, 8, 8}, {1, 4, 8, 2}), prefix + "grid spatial size 4x8 differs from S's 8x8");
  EXPECT_EQ(shapeFailure({1, 3, 65536, 32768}, {1, 65536, 32768, 2}),
            prefix + "S 65536x32768 is too large (sides up to 16777216, H*W below 2^31)");
  EXPECT_EQ(shapeFailure({1, 1, 8, 8}, {1, 8, 8, 2}),
            prefix +
                "this node warps the director's 3-channel source and the graph handed it C=1. REFUSING "
                "rather than writing a frame nobody asked for.");
  EXPECT_EQ(shapeFailure({2, 3, 8, 8}, {2, 8, 8, 2}), test::kNoFailure);
  EXPECT_EQ(shapeFailure({0, 3, 8, 8}, {0, 8, 8, 2}), test::kNoFailure);
}

}  // namespace
}  // namespace ko
