#include "graph/int8_conv_kernels.h"

#include <immintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "graph/int8_dot.h"
#include "pool/pool.h"

namespace ko::int8conv {
namespace {

constexpr size_t kRangeChunk = 4096;
constexpr int64_t kQuadBytes = 4;
constexpr int64_t kBlockQuadBytes = kChannelBlock * kQuadBytes;

// Clamps without undefined behaviour on NaN (which becomes `low`) before a float becomes an integer.
float clampOrLow(float value, float low, float high) {
  if (!(value > low)) return low;
  return value < high ? value : high;
}

// _mm_min_ps returns its second operand when either is NaN, so keeping the running value second
// makes NaN activations drop out of the range.
ActivationRange chunkRange(const float* x, size_t count) {
  __m128 low = _mm_set1_ps(std::numeric_limits<float>::infinity());
  __m128 high = _mm_set1_ps(-std::numeric_limits<float>::infinity());
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128 v = _mm_loadu_ps(x + i);
    low = _mm_min_ps(v, low);
    high = _mm_max_ps(v, high);
  }
  float lows[4], highs[4];
  _mm_storeu_ps(lows, low);
  _mm_storeu_ps(highs, high);
  ActivationRange range{std::min({lows[0], lows[1], lows[2], lows[3]}),
                        std::max({highs[0], highs[1], highs[2], highs[3]})};
  for (; i < count; ++i) {
    if (x[i] < range.minimum) range.minimum = x[i];
    if (x[i] > range.maximum) range.maximum = x[i];
  }
  return range;
}

// Where an output coordinate's whole footprint lies inside the input: [first, last).
struct InteriorSpan {
  int64_t first, last;
};

InteriorSpan interiorSpan(int64_t pad, int64_t stride, int64_t dilation, int64_t kernel, int64_t in,
                          int64_t out) {
  const int64_t lastStart = in - 1 - (kernel - 1) * dilation + pad;
  const int64_t last = lastStart < 0 ? 0 : std::min(out, lastStart / stride + 1);
  const int64_t first = std::min(last, (pad + stride - 1) / stride);
  return {first, last};
}

InteriorSums interiorFor(DotPath path) {
  switch (path) {
    case DotPath::avx512Vnni:
      return interiorSumsAvx512Vnni;
    case DotPath::avxVnni:
      return interiorSumsAvxVnni;
    case DotPath::avx2:
      return interiorSumsAvx2;
    case DotPath::scalar:
      break;
  }
  return interiorSumsScalar;
}

// The one dequantisation every path shares.
float dequantize(int32_t acc, int32_t weightSum, float factor, float bias, int32_t zeroPoint) {
  const int64_t centred = int64_t{acc} - int64_t{zeroPoint} * weightSum;
  return static_cast<float>(centred) * factor + bias;
}

class RowConvolver {
 public:
  RowConvolver(const ConvJob& job, DotPath path)
      : job_(job),
        g_(job.geometry),
        interior_(interiorFor(path)),
        pixelBytes_(paddedChannels(g_.inChannels)),
        quads_(pixelBytes_ / kQuadBytes),
        taps_(g_.kernelH * g_.kernelW),
        rows_(interiorSpan(g_.padTop, g_.strideH, g_.dilationH, g_.kernelH, g_.height, g_.outHeight)),
        cols_(interiorSpan(g_.padLeft, g_.strideW, g_.dilationW, g_.kernelW, g_.width, g_.outWidth)) {
    for (int64_t ky = 0; ky < g_.kernelH; ++ky) {
      for (int64_t kx = 0; kx < g_.kernelW; ++kx) {
        tapOffsets_.push_back((ky * g_.dilationH * g_.width + kx * g_.dilationW) * pixelBytes_);
      }
    }
  }

  int64_t blocks() const { return (g_.outChannels + kChannelBlock - 1) / kChannelBlock; }

  // Work item = (image * blocks + block) * outHeight + oy.
  void run(int64_t item, std::vector<int32_t>& acc) const {
    const int64_t oy = item % g_.outHeight;
    const int64_t block = (item / g_.outHeight) % blocks();
    const int64_t image = item / g_.outHeight / blocks();
    const uint8_t* pixels = job_.q + image * g_.height * g_.width * pixelBytes_;
    const DotRow row{job_.weights->values.data() + block * taps_ * quads_ * kBlockQuadBytes,
                     tapOffsets_.data(), taps_, quads_, g_.strideW * pixelBytes_};
    acc.assign(static_cast<size_t>(g_.outWidth * kChannelBlock), 0);
    const bool interiorRow = oy >= rows_.first && oy < rows_.last;
    const int64_t first = interiorRow ? cols_.first : g_.outWidth;
    const int64_t last = interiorRow ? cols_.last : g_.outWidth;
    if (first < last) {
      const int64_t iy = oy * g_.strideH - g_.padTop;
      const int64_t ix = first * g_.strideW - g_.padLeft;
      interior_(row, pixels + (iy * g_.width + ix) * pixelBytes_, last - first,
                acc.data() + first * kChannelBlock);
    }
    for (int64_t j = 0; j < kChannelBlock; ++j) {
      const int64_t co = block * kChannelBlock + j;
      if (co >= g_.outChannels) break;
      float* out = job_.y + ((image * g_.outChannels + co) * g_.outHeight + oy) * g_.outWidth;
      const float factor = job_.quantization.scale * job_.weightScales[co];
      const int32_t total = job_.weights->totalSums[static_cast<size_t>(co)];
      for (int64_t ox = 0; ox < g_.outWidth; ++ox) {
        const bool inside = ox >= first && ox < last;
        const auto [sum, weightSum] = inside
                                          ? std::pair{acc[static_cast<size_t>(ox * kChannelBlock + j)], total}
                                          : borderSums(row, pixels, co, oy, ox);
        out[ox] = dequantize(sum, weightSum, factor, job_.bias[co], job_.quantization.zeroPoint);
      }
    }
  }

 private:
  // The sums over the taps that fall inside the image: padding contributes (zp - zp) * w = 0.
  std::pair<int32_t, int32_t> borderSums(const DotRow& row, const uint8_t* pixels, int64_t co, int64_t oy,
                                         int64_t ox) const {
    const int64_t j = co % kChannelBlock;
    const int32_t* tapSums = job_.weights->tapSums.data() + co * taps_;
    int32_t acc = 0, weightSum = 0;
    for (int64_t ky = 0; ky < g_.kernelH; ++ky) {
      const int64_t iy = oy * g_.strideH - g_.padTop + ky * g_.dilationH;
      if (iy < 0 || iy >= g_.height) continue;
      for (int64_t kx = 0; kx < g_.kernelW; ++kx) {
        const int64_t ix = ox * g_.strideW - g_.padLeft + kx * g_.dilationW;
        if (ix < 0 || ix >= g_.width) continue;
        const int64_t tap = ky * g_.kernelW + kx;
        const uint8_t* in = pixels + (iy * g_.width + ix) * pixelBytes_;
        const int8_t* w = row.blockWeights + tap * quads_ * kBlockQuadBytes + j * kQuadBytes;
        for (int64_t quad = 0; quad < quads_; ++quad) {
          for (int64_t k = 0; k < kQuadBytes; ++k) {
            acc += int32_t{in[quad * kQuadBytes + k]} * int32_t{w[quad * kBlockQuadBytes + k]};
          }
        }
        weightSum += tapSums[tap];
      }
    }
    return {acc, weightSum};
  }

  const ConvJob& job_;
  const ConvGeometry& g_;
  InteriorSums interior_;
  int64_t pixelBytes_, quads_, taps_;
  InteriorSpan rows_, cols_;
  std::vector<int64_t> tapOffsets_;
};

}  // namespace

void interiorSumsScalar(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc) {
  for (int64_t p = 0; p < count; ++p) {
    int32_t* sums = acc + p * kChannelBlock;
    std::fill(sums, sums + kChannelBlock, 0);
    for (int64_t tap = 0; tap < row.taps; ++tap) {
      const uint8_t* in = firstPixel + p * row.pixelStep + row.tapOffsets[tap];
      const int8_t* w = row.blockWeights + tap * row.quads * kBlockQuadBytes;
      for (int64_t quad = 0; quad < row.quads; ++quad, w += kBlockQuadBytes) {
        for (int64_t j = 0; j < kChannelBlock; ++j) {
          for (int64_t k = 0; k < kQuadBytes; ++k) {
            sums[j] += int32_t{in[quad * kQuadBytes + k]} * int32_t{w[j * kQuadBytes + k]};
          }
        }
      }
    }
  }
}

ActivationRange activationRange(const float* x, size_t count) {
  const size_t chunks = (count + kRangeChunk - 1) / kRangeChunk;
  std::vector<ActivationRange> partial(chunks);
  pool::parallelRange(chunks, 1, [&](uint64_t begin, uint64_t end) {
    for (uint64_t c = begin; c < end; ++c) {
      const size_t first = c * kRangeChunk;
      partial[c] = chunkRange(x + first, std::min(kRangeChunk, count - first));
    }
  });
  ActivationRange range{std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
  for (const ActivationRange& part : partial) {
    range.minimum = std::min(range.minimum, part.minimum);
    range.maximum = std::max(range.maximum, part.maximum);
  }
  return range;
}

Quantization quantizationFor(ActivationRange range) {
  float scale = (range.maximum - range.minimum) / 255.0f;
  if (!(scale > 0.0f)) scale = 1.0f;
  const float zeroPoint = clampOrLow(std::nearbyint(-range.minimum / scale), 0.0f, 255.0f);
  return {scale, static_cast<int32_t>(zeroPoint)};
}

uint8_t quantize(float x, Quantization quantization) {
  const float shifted = std::nearbyint(x / quantization.scale) + static_cast<float>(quantization.zeroPoint);
  return static_cast<uint8_t>(clampOrLow(shifted, 0.0f, 255.0f));
}

int64_t paddedChannels(int64_t channels) {
  return (channels + kQuadBytes - 1) / kQuadBytes * kQuadBytes;
}

void quantizeInterleaved(const float* x, const ConvGeometry& g, Quantization quantization, uint8_t* q) {
  const int64_t pixelBytes = paddedChannels(g.inChannels);
  const int64_t plane = g.height * g.width;
  pool::parallelRange(static_cast<uint64_t>(g.batch * g.height), 1, [&](uint64_t begin, uint64_t end) {
    for (auto row = static_cast<int64_t>(begin); row < static_cast<int64_t>(end); ++row) {
      const int64_t image = row / g.height, iy = row % g.height;
      uint8_t* out = q + row * g.width * pixelBytes;
      std::fill(out, out + g.width * pixelBytes, static_cast<uint8_t>(quantization.zeroPoint));
      for (int64_t c = 0; c < g.inChannels; ++c) {
        const float* in = x + (image * g.inChannels + c) * plane + iy * g.width;
        for (int64_t ix = 0; ix < g.width; ++ix) out[ix * pixelBytes + c] = quantize(in[ix], quantization);
      }
    }
  });
}

PackedWeights packWeights(const int8_t* weights, int64_t outChannels, int64_t inChannels, int64_t kernelH,
                          int64_t kernelW) {
  PackedWeights packed{outChannels, inChannels, kernelH, kernelW, {}, {}, {}};
  const int64_t taps = kernelH * kernelW;
  const int64_t quads = paddedChannels(inChannels) / kQuadBytes;
  const int64_t blocks = (outChannels + kChannelBlock - 1) / kChannelBlock;
  packed.values.assign(static_cast<size_t>(blocks * taps * quads * kBlockQuadBytes), 0);
  packed.tapSums.assign(static_cast<size_t>(outChannels * taps), 0);
  packed.totalSums.assign(static_cast<size_t>(outChannels), 0);
  for (int64_t co = 0; co < outChannels; ++co) {
    for (int64_t ci = 0; ci < inChannels; ++ci) {
      for (int64_t tap = 0; tap < taps; ++tap) {
        const int8_t w = weights[(co * inChannels + ci) * taps + tap];
        const int64_t block = co / kChannelBlock;
        const int64_t at = ((block * taps + tap) * quads + ci / kQuadBytes) * kBlockQuadBytes +
                           (co % kChannelBlock) * kQuadBytes + ci % kQuadBytes;
        packed.values[static_cast<size_t>(at)] = w;
        packed.tapSums[static_cast<size_t>(co * taps + tap)] += w;
        packed.totalSums[static_cast<size_t>(co)] += w;
      }
    }
  }
  return packed;
}

bool supported(DotPath path) {
  switch (path) {
    case DotPath::avx512Vnni:
      return __builtin_cpu_supports("avx512vnni") && __builtin_cpu_supports("avx512vl") &&
             __builtin_cpu_supports("avx2");
    case DotPath::avxVnni:
      return __builtin_cpu_supports("avxvnni") && __builtin_cpu_supports("avx2");
    case DotPath::avx2:
      return __builtin_cpu_supports("avx2");
    case DotPath::scalar:
      return true;
  }
  return false;
}

DotPath bestDotPath() {
  static const DotPath best = [] {
    for (const DotPath path : {DotPath::avx512Vnni, DotPath::avxVnni, DotPath::avx2}) {
      if (supported(path)) return path;
    }
    return DotPath::scalar;
  }();
  return best;
}

const char* pathName(DotPath path) {
  switch (path) {
    case DotPath::avx512Vnni:
      return "AVX512-VNNI";
    case DotPath::avxVnni:
      return "AVX-VNNI";
    case DotPath::avx2:
      return "AVX2";
    case DotPath::scalar:
      break;
  }
  return "scalar";
}

void convolve(const ConvJob& job, DotPath path) {
  const RowConvolver rows(job, path);
  const ConvGeometry& g = job.geometry;
  const auto items = static_cast<uint64_t>(g.batch * rows.blocks() * g.outHeight);
  pool::parallelRange(items, 1, [&](uint64_t begin, uint64_t end) {
    std::vector<int32_t> acc;
    for (uint64_t item = begin; item < end; ++item) rows.run(static_cast<int64_t>(item), acc);
  });
}

}  // namespace ko::int8conv
