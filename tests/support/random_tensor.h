// Random float inputs for the tests that run a model or a kernel, and how far two results lie apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "tests/support/ort_run.h"

namespace ko::test {

// `count` values drawn uniformly from [low, high), in order.
std::vector<float> uniformValues(size_t count, float low, float high, std::mt19937& rng);

// A tensor of `shape` with values drawn uniformly from [-reach, reach), in order.
FloatTensor uniformTensor(std::vector<int64_t> shape, float reach, std::mt19937& rng);

// The largest absolute difference between elements at the same index; two lengths that differ fail
// the test.
float maxAbsDifference(const std::vector<float>& a, const std::vector<float>& b);

}  // namespace ko::test
