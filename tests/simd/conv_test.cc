#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <random>
#include <vector>

#include "simd/simd.h"
#include "tests/reference/simd_reference.h"
#include "tests/simd/target_sweep.h"

namespace ko {
namespace {

struct ConvShape {
  int32_t n, cin, h, w, cout;
};

TEST(Conv3x3, EveryPlaneOfAnyRangeMatchesTheDirectSum) {
  std::mt19937 rng(23);
  std::uniform_real_distribution<float> value(-2.0f, 2.0f);
  const ConvShape shapes[] = {{1, 1, 1, 1, 1},   {2, 3, 5, 7, 4},  {2, 7, 4, 17, 3},
                              {1, 16, 6, 33, 2}, {3, 2, 9, 65, 2}, {3, 5, 4, 40, 6}};
  test::forEachTarget([&] {
    for (const ConvShape& s : shapes) {
      const size_t plane = static_cast<size_t>(s.h) * s.w;
      std::vector<float> in(s.n * s.cin * plane), weights(s.cout * s.cin * 9), bias(s.cout);
      for (auto* v : {&in, &weights, &bias}) {
        for (auto& x : *v) x = value(rng);
      }
      const int32_t planes = s.n * s.cout;
      // A range that starts and ends mid-image, and the whole batch.
      for (const auto& [begin, end] : {std::pair{planes / 3, planes - planes / 4}, std::pair{0, planes}}) {
        std::vector<float> out(planes * plane, -7.0f), expected(planes * plane, -7.0f);
        simd::conv3x3Range(in.data(), s.n, s.cin, s.h, s.w, weights.data(), bias.data(), s.cout, out.data(),
                           begin, end);
        reference::conv3x3Range(in.data(), s.n, s.cin, s.h, s.w, weights.data(), bias.data(), s.cout,
                                expected.data(), begin, end);
        ASSERT_EQ(out, expected) << s.cin << "x" << s.h << "x" << s.w << " [" << begin << ", " << end << ")";
      }
    }
  });
}

TEST(Conv3x3, RangeBeyondTheBatchStopsAtTheLastPlane) {
  const std::vector<float> in(4, 1.0f), weights(9, 1.0f), bias{0.5f};
  std::vector<float> out(8, -1.0f);
  simd::conv3x3Range(in.data(), 1, 1, 2, 2, weights.data(), bias.data(), 1, out.data(), 0, 2);
  EXPECT_EQ(out, (std::vector<float>{4.5f, 4.5f, 4.5f, 4.5f, -1.0f, -1.0f, -1.0f, -1.0f}));
}

TEST(Relu, KeepsPositivesAndZeroesTheRestOnEveryTarget) {
  std::vector<float> data(67);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i % 7) - 3.0f;
  data[5] = std::numeric_limits<float>::quiet_NaN();
  data[66] = std::numeric_limits<float>::quiet_NaN();
  data[9] = -0.0f;
  test::forEachTarget([&] {
    std::vector<float> out = data;
    simd::reluInPlace(out.data(), out.size());
    for (size_t i = 0; i < data.size(); ++i) {
      EXPECT_EQ(std::bit_cast<uint32_t>(out[i]), std::bit_cast<uint32_t>(data[i] > 0.0f ? data[i] : 0.0f))
          << i;
    }
  });
}

}  // namespace
}  // namespace ko
