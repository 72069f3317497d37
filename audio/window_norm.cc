#include "audio/window_norm.h"

#include <cmath>

namespace ko {

void normaliseWindow(float* window, size_t count) {
  if (count == 0) return;
  double sum = 0;
  for (size_t i = 0; i < count; ++i) sum += window[i];
  const double mean = sum / static_cast<double>(count);
  double squares = 0;
  for (size_t i = 0; i < count; ++i) {
    const double deviation = window[i] - mean;
    squares += deviation * deviation;
  }
  const double variance = squares / static_cast<double>(count);
  const float scale = 1.0f / std::sqrt(static_cast<float>(variance) + 1e-7f);
  for (size_t i = 0; i < count; ++i) window[i] = static_cast<float>((window[i] - mean) * scale);
}

void copyFiniteSamples(const float* samples, size_t count, float* out) {
  for (size_t i = 0; i < count; ++i) out[i] = std::isfinite(samples[i]) ? samples[i] : 0.0f;
}

}  // namespace ko
