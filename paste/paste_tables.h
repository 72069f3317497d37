// The paste's filter tables, computed in double precision and stored as floats. Resampling tables
// hold 32 phases (phase p is the fraction p/32) of their taps, phase-major.
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

}  // namespace ko
