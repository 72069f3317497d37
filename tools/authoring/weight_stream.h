// Seeded weights for the synthetic networks and tables that tests, benchmarks and the demo author.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace ko::authoring {

// Uniform weights from the engine's raw 32-bit output: std::mt19937's sequence is fixed by the
// standard, the distributions' are not, and a recipe must name the same network on every toolchain.
class WeightStream {
 public:
  explicit WeightStream(uint32_t seed) : rng_(seed) {}

  float uniform(float reach) {
    const float unit = static_cast<float>(rng_() >> 8) * 0x1p-24f;
    return reach * (2.0f * unit - 1.0f);
  }

  std::vector<float> uniform(size_t count, float reach) {
    std::vector<float> values(count);
    for (float& value : values) value = uniform(reach);
    return values;
  }

  // A [fanIn, fanOut] matrix whose products with unit-variance rows have variance gain^2: large
  // enough to carry every input, small enough that the tanh after it stays off its rails.
  std::vector<float> matrix(int fanIn, int fanOut, float gain = 1.0f) {
    return uniform(static_cast<size_t>(fanIn) * static_cast<size_t>(fanOut),
                   gain * std::sqrt(3.0f / static_cast<float>(fanIn)));
  }

 private:
  std::mt19937 rng_;
};

}  // namespace ko::authoring
