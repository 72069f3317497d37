#include "simd/half.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "simd/simd.h"
#include "tests/reference/simd_reference.h"
#include "tests/simd/target_sweep.h"

namespace ko {
namespace {

using reference::bitsOf;
using reference::floatOf;

// Floats where rounding to half changes character: overflow, the subnormal floor, ties, specials.
std::vector<float> boundaryFloats() {
  std::vector<float> values{65504.0f,
                            65519.0f,
                            65519.996f,
                            65520.0f,
                            65536.0f,
                            1e30f,
                            0x1p-25f,
                            std::nextafter(0x1p-25f, 1.0f),
                            std::nextafter(0x1p-25f, 0.0f),
                            0x1p-24f,
                            0x1.8p-24f,
                            0x1p-14f,
                            std::nextafter(0x1p-14f, 0.0f),
                            0x1.ffcp-15f,
                            1.0f + 0x1p-11f,
                            1.0f + 0x1p-11f + 0x1p-23f,
                            1.0f + 0x3p-11f,
                            0.0f,
                            1e-40f,
                            std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(),
                            floatOf(0x7F800001),
                            floatOf(0x7FBFE000),
                            floatOf(0x7FC12345)};
  const size_t positives = values.size();
  for (size_t i = 0; i < positives; ++i) values.push_back(-values[i]);
  return values;
}

std::vector<uint16_t> referenceHalves(const std::vector<float>& values) {
  std::vector<uint16_t> halves;
  for (const float v : values) halves.push_back(reference::halfFromFloat(v));
  return halves;
}

TEST(HalfConversion, EveryHalfWidensExactlyAndRoundsBackToItself) {
  std::vector<uint16_t> halves(65536);
  for (size_t i = 0; i < halves.size(); ++i) halves[i] = static_cast<uint16_t>(i);
  test::forEachTarget([&] {
    std::vector<float> widened(halves.size());
    simd::f16ToF32(halves.data(), widened.data(), widened.size());
    std::vector<uint16_t> back(halves.size());
    simd::f32ToF16(widened.data(), back.data(), back.size());
    for (size_t i = 0; i < halves.size(); ++i) {
      ASSERT_EQ(bitsOf(widened[i]), bitsOf(reference::floatFromHalf(halves[i]))) << std::hex << i;
      const bool signalling = (i & 0x7C00) == 0x7C00 && (i & 0x3FF) != 0 && (i & 0x200) == 0;
      ASSERT_EQ(back[i], signalling ? (i | 0x200) : i) << std::hex << i;
    }
  });
  std::vector<float> scalar(halves.size());
  halfToFloat(halves.data(), scalar.data(), scalar.size());
  for (size_t i = 0; i < halves.size(); ++i)
    ASSERT_EQ(bitsOf(scalar[i]), bitsOf(reference::floatFromHalf(halves[i])));
}

TEST(HalfConversion, BoundaryValuesRoundLikeIeeeInVectorsAndTails) {
  const std::vector<float> values = boundaryFloats();
  const std::vector<uint16_t> expected = referenceHalves(values);
  test::forEachTarget([&] {
    std::vector<uint16_t> together(values.size());
    simd::f32ToF16(values.data(), together.data(), values.size());
    EXPECT_EQ(together, expected);
    for (size_t i = 0; i < values.size(); ++i) {
      uint16_t alone = 0;
      simd::f32ToF16(&values[i], &alone, 1);
      EXPECT_EQ(alone, expected[i]) << values[i];
    }
  });
  const float cases[] = {65519.0f, 65520.0f, 0x1p-25f, std::nextafter(0x1p-25f, 1.0f)};
  uint16_t halves[4];
  simd::f32ToF16(cases, halves, 4);
  EXPECT_EQ(halves[0], 0x7BFF);
  EXPECT_EQ(halves[1], 0x7C00);
  EXPECT_EQ(halves[2], 0x0000);
  EXPECT_EQ(halves[3], 0x0001);
}

TEST(HalfConversion, VectorKeepsNaNWhileScalarTurnsItIntoInfinity) {
  const float nans[] = {floatOf(0x7FC00000), floatOf(0xFFC00000), floatOf(0x7F800001), floatOf(0xFF900000)};
  uint16_t halves[4];
  simd::f32ToF16(nans, halves, 4);
  EXPECT_EQ(halves[0], 0x7E00);
  EXPECT_EQ(halves[1], 0xFE00);
  EXPECT_EQ(halves[2], 0x7E00);
  EXPECT_EQ(halves[3], 0xFE80);
  EXPECT_EQ(f32ToF16(nans[0]), 0x7C00);
  EXPECT_EQ(f32ToF16(nans[1]), 0xFC00);
  EXPECT_EQ(f32ToF16(nans[3]), 0xFC00);
}

TEST(HalfConversion, RandomFloatsMatchReferenceOnEveryTarget) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<uint32_t> bits;
  std::uniform_real_distribution<float> moderate(-70000.0f, 70000.0f);
  std::vector<float> values(1 << 18);
  for (size_t i = 0; i < values.size(); ++i) values[i] = i % 2 ? floatOf(bits(rng)) : moderate(rng);
  const std::vector<uint16_t> expected = referenceHalves(values);
  test::forEachTarget([&] {
    std::vector<uint16_t> halves(values.size());
    simd::f32ToF16(values.data(), halves.data(), halves.size() - 3);
    simd::f32ToF16(values.data() + halves.size() - 3, halves.data() + halves.size() - 3, 3);
    EXPECT_EQ(halves, expected);
  });
  for (const float v : values) {
    const uint16_t want = std::isnan(v) ? (std::signbit(v) ? 0xFC00 : 0x7C00) : reference::halfFromFloat(v);
    ASSERT_EQ(f32ToF16(v), want) << std::hex << bitsOf(v);
  }
}

TEST(HalfConversion, ScalarMatchesVectorOnBoundaries) {
  for (const float v : boundaryFloats()) {
    if (!std::isnan(v)) {
      EXPECT_EQ(f32ToF16(v), reference::halfFromFloat(v)) << v;
    }
  }
}

TEST(HalfRounding, MultiplyRoundsOnlyTheFirstFactor) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> any(-100.0f, 100.0f);
  test::forEachTarget([&] {
    for (const size_t count : test::tailSizes()) {
      std::vector<float> a(count), b(count), out(count + 1, -1.0f);
      for (size_t i = 0; i < count; ++i) a[i] = any(rng), b[i] = any(rng);
      simd::roundF16Mul(a.data(), b.data(), out.data(), count);
      for (size_t i = 0; i < count; ++i)
        ASSERT_EQ(bitsOf(out[i]), bitsOf(reference::throughHalf(a[i]) * b[i]));
      EXPECT_EQ(out[count], -1.0f) << "wrote past the end";
    }
  });
}

TEST(HalfRounding, PackedRgbSplitsIntoUnitHalfPlanes) {
  std::mt19937 rng(3);
  test::forEachTarget([&] {
    for (const size_t count : test::tailSizes()) {
      const auto src = test::randomBytes<uint8_t>(3 * count, rng);
      const size_t stride = count + 5;
      std::vector<uint16_t> out(3 * stride, 0xDEAD), expected(3 * stride, 0xDEAD);
      simd::rgb8ToPlanarF16(src.data(), out.data(), stride, count);
      reference::rgb8ToPlanarF16(src.data(), expected.data(), stride, count);
      ASSERT_EQ(out, expected) << count;
    }
  });
  const uint8_t extremes[6] = {0, 255, 0, 255, 0, 255};
  uint16_t planes[6];
  simd::rgb8ToPlanarF16(extremes, planes, 2, 2);
  EXPECT_EQ(planes[0], 0x0000);
  EXPECT_EQ(planes[1], 0x3C00);
  EXPECT_EQ(planes[2], 0x3C00);
}

}  // namespace
}  // namespace ko
