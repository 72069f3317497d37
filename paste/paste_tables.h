// The paste's filter tables and mask forms, computed in double precision and stored as floats. Resampling
// tables hold 32 phases (phase p is the fraction p/32) of their taps, phase-major.
#pragma once

#include <cstdint>
#include <vector>

namespace ko {

inline constexpr int32_t kPastePhases = 32;

// `ksize` Gaussian taps of `sigma` centred on the middle tap, summing to 1.
std::vector<float> gaussianTaps(int32_t ksize, float sigma);

// Lanczos (a = 4), 8 taps weighting offsets -3..+4 from the floor position, each phase normalised to
// sum 1; phase 0 is the unit impulse at tap 3.
std::vector<float> lanczosTable();

// (1 - f, f).
std::vector<float> bilinearTable();

// Keys cubic (a = -0.75), 4 taps weighting offsets -1..+2; the last tap makes the stored taps sum
// to exactly 1.
std::vector<float> cubicTable();

// The row-pair paste kernel's form of a side x side mask: floats, with one pixel of zeros around it.
std::vector<float> paddedPasteMask(const std::vector<uint8_t>& mask, int32_t side);

// The summed-area table of a padded mask, (side + 3) x (side + 3) with one row and column of zeros
// ahead. Its sums fit 32 bits for sides up to 1024 (the paste refuses wider crops).
std::vector<int32_t> pasteMaskSums(const std::vector<float>& padded, int32_t side);

}  // namespace ko
