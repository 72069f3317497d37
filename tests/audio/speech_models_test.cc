// The synthetic speech stack: the 8 s encoder's frames rebuilt from a 2 s trunk window and the head
// the way the library rebuilds them, the a2x encoder's receptive field under a banded mask, and the
// decoder reading every input it is given.
#include "tools/authoring/speech_models.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"
#include "tests/support/speech_reference.h"

namespace ko {
namespace {

using namespace authoring;
using test::FloatTensor;

// Head rows for 8 s frames first..first+count-1 from a trunk window whose step 0 lies `offsetSteps`
// steps after the 8 s window's.
std::vector<float> pairFrames(const std::vector<float>& trunk, int offsetSteps, int first, int count) {
  std::vector<double> positions;
  for (int k = first; k < first + count; ++k) positions.push_back(-offsetSteps + k * 1598.0 / 199.0);
  return test::headRowsAt(trunk, positions);
}

TEST(SpeechModels, EightSecondFramesComeBackFromATwoSecondTrunkAndTheHead) {
  // Noise under a slow swell, a tone and an offset: the two windows normalise very differently.
  std::mt19937 rng(5);
  const size_t s0 = 4000, s1 = s0 + 400 * kTrunkStepSamples, total = s0 + kLegacyWindowSamples;
  std::vector<float> audio = test::uniformValues(total, -1.0f, 1.0f, rng);
  for (size_t i = 0; i < total; ++i) {
    const double t = static_cast<double>(i) / 16000.0;
    audio[i] = static_cast<float>(0.3 + (0.1 + 1.5 * std::abs(std::sin(0.9 * t))) * audio[i] +
                                  0.4 * std::sin(2 * std::numbers::pi * 220 * t));
  }
  const FloatTensor emb8 =
      test::runModel(speechEncoder8s(),
                     {{"input_values",
                       {{1, kLegacyWindowSamples}, test::normalisedWindow(audio, s0, kLegacyWindowSamples)}}},
                     {"audio_emb"})
          .at(0);
  ASSERT_EQ(emb8.shape, (std::vector<int64_t>{kFeatureLayers, kLegacyWindowFrames, kFeatureWidth}));
  // The trunk's float16 output [640, 399], widened.
  const FloatTensor trunk =
      test::runModel(speechTrunk({.trunkDeclaresLength = false}),
                     {{"input_values",
                       {{1, kShortWindowSamples}, test::normalisedWindow(audio, s1, kShortWindowSamples)}}},
                     {"trunk_out"})
          .at(0);
  ASSERT_EQ(trunk.shape, (std::vector<int64_t>{1, kTrunkChannels, trunkSteps(kShortWindowSamples)}));

  // Frames 50..97 fall inside the trunk window (steps 1.5 .. 379).
  const int first = 50, count = 48, offset = static_cast<int>((s1 - s0) / kTrunkStepSamples);
  std::vector<float> expected;
  for (int k = first; k < first + count; ++k) {
    const std::vector<float> row = test::legacyFrameRow(emb8.values, k);
    expected.insert(expected.end(), row.begin(), row.end());
  }
  // About 3e-4 in practice: ONNX Runtime places the resize taps in float, so some of the second float16
  // roundings land one step away from the double positions used here.
  EXPECT_LT(test::maxAbsDifference(pairFrames(trunk.values, offset, first, count), expected), 1e-3f);
  // One step off is far off: the frames really follow the audio under them.
  EXPECT_GT(test::maxAbsDifference(pairFrames(trunk.values, offset + 1, first, count), expected), 0.1f);
}

struct A2xRun {
  std::vector<float> hidden, wn;
};

A2xRun runEncoder(const A2xRecipe& recipe, const FloatTensor& feat, const FloatTensor& pos,
                  const FloatTensor& mask) {
  const std::vector<FloatTensor> out = test::runModel(
      a2xEncoder(recipe), {{"feat", feat}, {"pos_window", pos}, {"attn", mask}}, {"hidden", "wn"});
  return {out.at(0).values, out.at(1).values};
}

TEST(SpeechModels, A2xTokenSeesExactlyItsCompoundedMaskWindow) {
  const A2xRecipe recipe{.wn = true};
  const int tokens = 24, i = 12, h = recipe.h;
  std::mt19937 rng(9);
  const FloatTensor feat = test::uniformTensor({1, tokens, kFeatureLayers, kFeatureWidth}, 1.0f, rng);
  const FloatTensor pos = test::uniformTensor({1, tokens, h}, 0.5f, rng);
  const FloatTensor mask = test::bandMask(tokens, recipe.left, recipe.window);
  const A2xRun base = runEncoder(recipe, feat, pos, mask);
  const auto hiddenRow = [&](const A2xRun& run) {
    return std::vector<float>(run.hidden.begin() + i * h, run.hidden.begin() + (i + 1) * h);
  };
  // Two layers of left 3 and window 1: token 12 reads tokens 6..14.
  const struct {
    int token;
    bool seen;
  } cases[] = {{5, false}, {6, true}, {12, true}, {14, true}, {15, false}};
  for (const auto& c : cases) {
    FloatTensor changed = feat;
    for (int v = 0; v < kFeatureRow; ++v)
      changed.values[static_cast<size_t>(c.token) * kFeatureRow + v] *= -1.0f;
    const A2xRun run = runEncoder(recipe, changed, pos, mask);
    const float moved = test::maxAbsDifference(hiddenRow(run), hiddenRow(base));
    const float wnMoved = std::abs(run.wn[i] - base.wn[i]);
    if (c.seen) {
      EXPECT_GT(moved, 1e-3f) << c.token;
      EXPECT_GT(wnMoved, 1e-5f) << c.token;
    } else {
      EXPECT_EQ(moved, 0.0f) << c.token;
      EXPECT_EQ(wnMoved, 0.0f) << c.token;
    }
  }
  FloatTensor open = mask;
  std::fill(open.values.begin(), open.values.end(), 0.0f);
  EXPECT_GT(test::maxAbsDifference(hiddenRow(runEncoder(recipe, feat, pos, open)), hiddenRow(base)), 1e-3f);
  FloatTensor moved = pos;
  for (int v = 0; v < h; ++v) moved.values[static_cast<size_t>(i) * h + v] += 0.5f;
  EXPECT_GT(test::maxAbsDifference(hiddenRow(runEncoder(recipe, feat, moved, mask)), hiddenRow(base)), 1e-3f);
}

TEST(SpeechModels, A2xDecoderReadsContextPreviousKeypointsAndState) {
  const A2xRecipe recipe;
  std::mt19937 rng(3);
  const test::NamedTensors inputs{{"ctx_t", test::uniformTensor({1, recipe.h}, 0.8f, rng)},
                                  {"prev", test::uniformTensor({1, kKeypointValues}, 1.0f, rng)},
                                  {"h", test::uniformTensor({1, 1, recipe.h}, 0.8f, rng)}};
  const std::vector<uint8_t> model = a2xDecoder(recipe);
  const std::vector<FloatTensor> base = test::runModel(model, inputs, {"m", "h_out"});
  ASSERT_EQ(base.at(0).shape, (std::vector<int64_t>{1, kKeypointValues}));
  ASSERT_EQ(base.at(1).shape, (std::vector<int64_t>{1, 1, recipe.h}));
  for (size_t input = 0; input < inputs.size(); ++input) {
    test::NamedTensors changed = inputs;
    for (float& v : changed[input].second.values) v = -v;
    const std::vector<FloatTensor> run = test::runModel(model, changed, {"m", "h_out"});
    EXPECT_GT(test::maxAbsDifference(run[0].values, base[0].values), 1e-2f) << inputs[input].first;
    EXPECT_GT(test::maxAbsDifference(run[1].values, base[1].values), 1e-2f) << inputs[input].first;
  }
}

}  // namespace
}  // namespace ko
