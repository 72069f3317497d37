#include "tests/support/speech_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "audio/speech_encoder.h"
#include "simd/half.h"
#include "tools/authoring/speech_models.h"

namespace ko::test {

std::vector<float> normalisedWindow(const std::vector<float>& audio, int64_t first, int64_t count) {
  std::vector<float> window(static_cast<size_t>(count), 0.0f);
  for (int64_t i = 0; i < count; ++i) {
    const int64_t at = first + i;
    if (at >= 0 && at < static_cast<int64_t>(audio.size())) window[i] = audio[at];
  }
  long double sum = 0;
  for (float x : window) sum += x;
  const double mean = static_cast<double>(sum / count);
  long double squares = 0;
  for (float x : window) squares += (x - mean) * (x - mean);
  const float scale = 1.0f / std::sqrt(static_cast<float>(static_cast<double>(squares / count)) + 1e-7f);
  for (float& x : window) x = static_cast<float>((x - mean) * scale);
  return window;
}

FloatTensor bandMask(int64_t tokens, int64_t left, int64_t window) {
  FloatTensor mask{{1, 1, tokens, tokens}, {}};
  for (int64_t i = 0; i < tokens; ++i) {
    for (int64_t j = 0; j < tokens; ++j) {
      mask.values.push_back(j >= i - left && j <= i + window ? 0.0f
                                                             : -std::numeric_limits<float>::infinity());
    }
  }
  return mask;
}

float halfRounded(float value) {
  return half_bits::toFloat(half_bits::fromFloatKeepingNaN(value));
}

std::vector<float> legacyFrameRow(const std::vector<float>& audioEmb, int64_t k) {
  std::vector<float> row;
  for (int64_t layer = 0; layer < kFeatureLayers; ++layer) {
    const auto at = audioEmb.begin() + (layer * kLegacyWindowFrames + k) * kFeatureWidth;
    row.insert(row.end(), at, at + kFeatureWidth);
  }
  return row;
}

std::vector<float> headRowsAt(const std::vector<float>& trunk, const std::vector<double>& positions) {
  const int64_t steps = static_cast<int64_t>(trunk.size()) / kTrunkChannels;
  const int64_t batch = authoring::SpeechRecipe{}.headRows;
  std::vector<float> rows;
  for (size_t first = 0; first < positions.size(); first += static_cast<size_t>(batch)) {
    std::vector<float> columns;
    for (int64_t k = 0; k < batch; ++k) {
      const double p = positions[std::min(first + static_cast<size_t>(k), positions.size() - 1)];
      const int64_t t0 = static_cast<int64_t>(std::floor(p)), t1 = std::min(t0 + 1, steps - 1);
      if (t0 < 0 || t0 >= steps) {
        ADD_FAILURE() << "position " << p << " lies outside the trunk window";
        return {};
      }
      const double w = p - static_cast<double>(t0);
      for (int64_t c = 0; c < kTrunkChannels; ++c) {
        const float* row = &trunk[static_cast<size_t>(c * steps)];
        columns.push_back(halfRounded(static_cast<float>(row[t0] * (1 - w) + row[t1] * w)));
      }
    }
    const std::vector<float> emb =
        runModel(authoring::speechHead(), {{"x", {{batch, kTrunkChannels}, columns}}}, {"emb"}).at(0).values;
    rows.insert(rows.end(), emb.begin(), emb.end());
  }
  rows.resize(positions.size() * kFeatureRow);
  return rows;
}

}  // namespace ko::test
