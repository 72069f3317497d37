// Conversions every mask of the teeth pass shares: the smoothstep feather, the byte a mask value is
// stored as, and double-to-int conversions that saturate instead of overflowing on huge or NaN input.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ko::tessera {

// (3 - 2t)t^2 for t already in [0, 1].
inline float smoothstep(float t) {
  return (3.0f - 2.0f * t) * t * t;
}

// round-half-to-even(clamp(v, 0, 1) * 255); NaN stores as 0.
inline uint8_t maskByte(float v) {
  if (!(v > 0.0f)) return 0;
  return static_cast<uint8_t>(std::nearbyint(std::min(v, 1.0f) * 255.0f));
}

// v clamped to [lo, hi] and converted; NaN gives lo.
inline int64_t clampToInt(double v, int64_t lo, int64_t hi) {
  if (!(v >= static_cast<double>(lo))) return lo;
  if (v >= static_cast<double>(hi)) return hi;
  return static_cast<int64_t>(v);
}

// A JSON number truncated toward zero to int32, saturating at the type's limits (NaN reads as 0).
inline int32_t truncToInt32(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(
      clampToInt(std::trunc(v), std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

// round-half-to-even, saturating to int32.
inline int32_t roundToInt32(double v) {
  if (std::isnan(v)) return 0;
  return truncToInt32(std::nearbyint(v));
}

}  // namespace ko::tessera
