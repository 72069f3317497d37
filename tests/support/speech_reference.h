// Reference arithmetic several speech tests start from, written once so the suites that check the
// encoder forms, the streams and the synthetic networks all measure against the same rules.
#pragma once

#include <cstdint>
#include <vector>

#include "tests/support/ort_run.h"

namespace ko::test {

// Samples [first, first + count) of audio, zero where they do not exist, normalised by the window's
// own mean and variance as the library feeds the encoder.
std::vector<float> normalisedWindow(const std::vector<float>& audio, int64_t first, int64_t count);

// An additive attention mask for one utterance: token i sees tokens i - left .. i + window.
FloatTensor bandMask(int64_t tokens, int64_t left, int64_t window);

// The value rounded to float16 and widened again, NaN kept.
float halfRounded(float value);

// Frame k of the 8 s encoder's layer-major output, its twelve layers side by side.
std::vector<float> legacyFrameRow(const std::vector<float>& audioEmb, int64_t k);

// Head rows (unrounded) for trunk positions: the trunk's [640, steps] output read between its two
// nearest steps at each position, each column rounded to float16, run through the head eight at a time.
std::vector<float> headRowsAt(const std::vector<float>& trunk, const std::vector<double>& positions);

}  // namespace ko::test
