// The arithmetic behind Int8ConvVNNI: activation range and quantisation, weight packing, and the
// convolution itself with 32-bit integer sums. Every dot-product path (VNNI, AVX2, scalar) forms
// exactly the same integer sums, and the float dequantisation after them is shared, so results
// never depend on the processor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ko::int8conv {

// Output channels handled together by one work item and one dot-product tile.
inline constexpr int64_t kChannelBlock = 16;

struct ActivationRange {
  float minimum;
  float maximum;
};

struct Quantization {
  float scale;
  int32_t zeroPoint;
};

// Minimum and maximum of x, ignoring NaNs, reduced in parallel chunks of 4096 elements on the
// calling thread's pool. An empty or all-NaN x gives {+inf, -inf}.
ActivationRange activationRange(const float* x, size_t count);

// scale = (max - min) / 255, 1 when not positive; zeroPoint = -min / scale rounded to nearest even
// and clamped to [0, 255] (0 when that is NaN).
Quantization quantizationFor(ActivationRange range);

// The quantised value of one activation: clamp(rint(x / scale) + zeroPoint, 0, 255); NaN gives 0.
uint8_t quantize(float x, Quantization quantization);

// Input channels rounded up to a multiple of 4, the width of one dot-product step.
int64_t paddedChannels(int64_t channels);

struct ConvGeometry {
  int64_t batch, inChannels, height, width;
  int64_t outChannels, kernelH, kernelW;
  int64_t strideH, strideW, padTop, padLeft, dilationH, dilationW;
  int64_t outHeight, outWidth;
};

// The quantised image is framed by its pads: rows and columns of zero points, so that every output
// pixel's footprint lies inside it and padding contributes (zp - zp) * w = 0, exactly as the taps a
// border pixel would skip. framedHeight/Width are its sides, at least the input's plus the leading
// pad and as far as the last footprint reaches.
int64_t framedHeight(const ConvGeometry& geometry);
int64_t framedWidth(const ConvGeometry& geometry);
size_t quantizedBytes(const ConvGeometry& geometry);

// x [N, Cin, H, W] into [N][framedHeight][framedWidth][paddedChannels(Cin)] bytes, frame and filler
// channels holding the zero point; in parallel over framed rows. `q` holds quantizedBytes bytes.
void quantizeInterleaved(const float* x, const ConvGeometry& geometry, Quantization quantization, uint8_t* q);

// Weights [Cout, Cin, KH, KW] laid out for the tiles: [Cout / 16 blocks][tap][Cin / 4][16][4], the
// last block and the channel quads padded with zero weights, plus per output channel the sum of
// its weights (subtracted times the zero point when dequantising).
struct PackedWeights {
  int64_t outChannels = 0, inChannels = 0, kernelH = 0, kernelW = 0;
  std::vector<int8_t> values;
  std::vector<int32_t> totalSums;  // [Cout]
};

PackedWeights packWeights(const int8_t* weights, int64_t outChannels, int64_t inChannels, int64_t kernelH,
                          int64_t kernelW);

enum class DotPath { scalar, avx2, avxVnni, avx512Vnni };

// Whether this processor runs the path, with Highway deciding the vector widths it offers.
bool supported(DotPath path);
// The fastest supported path, chosen once per process.
DotPath bestDotPath();
const char* pathName(DotPath path);

struct ConvJob {
  ConvGeometry geometry;
  const uint8_t* q;  // quantizeInterleaved's output
  Quantization quantization;
  const PackedWeights* weights;
  const float* weightScales;  // [Cout]
  const float* bias;          // [Cout]
  float* y;                   // [N, Cout, OH, OW]
};

// y = float(acc - zeroPoint * S) * (scale * weightScale[co]) + bias[co], in parallel over
// (image, channel block, output row) on the calling thread's pool. `path` must be supported.
void convolve(const ConvJob& job, DotPath path);

}  // namespace ko::int8conv
