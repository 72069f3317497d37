// The speech encoders' input normalisation, and the sample rules every audio window shares.
#pragma once

#include <cstddef>

#include "audio/frame_layout.h"

namespace ko {

inline constexpr int kSampleRate = 16000;

// Normalises a window in place to zero mean and unit variance over its whole length, padding
// included: mean and variance accumulate in double, the scale is 1 / sqrt(variance + 1e-7) in single
// precision, each sample becomes (x - mean) * scale computed in double. An all-zero window stays all
// zero.
void normaliseWindow(float* window, size_t count);

// Copies samples, replacing NaN and infinities by 0 so that one bad sample from a host cannot turn a
// whole window (and every frame after it) into NaN.
void copyFiniteSamples(const float* samples, size_t count, float* out);

}  // namespace ko
