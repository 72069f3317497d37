#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "simd/half.h"
#include "simd/simd.h"
#include "tests/reference/simd_reference.h"
#include "tests/simd/target_sweep.h"

namespace ko {
namespace {

// Three planes of halves and weights that are sometimes exactly zero. `withInfinities` repeats `b`
// with infinite samples where the exact weight is zero.
struct RetrievalCase {
  std::vector<uint16_t> a, b, withInfinities, pooledWeights;
  std::vector<float> exactWeights;

  RetrievalCase(size_t n, std::mt19937& rng) : a(3 * n), b(3 * n), pooledWeights(n), exactWeights(n) {
    std::uniform_real_distribution<float> pixel(0.0f, 1.0f), weight(0.0f, 3.0f);
    for (size_t i = 0; i < 3 * n; ++i) a[i] = f32ToF16(pixel(rng)), b[i] = f32ToF16(pixel(rng));
    withInfinities = b;
    for (size_t i = 0; i < n; ++i) {
      const bool infinite = i % 13 == 5;
      if (infinite) withInfinities[i] = 0x7C00;
      exactWeights[i] = infinite || i % 7 == 0 ? 0.0f : weight(rng);
      pooledWeights[i] = i % 7 == 0 ? 0 : f32ToF16(weight(rng));
    }
  }
};

TEST(RetrievalTerms, SumsMatchTheOrderedScalarDefinition) {
  std::mt19937 rng(29);
  test::forEachTarget([&] {
    for (const size_t count : test::tailSizes()) {
      const RetrievalCase c(count, rng);
      EXPECT_EQ(
          reference::bitsOf(simd::retrieveTermPooled(c.a.data(), c.b.data(), c.pooledWeights.data(), count)),
          reference::bitsOf(
              reference::retrieveTermPooled(c.a.data(), c.b.data(), c.pooledWeights.data(), count)))
          << count;
      const uint16_t* b = c.withInfinities.data();
      const float exact = simd::retrieveTermExact(c.a.data(), b, c.exactWeights.data(), count);
      EXPECT_TRUE(std::isfinite(exact));
      EXPECT_EQ(reference::bitsOf(exact), reference::bitsOf(reference::retrieveTermExactRange(
                                              c.a.data(), b, c.exactWeights.data(), count, 0, count)))
          << count;
      const size_t begin = count / 3, end = count - count / 5;
      EXPECT_EQ(reference::bitsOf(
                    simd::retrieveTermExactRange(c.a.data(), b, c.exactWeights.data(), count, begin, end)),
                reference::bitsOf(reference::retrieveTermExactRange(c.a.data(), b, c.exactWeights.data(),
                                                                    count, begin, end)))
          << count;
    }
  });
}

TEST(RetrievalTerms, ZeroWeightKeepsAnInfiniteDistanceOut) {
  const uint16_t a[3] = {0x3C00, 0x3C00, 0x3C00};
  const uint16_t b[3] = {0x7C00, 0x3C00, 0x3C00};
  const float zero = 0.0f, one = 1.0f;
  EXPECT_EQ(simd::retrieveTermExact(a, b, &zero, 1), 0.0f);
  EXPECT_TRUE(std::isinf(simd::retrieveTermExact(a, b, &one, 1)));
  const uint16_t halfOne = 0x3C00;
  EXPECT_TRUE(std::isinf(simd::retrieveTermPooled(a, b, &halfOne, 1)));
}

}  // namespace
}  // namespace ko
