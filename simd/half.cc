#include "simd/half.h"

#include "simd/simd.h"

namespace ko {

uint16_t f32ToF16(float value) {
  const uint32_t bits = half_bits::floatBits(value);
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  const uint32_t magnitude = bits & 0x7FFFFFFFu;
  if (magnitude >= half_bits::kOverflowStart) return static_cast<uint16_t>(sign | 0x7C00u);
  return static_cast<uint16_t>(sign | half_bits::roundFiniteMagnitude(magnitude));
}

void halfToFloat(const uint16_t* src, float* dst, size_t count) {
  simd::f16ToF32(src, dst, count);
}

}  // namespace ko
