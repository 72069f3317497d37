// One-node convolution models for Int8ConvVNNI tests and benchmarks: the operator itself, and ONNX
// Runtime's float Conv on the dequantised weights, both reading "X" [N, C, H, W] (symbolic dims)
// and writing "Y".
#pragma once

#include <cstdint>
#include <vector>

namespace ko::test {

struct Int8ConvCase {
  std::vector<int64_t> xShape;       // [N, Cin, H, W]
  std::vector<int64_t> weightShape;  // [Cout, Cin, KH, KW]
  std::vector<int8_t> weights;
  std::vector<float> weightScales;  // [Cout]
  std::vector<float> bias;          // [Cout]
  std::vector<int64_t> strides{1, 1};
  std::vector<int64_t> pads{0, 0, 0, 0};  // top, left, bottom, right
  std::vector<int64_t> dilations{1, 1};
  int64_t group = 1;

  std::vector<int64_t> outShape() const;
  // weights[i] * weightScales[co], the float weights the operator stands for.
  std::vector<float> dequantisedWeights() const;
};

// Random weights over the whole int8 range, scales in [0.001, 0.02], bias in [-1, 1].
Int8ConvCase randomInt8Conv(std::vector<int64_t> xShape, std::vector<int64_t> weightShape, uint32_t seed);

// With weightsAsInput the weights are a graph input "W" [Cout, Cin, KH, KW] (int8) instead of an
// initializer, so each run may bring other values.
std::vector<uint8_t> int8ConvModel(const Int8ConvCase& c, bool weightsAsInput = false);
// ONNX pads run begin, begin, end, end: top, left, bottom, right is already that order.
std::vector<uint8_t> floatConvModel(const Int8ConvCase& c);

}  // namespace ko::test
