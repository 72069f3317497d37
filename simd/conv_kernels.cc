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
    data_.assign(channels * rows_ * stride_, 0.0f);
    for (size_t c = 0; c < channels; ++c) {
      for (size_t y = 0; y < height; ++y) {
        const float* src = image + (c * height + y) * width;
        std::copy(src, src + width, data_.begin() + static_cast<ptrdiff_t>(Offset(c, y + 1) + 1));
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

// Output columns [x, x + kVectors * lanes) of row y for one output channel. Several independent
// accumulators hide the adder's latency; each lane still sums in the one fixed order.
template <size_t kVectors, class D>
HWY_INLINE void ConvolveColumns(D d, const PaddedImage& image, size_t cin, size_t y, size_t x,
                                const float* HWY_RESTRICT kernel, float bias, hn::Vec<D>* sums) {
  const size_t lanes = hn::Lanes(d);
  for (size_t k = 0; k < kVectors; ++k) sums[k] = hn::Set(d, bias);
  for (size_t ci = 0; ci < cin; ++ci) {
    for (size_t ky = 0; ky < 3; ++ky) {
      const float* row = image.Row(ci, y + ky) + x;
      const float* taps = kernel + (ci * 3 + ky) * 3;
      for (size_t kx = 0; kx < 3; ++kx) {
        const auto tap = hn::Set(d, taps[kx]);
        for (size_t k = 0; k < kVectors; ++k) {
          sums[k] = hn::Add(sums[k], hn::Mul(tap, hn::LoadU(d, row + kx + k * lanes)));
        }
      }
    }
  }
}

void ConvolvePlane(const PaddedImage& image, size_t cin, size_t height, size_t width,
                   const float* HWY_RESTRICT kernel, float bias, float* HWY_RESTRICT out) {
  constexpr size_t kBlock = 4;
  const hn::ScalableTag<float> d;
  const size_t lanes = hn::Lanes(d);
  hn::Vec<decltype(d)> sums[kBlock];
  HWY_ALIGN float partial[hn::MaxLanes(d)];
  for (size_t y = 0; y < height; ++y) {
    float* outRow = out + y * width;
    size_t x = 0;
    for (; x + kBlock * lanes <= width; x += kBlock * lanes) {
      ConvolveColumns<kBlock>(d, image, cin, y, x, kernel, bias, sums);
      for (size_t k = 0; k < kBlock; ++k) hn::StoreU(sums[k], d, outRow + x + k * lanes);
    }
    for (; x < width; x += lanes) {
      ConvolveColumns<1>(d, image, cin, y, x, kernel, bias, sums);
      hn::Store(sums[0], d, partial);
      std::copy(partial, partial + std::min(lanes, width - x), outRow + x);
    }
  }
}

void Conv3x3Range(const float* HWY_RESTRICT in, int32_t n, int32_t cin, int32_t h, int32_t w,
                  const float* HWY_RESTRICT weights, const float* HWY_RESTRICT bias, int32_t cout,
                  float* HWY_RESTRICT out, int32_t begin, int32_t end) {
  if (n < 1 || cin < 1 || h < 1 || w < 1 || cout < 1) return;
  const size_t channelsIn = static_cast<size_t>(cin), height = static_cast<size_t>(h),
               width = static_cast<size_t>(w);
  const size_t plane = height * width;
  thread_local PaddedImage image;  // the buffer outlives calls; its content is rebuilt per call
  int32_t loaded = -1;
  const int64_t planes = std::min<int64_t>(end, int64_t{n} * cout);  // never past the last image
  for (int32_t j = std::max(begin, 0); j < planes; ++j) {
    const int32_t imageIndex = j / cout, co = j % cout;
    if (imageIndex != loaded) {
      image.Fill(in + static_cast<size_t>(imageIndex) * channelsIn * plane, channelsIn, height, width);
      loaded = imageIndex;
    }
    ConvolvePlane(image, channelsIn, height, width, weights + static_cast<size_t>(co) * channelsIn * 9,
                  bias[co], out + static_cast<size_t>(j) * plane);
  }
}

}  // namespace ko::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace ko::simd {

HWY_EXPORT(Conv3x3Range);

void conv3x3Range(const float* in, int32_t n, int32_t cin, int32_t h, int32_t w, const float* weights,
                  const float* bias, int32_t cout, float* out, int32_t begin, int32_t end) {
  HWY_DYNAMIC_DISPATCH(Conv3x3Range)(in, n, cin, h, w, weights, bias, cout, out, begin, end);
}

}  // namespace ko::simd
#endif
