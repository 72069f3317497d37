#include "tests/support/random_tensor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>

namespace ko::test {

std::vector<float> uniformValues(size_t count, float low, float high, std::mt19937& rng) {
  std::uniform_real_distribution<float> value(low, high);
  std::vector<float> values(count);
  for (float& v : values) v = value(rng);
  return values;
}

FloatTensor uniformTensor(std::vector<int64_t> shape, float reach, std::mt19937& rng) {
  size_t count = 1;
  for (const int64_t dim : shape) count *= static_cast<size_t>(dim);
  std::vector<float> values = uniformValues(count, -reach, reach, rng);
  return {std::move(shape), std::move(values)};
}

float maxAbsDifference(const std::vector<float>& a, const std::vector<float>& b) {
  EXPECT_EQ(a.size(), b.size());
  float worst = 0;
  for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
  return worst;
}

}  // namespace ko::test
