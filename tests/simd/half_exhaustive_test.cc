// Every one of the 2^32 floats, on every target: minutes of work, so it runs under the "long" label.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "simd/half.h"
#include "simd/simd.h"
#include "tests/reference/simd_reference.h"
#include "tests/simd/target_sweep.h"

namespace ko {
namespace {

constexpr uint64_t kChunk = uint64_t{1} << 20;

void fillChunk(uint64_t start, std::vector<float>& values, std::vector<uint16_t>& expected) {
  for (uint64_t i = 0; i < kChunk; ++i) {
    values[i] = reference::floatOf(static_cast<uint32_t>(start + i));
    expected[i] = reference::halfFromFloat(values[i]);
  }
}

TEST(HalfConversionExhaustive, EveryFloatOnEveryTarget) {
  std::vector<float> values(kChunk);
  std::vector<uint16_t> expected(kChunk), halves(kChunk);
  for (uint64_t start = 0; start < (uint64_t{1} << 32); start += kChunk) {
    fillChunk(start, values, expected);
    test::forEachTarget([&] {
      simd::f32ToF16(values.data(), halves.data(), kChunk - 1);
      simd::f32ToF16(values.data() + kChunk - 1, halves.data() + kChunk - 1, 1);
      ASSERT_EQ(halves, expected) << "chunk at " << std::hex << start;
    });
    for (uint64_t i = 0; i < kChunk; ++i) {
      const uint16_t want = std::isnan(values[i]) ? (expected[i] & 0x8000) | 0x7C00 : expected[i];
      ASSERT_EQ(f32ToF16(values[i]), want) << std::hex << start + i;
    }
  }
}

}  // namespace
}  // namespace ko
