// The unsharp mask's two passes on every target against the plain definitions, including values the
// clamp must catch (NaN, infinities, far out of range).
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "simd/simd.h"
#include "tests/reference/simd_reference.h"
#include "tests/simd/target_sweep.h"

namespace ko {
namespace {

std::vector<float> randomValues(size_t count, std::mt19937& rng, float low, float high) {
  std::uniform_real_distribution<float> value(low, high);
  std::vector<float> values(count);
  for (float& v : values) v = value(rng);
  return values;
}

TEST(UnsharpKernels, HorizontalPassMatchesTheDirectSumOnEveryTarget) {
  std::mt19937 rng(5);
  const std::vector<float> taps = randomValues(13, rng, 0.0f, 0.2f);
  test::forEachTarget([&] {
    for (size_t size : test::tailSizes()) {
      for (int32_t ntaps : {1, 3, 13}) {
        const std::vector<float> src = randomValues(size + 3 + ntaps, rng, 0.0f, 255.0f);
        std::vector<float> out(size + 3, -1.0f), expected(size + 3, -1.0f);
        simd::gaussTapsRange(src.data(), taps.data(), ntaps, 3, size + 3, out.data());
        reference::gaussTapsRange(src.data(), taps.data(), ntaps, 3, size + 3, expected.data());
        ASSERT_EQ(out, expected) << size << " pixels, " << ntaps << " taps";
      }
    }
  });
}

TEST(UnsharpKernels, SharpenedRowMatchesTheDefinitionAndStaysInByteRange) {
  std::mt19937 rng(6);
  const std::vector<float> taps = randomValues(5, rng, 0.0f, 0.3f);
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  test::forEachTarget([&] {
    for (size_t size : test::tailSizes()) {
      const size_t stride = size + 2;
      const std::vector<float> blurred = randomValues(stride * 5, rng, -50.0f, 300.0f);
      std::vector<float> row = randomValues(size, rng, -20.0f, 280.0f);
      for (size_t x = 0; x < size; x += 7) row[x] = x % 3 == 0 ? nan : (x % 3 == 1 ? inf : -inf);
      std::vector<float> expected = row;
      simd::sharpenRow(blurred.data(), stride, taps.data(), 5, static_cast<int32_t>(size), 1.3f, row.data());
      reference::sharpenRow(blurred.data(), stride, taps.data(), 5, static_cast<int32_t>(size), 1.3f,
                            expected.data());
      ASSERT_EQ(row, expected) << size << " pixels";
      for (float v : row) ASSERT_TRUE(v >= 0.0f && v <= 255.0f) << v;
    }
  });
}

}  // namespace
}  // namespace ko
