// Runs a test body once per instruction-set target that the kernels were compiled for and this
// processor supports, with the dispatcher restricted to that target.
#pragma once

#include <gtest/gtest.h>
#include <hwy/highway.h>

#include <random>
#include <vector>

#include "simd/simd.h"

namespace ko::test {

class TargetRestriction {
 public:
  explicit TargetRestriction(int64_t target) { hwy::SetSupportedTargetsForTest(target); }
  ~TargetRestriction() { hwy::SetSupportedTargetsForTest(0); }
  TargetRestriction(const TargetRestriction&) = delete;
  TargetRestriction& operator=(const TargetRestriction&) = delete;
};

template <class Body>
void forEachTarget(Body body) {
  for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
    const TargetRestriction restriction(target);
    SCOPED_TRACE(hwy::TargetName(target));
    ASSERT_STREQ(simd::target(), hwy::TargetName(target));
    body();
  }
}

// Sizes around every vector width the targets use (4 to 32 lanes), so main loops and tails both run.
inline const std::vector<size_t>& tailSizes() {
  static const std::vector<size_t> sizes{0,  1,  2,  3,  5,  7,  8,  9,   15, 16,
                                         17, 31, 32, 33, 63, 64, 65, 100, 257};
  return sizes;
}

template <class T>
std::vector<T> randomBytes(size_t count, std::mt19937& rng) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<T> values(count);
  for (auto& v : values) v = static_cast<T>(byte(rng));
  return values;
}

}  // namespace ko::test
