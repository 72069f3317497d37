// The FCA model's causal feature normalisation: each frame's features lose the mean of the louder
// frames heard so far, so the expression network sees speech relative to the speaker's own level
// without ever looking ahead.
#pragma once

#include <cstdint>
#include <vector>

namespace ko {

// Frames up to this index keep every frame in the running mean (their threshold is 0).
inline constexpr int64_t kCausalWarmupFrames = 6;
// The threshold's quantile among the energies heard so far.
inline constexpr double kCausalQuantile = 0.2;

// The Euclidean norm of each of `frames` rows of `width` features.
std::vector<float> frameEnergies(const float* features, int64_t frames, int64_t width);

// Frame t's threshold: 0 up to kCausalWarmupFrames, then the energy at fractional position 0.2 t of
// the ascending energies of frames 0 .. t, interpolated linearly between its two neighbours.
std::vector<double> causalThresholds(const std::vector<float>& energies);

// Normalises `frames` rows of `width` features in place, in frame order: a frame whose energy exceeds
// its threshold joins a running sum first, then every frame loses running sum / max(count, 1).
void normaliseCausally(float* features, int64_t frames, int64_t width);

}  // namespace ko
