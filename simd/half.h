// Half-precision (IEEE 754 binary16) conversions for single values and arrays. Halves travel as
// their 16-bit patterns in uint16_t.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace ko {

namespace half_bits {

inline uint32_t floatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

inline float floatFromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

constexpr uint32_t kSmallestNormalHalf = 0x38800000;  // 2^-14 as float bits
constexpr uint32_t kOverflowStart = 0x477FF000;       // 65520: rounds past the largest half
constexpr uint32_t kFloatInfinity = 0x7F800000;

// Rounds |value| (bits without sign) to the nearest half, ties to even, for finite magnitudes below
// the overflow point. Subnormal halves get the same rounding.
inline uint16_t roundFiniteMagnitude(uint32_t magnitude) {
  if (magnitude < kSmallestNormalHalf) {
    // Adding 0.5 puts the half subnormal step (2^-24) at the float's last mantissa bit, so the
    // float adder does the rounding to nearest even.
    return static_cast<uint16_t>(floatBits(floatFromBits(magnitude) + 0.5f) - 0x3F000000u);
  }
  const uint32_t lowestKept = (magnitude >> 13) & 1u;
  return static_cast<uint16_t>((magnitude - 0x38000000u + 0xFFFu + lowestKept) >> 13);
}

// Nearest-even half of a float; NaN stays a quiet NaN of the same sign with its top mantissa bits,
// as the processor's own conversion does.
inline uint16_t fromFloatKeepingNaN(float value) {
  const uint32_t bits = floatBits(value);
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  const uint32_t magnitude = bits & 0x7FFFFFFFu;
  if (magnitude > kFloatInfinity) return static_cast<uint16_t>(sign | 0x7E00u | ((magnitude >> 13) & 0x3FFu));
  if (magnitude >= kOverflowStart) return static_cast<uint16_t>(sign | 0x7C00u);
  return static_cast<uint16_t>(sign | roundFiniteMagnitude(magnitude));
}

// Exact widening; a signalling NaN comes back quiet, as the processor's own conversion does.
inline float toFloat(uint16_t half) {
  const uint32_t sign = static_cast<uint32_t>(half & 0x8000u) << 16;
  const uint32_t exponent = (half >> 10) & 0x1Fu;
  const uint32_t mantissa = half & 0x3FFu;
  if (exponent == 0) {
    const float magnitude = static_cast<float>(mantissa) * 0x1p-24f;
    return floatFromBits(sign | floatBits(magnitude));
  }
  if (exponent == 0x1F) {
    const uint32_t quiet = mantissa != 0 ? 0x400000u : 0u;
    return floatFromBits(sign | kFloatInfinity | quiet | (mantissa << 13));
  }
  return floatFromBits(sign | ((exponent + 112u) << 23) | (mantissa << 13));
}

}  // namespace half_bits

// Nearest-even half of one float. Unlike the array kernel, every NaN becomes an infinity of the same
// sign: tables built with it never carry a NaN pattern.
uint16_t f32ToF16(float value);

// Widens `count` halves from `src` into `dst`; exact for every value.
void halfToFloat(const uint16_t* src, float* dst, size_t count);

}  // namespace ko
