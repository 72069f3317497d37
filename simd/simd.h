// The library's hot inner loops. Each kernel is compiled for several x86 instruction-set targets
// (SSSE3, SSE4, AVX2, AVX3, AVX3_DL) and the best one the processor supports is chosen on the first
// call. Results never depend on the target: every target rounds at the same points and sums in the
// same order, and the per-element tails repeat the vector arithmetic exactly.
//
// All entry points are thread-safe; they touch only the memory their arguments name. Halves are
// IEEE 754 binary16 bit patterns in uint16_t.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ko::simd {

// Nearest-even halves of `count` floats. Overflow (magnitude from 65520 up) gives a signed infinity,
// values at or below 2^-25 a signed zero; NaN stays a quiet NaN of the same sign with its top
// mantissa bits.
void f32ToF16(const float* src, uint16_t* dst, size_t count);

// Exact widening of `count` halves; a signalling NaN comes back quiet.
void f16ToF32(const uint16_t* src, float* dst, size_t count);

// dst[i] = float(half(a[i])) * b[i]: a is rounded to half first, the product is not.
void roundF16Mul(const float* a, const float* b, float* dst, size_t count);

// Splits `count` packed RGB pixels into three half planes `planeStride` elements apart:
// dst[c * planeStride + i] = half(src[3i + c] / 255).
void rgb8ToPlanarF16(const uint8_t* src, uint16_t* dst, size_t planeStride, size_t count);

// One row of BT.601 limited-range YUV 4:2:0 to packed RGB24 (8-bit fixed point). Pixel x takes its
// chroma from u[(x / 2) * chromaStep] and v[(x / 2) * chromaStep]: step 1 for planar chroma rows,
// step 2 for an interleaved NV12 row (pass v = u + 1). Writes width * 3 bytes; nothing when width < 1.
void yuv420RowToRgb24(const uint8_t* luma, const uint8_t* u, const uint8_t* v, int32_t width,
                      int32_t chromaStep, uint8_t* rgb);

// One destination row of the Lanczos paste. The crop, in 0..255, comes in the row-pair layout: entry
// (x, y) of `pairs` is eight floats, pixel (x, y) as R, G, B, ignored, then pixel (x, y + 1) the same
// way (ignored below the last row); `lanczos` holds 32 phases x 8 taps. Source positions are 10-bit
// fixed point: pixel k in [first, last] samples (xcol[k - first] + xrow, ycol[k - first] + yrow).
// Pixels whose source lies outside the crop or whose mask alpha rounds to 0 are left unchanged; the
// others are blended into the RGB24 row `dst` (pixel k at dst[3k]). The mask comes
// as floats with a border of zeros: `paddedMask` is (side + 2) x (side + 2), mask pixel (x, y) at
// (x + 1, y + 1), and its bilinear weights are those of the paste's table, (1 - p / 32, p / 32).
// `maskSums` is its summed-area table, (side + 3) x (side + 3): entry (x, y) is the sum of the
// padded mask over columns [0, x) and rows [0, y) (paste/paste_tables.h builds both).
void pasteLanczos8RowPairs(const float* pairs, int32_t side, const float* paddedMask, const int32_t* maskSums,
                           const float* lanczos, const int32_t* xcol, const int32_t* ycol, int32_t xrow,
                           int32_t yrow, int32_t first, int32_t last, uint8_t* dst);

// Rows [begin, end) of the row-pair layout from three side x side planes: entry (x, y) of `pairs`
// gets pixel (x, y) as R, G, B, 0 and then pixel (x, y + 1) likewise; below the last row the second
// half is left as it is.
void planesToRowPairs(const float* r, const float* g, const float* b, int32_t side, size_t begin, size_t end,
                      float* pairs);

// Horizontal pass of the paste's Gaussian blur over a flattened image:
// dst[i] = sum over k ascending (from 0) of taps[k] * src[i + k], for i in [begin, end).
void gaussTapsRange(const float* src, const float* taps, int32_t ntaps, size_t begin, size_t end, float* dst);

// Vertical pass and unsharp mask of one row of `width` pixels: acc[x] = sum over k ascending (from 0)
// of taps[k] * blurred[k * stride + x], then row[x] = clamp(row[x] * (1 + amount) - acc * amount,
// 0, 255), where a NaN becomes 0.
void sharpenRow(const float* blurred, size_t stride, const float* taps, int32_t ntaps, int32_t width,
                float amount, float* row);

// 3x3 convolution, stride 1, zero padding 1, no activation, over the output planes j in
// [begin, end) of the flattened (image n = j / cout, channel co = j % cout) index. `in` is
// [n][cin][h][w], `weights` [cout][cin][3][3], `bias` [cout], `out` [n][cout][h][w]. Each pixel is
// bias + the products summed over ci, then ky, then kx in ascending order.
void conv3x3Range(const float* in, int32_t n, int32_t cin, int32_t h, int32_t w, const float* weights,
                  const float* bias, int32_t cout, float* out, int32_t begin, int32_t end);

// data[i] = max(data[i], 0) for i in [0, count): the rectifier between convolutions. A NaN becomes 0.
void reluInPlace(float* data, size_t count);

// Teeth-retrieval distance terms. `a` and `b` hold three planes of `count` halves each. Per element
// the mean absolute difference m = half((|half(a0-b0)| + |half(a1-b1)| + |half(a2-b2)|) / 3) is
// weighted, and the terms are summed in one float accumulator in ascending index order.
//
// Pooled: term = half(m * weight) with half weights.
float retrieveTermPooled(const uint16_t* a, const uint16_t* b, const uint16_t* weights, size_t count);
// Exact: term = weight * m, and 0 where the weight is 0 (an infinite distance there adds nothing).
float retrieveTermExact(const uint16_t* a, const uint16_t* b, const float* weights, size_t count);
// Exact, over elements [begin, end) only.
float retrieveTermExactRange(const uint16_t* a, const uint16_t* b, const float* weights, size_t count,
                             size_t begin, size_t end);

// Highway's name of the target the kernels run on, for example "AVX2" or "AVX3_DL".
const char* target();

}  // namespace ko::simd
