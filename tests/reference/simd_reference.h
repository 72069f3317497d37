// Plain scalar definitions of the pixel kernels, written straight from their arithmetic with no
// attention to speed. Tests compare every compiled target against them; benchmarks time them as the
// baseline the kernels must beat.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ko::reference {

// IEEE conversions through the compiler's own binary16 type.
uint16_t halfFromFloat(float value);
float floatFromHalf(uint16_t half);
float throughHalf(float value);

uint32_t bitsOf(float value);
float floatOf(uint32_t bits);

void rgb8ToPlanarF16(const uint8_t* src, uint16_t* dst, size_t planeStride, size_t count);
void yuv420RowToRgb24(const uint8_t* luma, const uint8_t* u, const uint8_t* v, int32_t width,
                      int32_t chromaStep, uint8_t* rgb);
void pasteLanczos8Row(const float* crop, int32_t side, const uint8_t* mask, const float* lanczos,
                      const float* bilinear, const int32_t* xcol, const int32_t* ycol, int32_t xrow,
                      int32_t yrow, int32_t first, int32_t last, uint8_t* dst);
void gaussTapsRange(const float* src, const float* taps, int32_t ntaps, size_t begin, size_t end, float* dst);
void sharpenRow(const float* blurred, size_t stride, const float* taps, int32_t ntaps, int32_t width,
                float amount, float* row);
void conv3x3Range(const float* in, int32_t n, int32_t cin, int32_t h, int32_t w, const float* weights,
                  const float* bias, int32_t cout, float* out, int32_t begin, int32_t end);
float retrieveTermPooled(const uint16_t* a, const uint16_t* b, const uint16_t* weights, size_t count);
float retrieveTermExactRange(const uint16_t* a, const uint16_t* b, const float* weights, size_t count,
                             size_t begin, size_t end);

}  // namespace ko::reference
