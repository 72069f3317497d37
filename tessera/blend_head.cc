// The blend head's candidate branch: at half size, three 3x3 convolutions turn each candidate and the
// query into a logit plane; upsampled and softmaxed over the candidates, the logits weigh the
// candidates' pixels into the blended mouth.
#include <algorithm>
#include <cmath>

#include "pool/pool.h"
#include "simd/simd.h"
#include "tessera/planes.h"
#include "tessera/teeth_pass.h"

namespace ko::tessera {
namespace {

constexpr int32_t kInputChannels = 7;
constexpr int32_t kHiddenChannels = 16;
constexpr uint64_t kPixelGrain = 256;

// One 3x3 layer over a batch of `batch` images, parallel over image x output channel.
void convLayer(const std::vector<float>& in, int32_t batch, int32_t cin, int32_t h, int32_t w,
               const std::vector<float>& weights, const std::vector<float>& bias, int32_t cout, bool relu,
               std::vector<float>& out) {
  const size_t plane = static_cast<size_t>(h) * static_cast<size_t>(w);
  out.resize(static_cast<size_t>(batch) * static_cast<size_t>(cout) * plane);
  pool::parallelRange(
      static_cast<uint64_t>(batch) * static_cast<uint64_t>(cout), 1, [&](uint64_t begin, uint64_t end) {
        simd::conv3x3Range(in.data(), batch, cin, h, w, weights.data(), bias.data(), cout, out.data(),
                           static_cast<int32_t>(begin), static_cast<int32_t>(end));
        if (!relu) return;
        for (size_t i = begin * plane; i < end * plane; ++i) out[i] = std::max(out[i], 0.0f);
      });
}

// Doubles a plane with half-pixel centres: columns are interpolated within the two source rows, then
// the rows between them.
void upsample2x(const float* in, int32_t h, int32_t w, float* out) {
  const auto source = [](int32_t i, int32_t size, int32_t& lo, int32_t& hi) {
    const float s = std::max(0.0f, (static_cast<float>(i) + 0.5f) * 0.5f - 0.5f);
    lo = static_cast<int32_t>(std::floor(s));
    hi = std::min(lo + 1, size - 1);
    return s - static_cast<float>(lo);
  };
  const int32_t outW = 2 * w;
  for (int32_t oy = 0; oy < 2 * h; ++oy) {
    int32_t y0 = 0;
    int32_t y1 = 0;
    const float fy = source(oy, h, y0, y1);
    const float* top = in + static_cast<size_t>(y0) * static_cast<size_t>(w);
    const float* bottom = in + static_cast<size_t>(y1) * static_cast<size_t>(w);
    for (int32_t ox = 0; ox < outW; ++ox) {
      int32_t x0 = 0;
      int32_t x1 = 0;
      const float fx = source(ox, w, x0, x1);
      const float upper = top[x0] * (1.0f - fx) + top[x1] * fx;
      const float lower = bottom[x0] * (1.0f - fx) + bottom[x1] * fx;
      out[static_cast<size_t>(oy) * static_cast<size_t>(outW) + static_cast<size_t>(ox)] =
          upper * (1.0f - fy) + lower * fy;
    }
  }
}

// Softmax over the kc planes of `w` for pixels [begin, end), plane by plane so every plane streams;
// each pixel still takes its maximum, exponentials and sum over the candidates in ascending order.
void softmaxPixels(float* w, int32_t kc, size_t full, size_t begin, size_t end) {
  float top[kPixelGrain];
  float sum[kPixelGrain];
  for (size_t b = begin; b < end; b += kPixelGrain) {
    const size_t n = std::min<size_t>(kPixelGrain, end - b);
    std::fill_n(top, n, -INFINITY);
    std::fill_n(sum, n, 0.0f);
    for (int32_t k = 0; k < kc; ++k) {
      const float* plane = w + static_cast<size_t>(k) * full + b;
      for (size_t i = 0; i < n; ++i) top[i] = std::max(top[i], plane[i]);
    }
    for (int32_t k = 0; k < kc; ++k) {
      float* plane = w + static_cast<size_t>(k) * full + b;
      for (size_t i = 0; i < n; ++i) {
        plane[i] = std::exp(plane[i] - top[i]);
        sum[i] += plane[i];
      }
    }
    for (int32_t k = 0; k <= kc; ++k) {
      float* plane = w + static_cast<size_t>(k) * full + b;
      for (size_t i = 0; i < n; ++i) plane[i] = k < kc ? plane[i] / sum[i] : 0.0f;
    }
  }
}

// Y for pixels [begin, end): the weighted candidates (candidate k is window slots[k]) summed in
// ascending order where valid, the query elsewhere.
void blendPixels(const float* candidates, const std::vector<int32_t>& slots, const float* w,
                 const float* query, const uint8_t* valid, size_t full, size_t begin, size_t end, float* Y) {
  float blended[kPixelGrain];
  for (size_t b = begin; b < end; b += kPixelGrain) {
    const size_t n = std::min<size_t>(kPixelGrain, end - b);
    for (size_t ch = 0; ch < 3; ++ch) {
      std::fill_n(blended, n, 0.0f);
      for (size_t k = 0; k < slots.size(); ++k) {
        const float* weight = w + k * full + b;
        const float* value = candidates + (static_cast<size_t>(slots[k]) * 3 + ch) * full + b;
        for (size_t i = 0; i < n; ++i) blended[i] += weight[i] * value[i];
      }
      const size_t plane = ch * full + b;
      for (size_t i = 0; i < n; ++i) Y[plane + i] = valid[b + i] ? blended[i] : query[plane + i];
    }
  }
}

}  // namespace

void TeethPass::headForward(const float* candidates, int32_t kc, const float* query, const uint8_t* valid,
                            float* Y, float* w) const {
  std::vector<int32_t> each(static_cast<size_t>(std::max(kc, 0)));
  for (size_t k = 0; k < each.size(); ++k) each[k] = static_cast<int32_t>(k);
  headForwardDistinct(candidates, kc, each, query, valid, Y, w);
}

void TeethPass::headForwardDistinct(const float* candidates, int32_t distinct,
                                    const std::vector<int32_t>& slots, const float* query,
                                    const uint8_t* valid, float* Y, float* w) const {
  const int32_t kc = static_cast<int32_t>(slots.size());
  const int32_t h = H_ / 2;
  const int32_t w2 = W_ / 2;
  const size_t full = static_cast<size_t>(H_) * static_cast<size_t>(W_);
  const size_t half = static_cast<size_t>(h) * static_cast<size_t>(w2);
  std::vector<float>& pooledQuery = head_.pooledQuery;
  pooledQuery.resize(3 * half);
  for (size_t ch = 0; ch < 3; ++ch) averagePool(query + ch * full, H_, W_, 2, pooledQuery.data() + ch * half);

  std::vector<float>& input = head_.input;
  input.resize(static_cast<size_t>(distinct) * kInputChannels * half);
  pool::parallelRange(static_cast<uint64_t>(distinct), 1, [&](uint64_t begin, uint64_t end) {
    for (uint64_t k = begin; k < end; ++k) {
      float* image = input.data() + k * kInputChannels * half;
      for (size_t ch = 0; ch < 3; ++ch)
        averagePool(candidates + (k * 3 + ch) * full, H_, W_, 2, image + ch * half);
      std::copy(pooledQuery.begin(), pooledQuery.end(), image + 3 * half);
      for (size_t i = 0; i < half; ++i) {
        const float d0 = std::fabs(image[i] - pooledQuery[i]);
        const float d1 = std::fabs(image[half + i] - pooledQuery[half + i]);
        const float d2 = std::fabs(image[2 * half + i] - pooledQuery[2 * half + i]);
        image[6 * half + i] = (d0 + d1 + d2) / 3.0f;
      }
    }
  });

  convLayer(input, distinct, kInputChannels, h, w2, weights_.cand0_w, weights_.cand0_b, kHiddenChannels, true,
            head_.hidden1);
  convLayer(head_.hidden1, distinct, kHiddenChannels, h, w2, weights_.cand2_w, weights_.cand2_b,
            kHiddenChannels, true, head_.hidden2);
  convLayer(head_.hidden2, distinct, kHiddenChannels, h, w2, weights_.cand4_w, weights_.cand4_b, 1, false,
            head_.logits);

  pool::parallelRange(static_cast<uint64_t>(kc), 1, [&](uint64_t begin, uint64_t end) {
    for (uint64_t k = begin; k < end; ++k) {
      upsample2x(head_.logits.data() + static_cast<size_t>(slots[k]) * half, h, w2, w + k * full);
    }
  });
  pool::parallelRange(full, kPixelGrain,
                      [&](uint64_t begin, uint64_t end) { softmaxPixels(w, kc, full, begin, end); });
  pool::parallelRange(full, kPixelGrain, [&](uint64_t begin, uint64_t end) {
    blendPixels(candidates, slots, w, query, valid, full, begin, end, Y);
  });
}

}  // namespace ko::tessera
