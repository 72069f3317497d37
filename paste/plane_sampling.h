// The paste's cheaper sampling modes: one destination row sampled straight from the three sharpened
// planes (no interleaved copy) with a small separable footprint. Position, skip rule, mask alpha,
// blend and rounding are those of simd::pasteLanczos8RowPairs, so the modes differ only in the filter.
#pragma once

#include <cstdint>

namespace ko {

// A resampling table of 32 phases x `count` taps; tap 0 weights the sample `first` pixels from the
// floor position.
struct PlaneFootprint {
  const float* taps = nullptr;
  int32_t count = 0;
  int32_t first = 0;
};

// `planes` are the R, G and B planes, side x side floats in 0..255. Samples outside the crop are left
// out of the sums (the remaining weights are not renormalised).
void pastePlanesRow(const PlaneFootprint& footprint, const float* const* planes, int32_t side,
                    const uint8_t* mask, const float* bilinear, const int32_t* xcol, const int32_t* ycol,
                    int32_t xrow, int32_t yrow, int32_t first, int32_t last, uint8_t* dst);

}  // namespace ko
