#include "paste/paste_tables.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ko {
namespace {

constexpr int32_t kLanczosTaps = 8;
constexpr int32_t kLanczosCentre = 3;

double lanczos4(double x) {
  const double pi = std::numbers::pi;
  return std::sin(pi * x) * std::sin(pi * x / 4.0) / (pi * pi * x * x / 4.0);
}

double phaseFraction(int32_t p) {
  return static_cast<double>(p) / kPastePhases;
}

}  // namespace

std::vector<float> gaussianTaps(int32_t ksize, float sigma) {
  std::vector<double> taps(static_cast<size_t>(ksize));
  const double centre = (ksize - 1) / 2.0;
  const double twoSigmaSquared = 2.0 * static_cast<double>(sigma) * static_cast<double>(sigma);
  double sum = 0.0;
  for (int32_t i = 0; i < ksize; ++i) {
    taps[i] = std::exp(-(i - centre) * (i - centre) / twoSigmaSquared);
    sum += taps[i];
  }
  std::vector<float> out;
  for (double tap : taps) out.push_back(static_cast<float>(tap / sum));
  return out;
}

std::vector<float> lanczosTable() {
  std::vector<float> table(kPastePhases * kLanczosTaps, 0.0f);
  table[kLanczosCentre] = 1.0f;
  for (int32_t p = 1; p < kPastePhases; ++p) {
    double taps[kLanczosTaps];
    double sum = 0.0;
    for (int32_t k = 0; k < kLanczosTaps; ++k) {
      taps[k] = lanczos4(kLanczosCentre + phaseFraction(p) - k);
      sum += taps[k];
    }
    for (int32_t k = 0; k < kLanczosTaps; ++k)
      table[p * kLanczosTaps + k] = static_cast<float>(taps[k] / sum);
  }
  return table;
}

std::vector<float> bilinearTable() {
  std::vector<float> table;
  for (int32_t p = 0; p < kPastePhases; ++p) {
    table.push_back(static_cast<float>(1.0 - phaseFraction(p)));
    table.push_back(static_cast<float>(phaseFraction(p)));
  }
  return table;
}

std::vector<float> cubicTable() {
  std::vector<float> table;
  for (int32_t p = 0; p < kPastePhases; ++p) {
    const double f = phaseFraction(p), u = 1.0 + f, v = 1.0 - f;
    const float w0 = static_cast<float>(((-0.75 * u + 3.75) * u - 6.0) * u + 3.0);
    const float w1 = static_cast<float>((1.25 * f - 2.25) * f * f + 1.0);
    const float w2 = static_cast<float>((1.25 * v - 2.25) * v * v + 1.0);
    table.insert(table.end(), {w0, w1, w2, 1.0f - w0 - w1 - w2});
  }
  return table;
}

std::vector<float> paddedPasteMask(const std::vector<uint8_t>& mask, int32_t side) {
  const size_t stride = static_cast<size_t>(side) + 2;
  std::vector<float> padded(stride * stride, 0.0f);
  for (size_t y = 0; y < static_cast<size_t>(side); ++y)
    std::copy_n(mask.data() + y * side, side, padded.data() + (y + 1) * stride + 1);
  return padded;
}

std::vector<int32_t> pasteMaskSums(const std::vector<float>& padded, int32_t side) {
  const size_t n = static_cast<size_t>(side) + 2, w = n + 1;
  std::vector<int32_t> sums(w * w, 0);
  for (size_t y = 0; y < n; ++y) {
    int32_t row = 0;
    for (size_t x = 0; x < n; ++x) {
      row += static_cast<int32_t>(padded[y * n + x]);
      sums[(y + 1) * w + x + 1] = sums[y * w + x + 1] + row;
    }
  }
  return sums;
}

}  // namespace ko
