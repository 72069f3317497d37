// 3x3 convolution (stride 1, zero padding 1) over a range of output planes.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "simd/conv_kernels.cc"
#include "hwy/foreach_target.h"  // IWYU pragma: keep

#include <algorithm>
#include <vector>

#include "hwy/highway.h"
#include "simd/simd.h"

HWY_BEFORE_NAMESPACE();
namespace ko::simd::HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One input image with a zero border, its rows padded so that whole vectors never leave a row:
// every output column, the last partial vector included, is computed by the same vector code.
class PaddedImage {
 public:
  void Fill(const float* image, size_t channels, size_t height, size_t width) {
    stride_ = (width + 15) / 16 * 16 + 2;
    rows_ = height + 2;
    data_.resize(channels * rows_ * stride_);
    // Only the border and the padding columns need zeros: every other element is overwritten.
    for (size_t c = 0; c < channels; ++c) {
      std::fill_n(data_.begin() + static_cast<ptrdiff_t>(Offset(c, 0)), stride_, 0.0f);
      std::fill_n(data_.begin() + static_cast<ptrdiff_t>(Offset(c, rows_ - 1)), stride_, 0.0f);
      for (size_t y = 0; y < height; ++y) {
        float* row = data_.data() + Offset(c, y + 1);
        const float* src = image + (c * height + y) * width;
        row[0] = 0.0f;
        std::copy(src, src + width, row + 1);
        std::fill(row + 1 + width, row + stride_, 0.0f);
      }
    }
  }
  // Padded row `row` (0 is the top border) of channel `c`.
  const float* Row(size_t c, size_t row) const { return data_.data() + Offset(c, row); }

 private:
  size_t Offset(size_t c, size_t row) const { return (c * rows_ + row) * stride_; }

  std::vector<float> data_;
  size_t stride_ = 0;
  size_t rows_ = 0;
};

// Output columns [x, x + kVectors * lanes) of row y for kCo consecutive output channels. Each input
// vector is loaded once for all kCo channels, and the kCo * kVectors independent accumulators hide
// the adder's latency; each lane still sums in the one fixed order.
template <size_t kCo, size_t kVectors, class D>
HWY_INLINE void ConvolveColumns(D d, const PaddedImage& image, size_t cin, size_t y, size_t x,
                                const float* HWY_RESTRICT kernels, size_t kernelStride,
                                const float* HWY_RESTRICT bias, hn::Vec<D>* sums) {
  const size_t lanes = hn::Lanes(d);
  for (size_t co = 0; co < kCo; ++co) {
    for (size_t k = 0; k < kVectors; ++k) sums[co * kVectors + k] = hn::Set(d, bias[co]);
  }
  for (size_t ci = 0; ci < cin; ++ci) {
    for (size_t ky = 0; ky < 3; ++ky) {
      const float* row = image.Row(ci, y + ky) + x;
      const float* taps = kernels + (ci * 3 + ky) * 3;
      for (size_t kx = 0; kx < 3; ++kx) {
        hn::Vec<D> pixels[kVectors];
        for (size_t k = 0; k < kVectors; ++k) pixels[k] = hn::LoadU(d, row + kx + k * lanes);
        for (size_t co = 0; co < kCo; ++co) {
          const auto tap = hn::Set(d, taps[co * kernelStride + kx]);
          for (size_t k = 0; k < kVectors; ++k) {
            sums[co * kVectors + k] = hn::Add(sums[co * kVectors + k], hn::Mul(tap, pixels[k]));
          }
        }
      }
    }
  }
}

// kCo consecutive output planes of one image, `plane` floats apart in `out`.
template <size_t kCo>
void ConvolvePlanes(const PaddedImage& image, size_t cin, size_t height, size_t width,
                    const float* HWY_RESTRICT kernels, const float* HWY_RESTRICT bias,
                    float* HWY_RESTRICT out) {
  constexpr size_t kBlock = kCo == 1 ? 4 : 2;
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  const size_t plane = height * width;
  const size_t kernelStride = cin * 9;
  hn::Vec<decltype(d)> sums[kCo * kBlock];
  HWY_ALIGN float partial[hn::MaxLanes(d)];
  for (size_t y = 0; y < height; ++y) {
    size_t x = 0;
    for (; x + kBlock * lanes <= width; x += kBlock * lanes) {
      ConvolveColumns<kCo, kBlock>(d, image, cin, y, x, kernels, kernelStride, bias, sums);
      for (size_t co = 0; co < kCo; ++co) {
        float* outRow = out + co * plane + y * width;
        for (size_t k = 0; k < kBlock; ++k) hn::StoreU(sums[co * kBlock + k], d, outRow + x + k * lanes);
      }
    }
    for (; x < width; x += lanes) {
      ConvolveColumns<kCo, 1>(d, image, cin, y, x, kernels, kernelStride, bias, sums);
      for (size_t co = 0; co < kCo; ++co) {
        hn::Store(sums[co], d, partial);
        std::copy(partial, partial + std::min(lanes, width - x), out + co * plane + y * width + x);
      }
    }
  }
}

void Conv3x3Range(const float* HWY_RESTRICT in, int32_t n, int32_t cin, int32_t h, int32_t w,
                  const float* HWY_RESTRICT weights, const float* HWY_RESTRICT bias, int32_t cout,
                  float* HWY_RESTRICT out, int32_t begin, int32_t end) {
  if (n < 1 || cin < 1 || h < 1 || w < 1 || cout < 1) return;
  constexpr int32_t kGroup = 4;
  const size_t channelsIn = static_cast<size_t>(cin), height = static_cast<size_t>(h),
               width = static_cast<size_t>(w);
  const size_t plane = height * width;
  thread_local PaddedImage image;  // the buffer outlives calls; its content is rebuilt per call
  int32_t loaded = -1;
  const int64_t planes = std::min<int64_t>(end, int64_t{n} * cout);  // never past the last image
  for (int32_t j = std::max(begin, 0); j < planes;) {
    const int32_t imageIndex = j / cout, co = j % cout;
    if (imageIndex != loaded) {
      image.Fill(in + static_cast<size_t>(imageIndex) * channelsIn * plane, channelsIn, height, width);
      loaded = imageIndex;
    }
    const float* kernels = weights + static_cast<size_t>(co) * channelsIn * 9;
    float* target = out + static_cast<size_t>(j) * plane;
    // Four planes of one image go together; the rest of an image or of the range one by one.
    if (co + kGroup <= cout && j + kGroup <= planes) {
      ConvolvePlanes<kGroup>(image, channelsIn, height, width, kernels, bias + co, target);
      j += kGroup;
    } else {
      ConvolvePlanes<1>(image, channelsIn, height, width, kernels, bias + co, target);
      ++j;
    }
  }
}

void ReluInPlace(float* HWY_RESTRICT data, size_t count) {
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  const auto zero = hn::Zero(d);
  size_t i = 0;
  for (; i + lanes <= count; i += lanes) {
    const auto v = hn::LoadU(d, data + i);
    hn::StoreU(hn::IfThenElseZero(hn::Gt(v, zero), v), d, data + i);
  }
  for (; i < count; ++i) data[i] = data[i] > 0.0f ? data[i] : 0.0f;
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko::simd {

HWY_EXPORT(Conv3x3Range);
HWY_EXPORT(ReluInPlace);

void conv3x3Range(const float* in, int32_t n, int32_t cin, int32_t h, int32_t w, const float* weights,
                  const float* bias, int32_t cout, float* out, int32_t begin, int32_t end) {
  HWY_DYNAMIC_DISPATCH(Conv3x3Range)(in, n, cin, h, w, weights, bias, cout, out, begin, end);
}

void reluInPlace(float* data, size_t count) {
  HWY_DYNAMIC_DISPATCH(ReluInPlace)(data, count);
}

}  // namespace ko::simd
#endif
