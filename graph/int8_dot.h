// The dot-product tiles of Int8ConvVNNI, one translation unit per instruction set
// (each compiled for its own target, so nothing wider leaks into code every processor runs).
#pragma once

#include <cstdint>

namespace ko::int8conv {

// One output row: weights of one block of sixteen output channels laid out [tap][quad][16][4],
// the byte offset of each tap from a footprint's top-left pixel, and the byte step between the
// footprints of neighbouring output pixels.
struct DotRow {
  const int8_t* blockWeights;
  const int64_t* tapOffsets;
  int64_t taps, quads, pixelStep;
};

// acc[p * 16 + j]: the sum over taps and channels of q * w for output pixel p of `count` (footprints
// starting at firstPixel + p * pixelStep) and channel j of the block.
using RowSums = void (*)(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc);

void rowSumsScalar(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc);
void rowSumsAvx2(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc);
void rowSumsAvxVnni(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc);
void rowSumsAvx512Vnni(const DotRow& row, const uint8_t* firstPixel, int64_t count, int32_t* acc);

}  // namespace ko::int8conv
