// The Int8ConvVNNI operator of the "com.quandrel.int8" domain: a convolution whose weights arrive
// quantised to signed 8 bits [Cout, Cin, KH, KW] with per-output-channel float scales [Cout] and a
// float bias [Cout]. The float activation X [N, Cin, H, W] is quantised on the fly to unsigned 8
// bits (one scale and zero point per run, from its minimum and maximum); products are summed in
// 32 bits and dequantised per output channel. Work runs on the calling thread's ko::pool.
#pragma once

#include <cstdint>
#include <span>

struct OrtCustomOp;

namespace ko {

// The operator description, created once per process.
const OrtCustomOp* int8ConvOp();

// Node attributes, read when the kernel is created.
struct Int8ConvAttributes {
  int64_t strideH = 1, strideW = 1;
  int64_t padTop = 0, padLeft = 0, padBottom = 0, padRight = 0;
  int64_t dilationH = 1, dilationW = 1;
  int64_t group = 1;
};

// Throws std::invalid_argument naming the first attribute the kernel cannot run with: strides and
// dilations below 1, negative pads, or a group other than 1 (grouped convolution is refused).
void checkInt8ConvAttributes(const Int8ConvAttributes& attributes);

// Throws std::invalid_argument naming the first way the tensors do not fit the operator: ranks,
// X's channels against the weights', scale and bias lengths against the output channels, a kernel
// larger than the padded input, or sizes beyond the 32-bit sums. A graph that arrives with the
// operator already in it is untrusted, so the kernel cannot rely on the graph alone.
void checkInt8ConvShapes(const Int8ConvAttributes& attributes, std::span<const int64_t> xShape,
                         std::span<const int64_t> weightShape, std::span<const int64_t> scaleShape,
                         std::span<const int64_t> biasShape);

}  // namespace ko
