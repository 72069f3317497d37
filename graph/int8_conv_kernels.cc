#include "graph/int8_conv_kernels.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>

#include "graph/int8_dot.h"
#include "hwy/targets.h"
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

// Transposes four rows of four 32-bit lanes in place.
void transpose4(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
  const __m128i low01 = _mm_unpacklo_epi32(r0, r1), low23 = _mm_unpacklo_epi32(r2, r3);
  const __m128i high01 = _mm_unpackhi_epi32(r0, r1), high23 = _mm_unpackhi_epi32(r2, r3);
  r0 = _mm_unpacklo_epi64(low01, low23);
  r1 = _mm_unpackhi_epi64(low01, low23);
  r2 = _mm_unpacklo_epi64(high01, high23);
  r3 = _mm_unpackhi_epi64(high01, high23);
}

// quantize() four at a time with SSE2, bit for bit: cvtps2dq rounds in the current mode as
// nearbyint does. Clamping x / scale to +-512 first keeps the conversion in range without changing
// any result (beyond +-512 the sum saturates either way), and sends NaN to the low end because
// maxps returns its second operand on NaN; the byte pack then saturates to [0, 255].
class VectorQuantizer {
 public:
  explicit VectorQuantizer(Quantization quantization)
      : scale_(_mm_set1_ps(quantization.scale)), zeroPoint_(_mm_set1_epi32(quantization.zeroPoint)) {}

  // Pixels ix..ix+3 of four channel rows, as four quads of bytes: pixel 0's channels first.
  __m128i quads(const float* const rows[kQuadBytes], int64_t ix) const {
    __m128i p0 = steps(rows[0] + ix), p1 = steps(rows[1] + ix);
    __m128i p2 = steps(rows[2] + ix), p3 = steps(rows[3] + ix);
    transpose4(p0, p1, p2, p3);
    return _mm_packus_epi16(_mm_packs_epi32(p0, p1), _mm_packs_epi32(p2, p3));
  }

 private:
  __m128i steps(const float* x) const {
    const __m128 limit = _mm_set1_ps(512.0f);
    const __m128 ratio = _mm_div_ps(_mm_loadu_ps(x), scale_);
    const __m128 bounded = _mm_min_ps(_mm_max_ps(ratio, _mm_sub_ps(_mm_setzero_ps(), limit)), limit);
    return _mm_add_epi32(_mm_cvtps_epi32(bounded), zeroPoint_);
  }

  __m128 scale_;
  __m128i zeroPoint_;
};

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

// Rows or columns of the zero-point-framed image: the input after its leading pad, or as far as the
// last footprint reaches, whichever is further.
int64_t framedSide(int64_t in, int64_t padBefore, int64_t out, int64_t stride, int64_t kernel,
                   int64_t dilation) {
  return std::max(in + padBefore, (out - 1) * stride + (kernel - 1) * dilation + 1);
}

RowSums rowSumsFor(DotPath path) {
  switch (path) {
    case DotPath::avx512Vnni:
      return rowSumsAvx512Vnni;
    case DotPath::avxVnni:
      return rowSumsAvxVnni;
    case DotPath::avx2:
      return rowSumsAvx2;
    case DotPath::scalar:
      break;
  }
  return rowSumsScalar;
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
        sums_(rowSumsFor(path)),
        pixelBytes_(paddedChannels(g_.inChannels)),
        quads_(pixelBytes_ / kQuadBytes),
        taps_(g_.kernelH * g_.kernelW),
        framedHeight_(framedHeight(g_)),
        framedWidth_(framedWidth(g_)) {
    for (int64_t ky = 0; ky < g_.kernelH; ++ky) {
      for (int64_t kx = 0; kx < g_.kernelW; ++kx) {
        tapOffsets_.push_back((ky * g_.dilationH * framedWidth_ + kx * g_.dilationW) * pixelBytes_);
      }
    }
  }

  int64_t blocks() const { return (g_.outChannels + kChannelBlock - 1) / kChannelBlock; }

  // Work item = (image * blocks + block) * outHeight + oy.
  void run(int64_t item, std::vector<int32_t>& acc) const {
    const int64_t oy = item % g_.outHeight;
    const int64_t block = (item / g_.outHeight) % blocks();
    const int64_t image = item / g_.outHeight / blocks();
    const uint8_t* rowStart =
        job_.q + ((image * framedHeight_ + oy * g_.strideH) * framedWidth_) * pixelBytes_;
    const DotRow row{job_.weights->values.data() + block * taps_ * quads_ * kBlockQuadBytes,
                     tapOffsets_.data(), taps_, quads_, g_.strideW * pixelBytes_};
    acc.resize(static_cast<size_t>(g_.outWidth * kChannelBlock));
    sums_(row, rowStart, g_.outWidth, acc.data());
    const int64_t channels = std::min(kChannelBlock, g_.outChannels - block * kChannelBlock);
    int64_t j = 0;
    for (; j + kQuadBytes <= channels; j += kQuadBytes) {
      dequantizeQuad(acc.data() + j, outputChannels(image, block * kChannelBlock + j, oy));
    }
    for (; j < channels; ++j) {
      const OutputChannel channel = outputChannel(image, block * kChannelBlock + j, oy);
      for (int64_t ox = 0; ox < g_.outWidth; ++ox) {
        channel.out[ox] = channel.value(acc[static_cast<size_t>(ox * kChannelBlock + j)]);
      }
    }
  }

 private:
  struct OutputChannel {
    float* out;  // the output row
    int32_t weightSum, zeroPoint;
    float factor, bias;

    float value(int32_t acc) const { return dequantize(acc, weightSum, factor, bias, zeroPoint); }
  };
  using ChannelQuad = std::array<OutputChannel, kQuadBytes>;

  OutputChannel outputChannel(int64_t image, int64_t co, int64_t oy) const {
    return {job_.y + ((image * g_.outChannels + co) * g_.outHeight + oy) * g_.outWidth,
            job_.weights->totalSums[static_cast<size_t>(co)], job_.quantization.zeroPoint,
            job_.quantization.scale * job_.weightScales[co], job_.bias[co]};
  }

  ChannelQuad outputChannels(int64_t image, int64_t firstChannel, int64_t oy) const {
    ChannelQuad quad;
    for (int64_t k = 0; k < kQuadBytes; ++k) {
      quad[static_cast<size_t>(k)] = outputChannel(image, firstChannel + k, oy);
    }
    return quad;
  }

  // dequantize() on four channels by four pixels, transposing the sums into output rows. The
  // centred sum always fits 32 bits (the shape checks bound it), so wrapping integer arithmetic
  // gives it exactly; this unit is built for the baseline, which has no fused multiply-add, so the
  // multiply and add round apart exactly as in dequantize().
  void dequantizeQuad(const int32_t* acc, const ChannelQuad& channels) const {
    __m128i offset[kQuadBytes];
    __m128 factor[kQuadBytes], bias[kQuadBytes];
    for (size_t k = 0; k < channels.size(); ++k) {
      offset[k] =
          _mm_set1_epi32(static_cast<int32_t>(int64_t{channels[k].zeroPoint} * channels[k].weightSum));
      factor[k] = _mm_set1_ps(channels[k].factor);
      bias[k] = _mm_set1_ps(channels[k].bias);
    }
    const auto load = [&](int64_t ox) {
      return _mm_loadu_si128(reinterpret_cast<const __m128i*>(acc + ox * kChannelBlock));
    };
    int64_t ox = 0;
    for (; ox + kQuadBytes <= g_.outWidth; ox += kQuadBytes) {
      __m128i sums[kQuadBytes] = {load(ox), load(ox + 1), load(ox + 2), load(ox + 3)};
      transpose4(sums[0], sums[1], sums[2], sums[3]);
      for (size_t k = 0; k < channels.size(); ++k) {
        const __m128 centred = _mm_cvtepi32_ps(_mm_sub_epi32(sums[k], offset[k]));
        _mm_storeu_ps(channels[k].out + ox, _mm_add_ps(_mm_mul_ps(centred, factor[k]), bias[k]));
      }
    }
    for (; ox < g_.outWidth; ++ox) {
      for (size_t k = 0; k < channels.size(); ++k) {
        channels[k].out[ox] = channels[k].value(acc[ox * kChannelBlock + static_cast<int64_t>(k)]);
      }
    }
  }

  const ConvJob& job_;
  const ConvGeometry& g_;
  RowSums sums_;
  int64_t pixelBytes_, quads_, taps_, framedHeight_, framedWidth_;
  std::vector<int64_t> tapOffsets_;
};

}  // namespace

void rowSumsScalar(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc) {
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

int64_t framedHeight(const ConvGeometry& g) {
  return framedSide(g.height, g.padTop, g.outHeight, g.strideH, g.kernelH, g.dilationH);
}

int64_t framedWidth(const ConvGeometry& g) {
  return framedSide(g.width, g.padLeft, g.outWidth, g.strideW, g.kernelW, g.dilationW);
}

size_t quantizedBytes(const ConvGeometry& g) {
  return static_cast<size_t>(g.batch * framedHeight(g) * framedWidth(g) * paddedChannels(g.inChannels));
}

namespace {

// One framed row of one image: frame rows and columns and filler channels hold the zero point, the
// rest the quantised input row, four channels by four pixels at a time where whole.
void quantizeFramedRow(const float* image, const ConvGeometry& g, Quantization quantization, int64_t row,
                       uint8_t* out) {
  const int64_t pixelBytes = paddedChannels(g.inChannels);
  const int64_t rowBytes = framedWidth(g) * pixelBytes;
  const auto zeroPoint = static_cast<uint8_t>(quantization.zeroPoint);
  const int64_t iy = row - g.padTop;
  if (iy < 0 || iy >= g.height) {
    std::fill(out, out + rowBytes, zeroPoint);
    return;
  }
  const int64_t leading = g.padLeft * pixelBytes, inside = g.width * pixelBytes;
  std::fill(out, out + leading, zeroPoint);
  std::fill(out + leading + inside, out + rowBytes, zeroPoint);
  uint8_t* pixels = out + leading;
  const VectorQuantizer vector(quantization);
  for (int64_t c = 0; c < pixelBytes; c += kQuadBytes) {
    const float* rows[kQuadBytes];
    for (int64_t k = 0; k < kQuadBytes; ++k) {
      rows[k] = c + k < g.inChannels ? image + ((c + k) * g.height + iy) * g.width : nullptr;
    }
    int64_t ix = 0;
    if (c + kQuadBytes <= g.inChannels) {
      for (; ix + kQuadBytes <= g.width; ix += kQuadBytes) {
        alignas(16) uint8_t quads[kQuadBytes * kQuadBytes];
        _mm_store_si128(reinterpret_cast<__m128i*>(quads), vector.quads(rows, ix));
        for (int64_t p = 0; p < kQuadBytes; ++p) {
          std::memcpy(pixels + (ix + p) * pixelBytes + c, quads + p * kQuadBytes, kQuadBytes);
        }
      }
    }
    for (; ix < g.width; ++ix) {
      for (int64_t k = 0; k < kQuadBytes; ++k) {
        pixels[ix * pixelBytes + c + k] = rows[k] ? quantize(rows[k][ix], quantization) : zeroPoint;
      }
    }
  }
}

}  // namespace

void quantizeInterleaved(const float* x, const ConvGeometry& g, Quantization quantization, uint8_t* q) {
  const int64_t height = framedHeight(g);
  const int64_t rowBytes = framedWidth(g) * paddedChannels(g.inChannels);
  const int64_t imageFloats = g.inChannels * g.height * g.width;
  pool::parallelRange(static_cast<uint64_t>(g.batch * height), 1, [&](uint64_t begin, uint64_t end) {
    for (auto row = static_cast<int64_t>(begin); row < static_cast<int64_t>(end); ++row) {
      quantizeFramedRow(x + row / height * imageFloats, g, quantization, row % height, q + row * rowBytes);
    }
  });
}

PackedWeights packWeights(const int8_t* weights, int64_t outChannels, int64_t inChannels, int64_t kernelH,
                          int64_t kernelW) {
  PackedWeights packed{outChannels, inChannels, kernelH, kernelW, {}, {}};
  const int64_t taps = kernelH * kernelW;
  const int64_t quads = paddedChannels(inChannels) / kQuadBytes;
  const int64_t blocks = (outChannels + kChannelBlock - 1) / kChannelBlock;
  packed.values.assign(static_cast<size_t>(blocks * taps * quads * kBlockQuadBytes), 0);
  packed.totalSums.assign(static_cast<size_t>(outChannels), 0);
  for (int64_t co = 0; co < outChannels; ++co) {
    for (int64_t ci = 0; ci < inChannels; ++ci) {
      for (int64_t tap = 0; tap < taps; ++tap) {
        const int8_t w = weights[(co * inChannels + ci) * taps + tap];
        const int64_t block = co / kChannelBlock;
        const int64_t at = ((block * taps + tap) * quads + ci / kQuadBytes) * kBlockQuadBytes +
                           (co % kChannelBlock) * kQuadBytes + ci % kQuadBytes;
        packed.values[static_cast<size_t>(at)] = w;
        packed.totalSums[static_cast<size_t>(co)] += w;
      }
    }
  }
  return packed;
}

// Highway decides, for these kernels as for every other, which vector widths the processor and the
// operating system offer (and the tests' target restrictions apply here too). The VNNI dot products
// extend those widths with instructions Highway has no target for, so only they are asked of the
// processor directly.
bool supported(DotPath path) {
  const int64_t targets = hwy::SupportedTargets();
  const bool avx2 = (targets & HWY_AVX2) != 0;
  switch (path) {
    case DotPath::avx512Vnni:
      return avx2 && (targets & HWY_AVX3) != 0 && __builtin_cpu_supports("avx512vnni");
    case DotPath::avxVnni:
      return avx2 && __builtin_cpu_supports("avxvnni");
    case DotPath::avx2:
      return avx2;
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
