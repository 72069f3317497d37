// Feature rows of both encoder forms against the arithmetic done here from the networks' raw
// outputs: window placement and normalisation, the 8 s window's hop and offsets, the trunk columns
// interpolated at the legacy positions, float16 rounding; and the two forms against each other.
#include <gtest/gtest.h>

#include <cmath>

#include "audio/audio.h"
#include "audio/window_norm.h"
#include "tests/support/a2x_fixture.h"
#include "tests/support/ort_run.h"
#include "tests/support/speech_reference.h"

namespace ko::test {
namespace {

void pushAll(SpeechFeatures& features, const std::vector<float>& audio) {
  std::copy(audio.begin(), audio.end(), features.audio.appendRows(audio.size()));
}

std::vector<float> legacyEmb(const std::vector<float>& audio, int64_t windowStart) {
  return runModel(authoring::speechEncoder8s(),
                  {{"input_values", {{1, 128000}, normalisedWindow(audio, windowStart * 640, 128000)}}},
                  {"audio_emb"})[0]
      .values;
}

float rowDifference(const float* row, const std::vector<float>& expected) {
  float worst = 0;
  for (size_t i = 0; i < expected.size(); ++i) worst = std::max(worst, std::abs(row[i] - expected[i]));
  return worst;
}

TEST(SpeechFeatures, LegacyRowsAreEachWindowsFramesRoundedToHalf) {
  A2xFixture fixture(legacySetup());
  SpeechFeatures features(fixture.encoder, fixture.w2vPath, 1, 12);
  const std::vector<float> audio = speechAudio(230 * 640 - 100);
  pushAll(features, audio);
  features.finished = true;
  features.fill_feat(230);
  const std::vector<float> first = legacyEmb(audio, 0);
  const std::vector<float> second = legacyEmb(audio, 100);
  for (int64_t frame : {0, 1, 150, 198, 199, 200, 201, 229}) {
    SCOPED_TRACE(frame);
    std::vector<float> expected =
        legacyFrameRow(frame < 200 ? first : second, frame < 200 ? frame : frame - 100);
    for (float& value : expected) value = halfRounded(value);
    EXPECT_EQ(rowDifference(features.feat.row(frame), expected), 0.0f);
  }
}

// The rows of block `block` as the short-window pair should give them, with right = 12: the trunk
// read where the legacy window of each frame looks.
std::vector<float> shortWindowBlock(const std::vector<float>& audio, int64_t block) {
  const int64_t windowEnd = (block + 8 + 12) * 640;
  const std::vector<float> trunk =
      runModel(authoring::speechTrunk(),
               {{"input_values", {{1, 32000}, normalisedWindow(audio, windowEnd - 32000, 32000)}}},
               {"trunk_out"})[0]
          .values;
  std::vector<double> positions;
  for (int64_t frame = block; frame < block + 8; ++frame) {
    const int64_t legacyStart = frame <= 199 ? 0 : (frame / 100 - 1) * 100;
    positions.push_back((legacyStart * 640.0 - (windowEnd - 32000)) / 80.0 +
                        (frame - legacyStart) * (1598.0 / 199.0));
  }
  std::vector<float> rows = headRowsAt(trunk, positions);
  for (float& value : rows) value = halfRounded(value);
  return rows;
}

TEST(SpeechFeatures, ShortWindowRowsReadTheTrunkWhereTheLegacyWindowLooks) {
  A2xFixture fixture;
  SpeechFeatures features(fixture.encoder, fixture.w2vPath, 1, 12);
  ASSERT_TRUE(fixture.encoder.get_shared_w2v_win(1, fixture.w2vPath));
  features.windowMode = true;
  const std::vector<float> audio = speechAudio(232 * 640);
  pushAll(features, audio);
  features.fill_feat_win(208);
  EXPECT_EQ(features.featEnd, 208);
  for (int64_t block : {0, 96, 192, 200}) {
    SCOPED_TRACE(block);
    EXPECT_EQ(rowDifference(features.feat.row(block), shortWindowBlock(audio, block)), 0.0f);
  }

  // Both forms serve the same features, within a float16 step or so: the legacy window interpolates
  // its trunk steps in float inside the graph, the stream interpolates the trunk columns in double.
  SpeechFeatures legacy(fixture.encoder, fixture.w2vPath, 1, 12);
  pushAll(legacy, audio);
  legacy.finished = true;
  legacy.fill_feat(208);
  float worst = 0;
  for (int64_t frame = 40; frame < 208; ++frame) {
    worst = std::max(worst, rowDifference(features.feat.row(frame),
                                          std::vector<float>(legacy.feat.row(frame),
                                                             legacy.feat.row(frame) + kFeatureRow)));
  }
  EXPECT_LT(worst, 4e-3f);
  RecordProperty("short_window_vs_legacy_max_abs", std::to_string(worst));
}

TEST(SpeechFeatures, SilenceNormalisesToZeros) {
  std::vector<float> window(32000, 0.0f);
  normaliseWindow(window.data(), window.size());
  EXPECT_EQ(window, std::vector<float>(32000, 0.0f));
}

}  // namespace
}  // namespace ko::test
