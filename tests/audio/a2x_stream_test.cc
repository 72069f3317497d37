// The a2x stream's behaviours: chop-independent output, equality with one encoder run over the
// utterance, the block cadence, the idle-row walks, resets, priming, refusals of rows it dropped,
// bounded memory.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "audio/audio.h"
#include "tests/support/a2x_fixture.h"
#include "tests/support/ko_lines.h"
#include "tests/support/ort_run.h"
#include "tests/support/random_tensor.h"
#include "tests/support/speech_reference.h"

namespace ko::test {
namespace {

constexpr int64_t kKp = kKeypointValues;

class ChopInvariance : public testing::TestWithParam<bool> {};

TEST_P(ChopInvariance, ServesTheSameKeypointsHoweverTheAudioIsChopped) {
  const bool pair = GetParam();
  A2xSetup setup;
  setup.pair = pair;
  A2xFixture fixture(setup);
  const std::vector<float> audio = speechAudio(5 * 16000 + 321);
  std::unique_ptr<A2xStream> reference = fixture.stream();
  const PulledFrames whole = streamAudio(
      *reference, audio, [&] { return audio.size(); }, false);
  ASSERT_EQ(whole.idx.size(), static_cast<size_t>(reference->total()));

  std::mt19937 rng(5);
  std::uniform_int_distribution<size_t> random(1, 5000);
  struct Chop {
    const char* name;
    std::function<size_t()> piece;
  };
  const Chop chops[] = {{"640", [] { return size_t{640}; }},
                        {"random", [&] { return random(rng); }},
                        {"one sample", [] { return size_t{1}; }}};
  for (const Chop& chop : chops) {
    for (bool pullBetween : {false, true}) {
      SCOPED_TRACE(std::string(chop.name) + (pullBetween ? ", pulled between pushes" : ""));
      std::unique_ptr<A2xStream> stream = fixture.stream();
      const PulledFrames frames = streamAudio(*stream, audio, chop.piece, pullBetween);
      EXPECT_EQ(frames.idx, whole.idx);
      // The legacy window, live, is computed again as its audio grows: frames it wrote early saw
      // the window normalised over less audio, so only the short window is exact under live pulls.
      if (pair || !pullBetween) {
        EXPECT_EQ(frames.kp, whole.kp);
      } else {
        EXPECT_LT(maxAbsDifference(frames.kp, whole.kp), 2e-3f);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothEncoderForms, ChopInvariance, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& form) {
                           return form.param ? "ShortWindow" : "Legacy";
                         });

// Hidden rows of tokens [first, end) from one encoder run over exactly those tokens.
std::vector<float> hiddenByOneRun(const A2xStream& stream, const authoring::A2xRecipe& net, int64_t first,
                                  int64_t end) {
  const int64_t tokens = end - first;
  FloatTensor feat{{1, tokens, 12, 768}, {}};
  FloatTensor positions{{1, tokens, stream.h}, {}};
  const int64_t half = stream.P / 2;
  for (int64_t t = first; t < end; ++t) {
    const float* row = stream.features.feat.row(t);
    feat.values.insert(feat.values.end(), row, row + kFeatureRow);
    const int64_t posRow = t < stream.P ? t : half + (t - stream.P) % (stream.P - half);
    positions.values.insert(positions.values.end(), stream.pos.begin() + posRow * stream.h,
                            stream.pos.begin() + (posRow + 1) * stream.h);
  }
  return runModel(
             authoring::a2xEncoder(net),
             {{"feat", feat}, {"pos_window", positions}, {"attn", bandMask(tokens, net.left, net.window)}},
             {"hidden"})[0]
      .values;
}

std::vector<float> heldRows(const RowBuffer& rows, int64_t first, int64_t end) {
  return std::vector<float>(rows.row(first),
                            rows.row(first) + (end - first) * static_cast<int64_t>(rows.width()));
}

TEST(A2xStream, StreamedHiddenRowsEqualOneRunOverTheUtterance) {
  struct Case {
    int posRows;
    const char* what;
  };
  for (const Case& c : {Case{512, "positions cover the utterance"}, Case{40, "positions cycle"}}) {
    SCOPED_TRACE(c.what);
    A2xSetup setup;
    setup.motion.posRows = c.posRows;
    A2xFixture fixture(setup);
    std::unique_ptr<A2xStream> stream = fixture.stream();
    const std::vector<float> audio = speechAudio(150 * 640);
    stream->push(audio.data(), static_cast<int64_t>(audio.size()));
    stream->finish();
    while (stream->avail() < stream->total()) ASSERT_EQ(stream->extendFailure, "");
    const int64_t frames = stream->total();
    const authoring::A2xRecipe& net = setup.motion.net;
    // A band never reaches across the end of the position table, so frames below it see only
    // tokens below it.
    const int64_t split = std::min(stream->P, frames);
    EXPECT_LT(maxAbsDifference(heldRows(stream->hidden, 0, split), hiddenByOneRun(*stream, net, 0, split)),
              1e-6f);
    if (split < frames) {
      const int64_t first = split - stream->ctxLeft;
      const std::vector<float> tail = hiddenByOneRun(*stream, net, first, frames);
      EXPECT_LT(maxAbsDifference(heldRows(stream->hidden, split, frames),
                                 std::vector<float>(tail.begin() + (split - first) * stream->h, tail.end())),
                1e-6f);
    }
  }
}

TEST(A2xStream, CountsLiveAudioInWholeBlocks) {
  struct Case {
    bool pair;
    const char* right;
    int64_t samples;
    int64_t ready;
  };
  // ctxRight = 1 x 2 frames; the features look `right` frames ahead (legacy) or right + 8.
  const Case cases[] = {{false, "0", 4480, 0},  {false, "0", 4481, 6},  {true, "12", 4481, 0},
                        {true, "12", 14720, 0}, {true, "12", 14721, 2}, {true, "12", 19841, 10}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.samples) + " samples, right " + c.right + (c.pair ? ", short window" : ""));
    ScopedEnv right("KO_A2X_W2V_RIGHT", c.right);
    A2xSetup setup;
    setup.pair = c.pair;
    A2xFixture fixture(setup);
    std::unique_ptr<A2xStream> stream = fixture.stream();
    const std::vector<float> audio = speechAudio(static_cast<size_t>(c.samples));
    stream->push(audio.data(), c.samples);
    while (stream->avail() < stream->frameTarget() && stream->extendFailure.empty()) {
    }
    EXPECT_EQ(stream->avail(), c.ready);
    EXPECT_EQ(stream->total(), -1);
    stream->finish();
    EXPECT_EQ(stream->total(), (c.samples + 639) / 640);
    PulledFrames frames;
    pullAll(*stream, frames);
    EXPECT_EQ(static_cast<int64_t>(frames.idx.size()), stream->total());
  }
}

std::vector<int32_t> rowsPlayed(A2xStream& stream, int frames) {
  const std::vector<float> audio = speechAudio(static_cast<size_t>(frames) * 640);
  stream.push(audio.data(), static_cast<int64_t>(audio.size()));
  stream.finish();
  PulledFrames pulled;
  pullAll(stream, pulled);
  return pulled.idx;
}

TEST(A2xStream, ServesIdleRowsPlusTheWholeUtteranceDeltas) {
  A2xSetup setup = legacySetup();
  setup.motion.net.wn = true;
  setup.motion.metaWidth = true;
  A2xFixture fixture(setup);
  std::unique_ptr<A2xStream> stream = fixture.stream();
  const std::vector<float> audio = speechAudio(230 * 640 - 17);
  std::vector<float> deltas(230 * kKp);
  ASSERT_EQ(stream->deltas(audio.data(), static_cast<int64_t>(audio.size()), deltas.data(), 230), 230);
  const std::vector<float> wholeWn = stream->utteranceWn();
  const PulledFrames frames = streamAudio(
      *stream, audio, [&] { return audio.size(); }, false);
  ASSERT_EQ(frames.idx.size(), 230u);
  float worst = 0;
  for (size_t f = 0; f < 230; ++f) {
    const float* idle = stream->xsTarget.data() + frames.idx[f] * kKp;
    for (int64_t j = 0; j < kKp; ++j) {
      EXPECT_EQ(frames.xs[f * kKp + j], idle[j]);
      worst = std::max(worst, std::abs(frames.kp[f * kKp + j] - (idle[j] + deltas[f * kKp + j])));
    }
  }
  EXPECT_LT(worst, 1e-5f);
  EXPECT_LT(maxAbsDifference(frames.wn, wholeWn), 1e-5f);

  std::vector<float> untouched(3 * kKp, 7.0f);
  EXPECT_EQ(stream->deltas(audio.data(), 2 * 640 + 1, untouched.data(), 2), -2);
  EXPECT_EQ(untouched, std::vector<float>(3 * kKp, 7.0f));
  EXPECT_EQ(stream->deltas(audio.data(), 0, untouched.data(), 2), 0);
}

// MotionStream's walk table checks walkRow itself; here the stream must hand it the start, direction
// and wrapping it was given.
TEST(A2xStream, WalksTheIdleRowsAndResetFromMinusOneContinuesTheWalk) {
  A2xFixture fixture;
  std::unique_ptr<A2xStream> stream = fixture.stream();
  stream->reset(3, -1, 1);
  EXPECT_EQ(rowsPlayed(*stream, 6), (std::vector<int32_t>{3, 2, 1, 0, 4, 3}));
  stream->reset(-1, 1, 0);
  EXPECT_EQ(stream->total(), -1);
  EXPECT_EQ(stream->features.samplesPushed(), 0);
  // The walk restarts from row 2 in the direction given, not the one it was taking, and bounces.
  EXPECT_EQ(rowsPlayed(*stream, 4), (std::vector<int32_t>{2, 3, 4, 3}));
}

TEST(A2xStream, WarnsWhenTheMetaMisstatesTheWidthAndServesTheGraph) {
  struct Case {
    bool encoderWn;
    bool metaWidth;
    const char* line;
  };
  const Case cases[] = {
      {false, true,
       "[ko_a2x] WARNING: a2x_meta width=1 but the encoder declares 1 output(s) — serving the GRAPH "
       "(width=0). Repackage this bundle."},
      {true, false,
       "[ko_a2x] WARNING: a2x_meta width=0 but the encoder declares 2 output(s) — serving the GRAPH "
       "(width=1). Repackage this bundle."},
  };
  for (const Case& c : cases) {
    A2xSetup setup;
    setup.motion.net.wn = c.encoderWn;
    setup.motion.metaWidth = c.metaWidth;
    A2xFixture fixture(setup);
    testing::internal::CaptureStderr();
    std::unique_ptr<A2xStream> stream = fixture.stream();
    const std::vector<std::string> lines = koLines(testing::internal::GetCapturedStderr());
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end());
    EXPECT_EQ(stream->hasWn(), c.encoderWn);
  }
}

TEST(A2xStream, PrimesTheDecoderWithSilence) {
  A2xSetup setup;
  setup.motion.silencePrime = 5;
  A2xFixture fixture(setup);
  testing::internal::CaptureStderr();
  std::unique_ptr<A2xStream> primed = fixture.stream();
  const std::vector<std::string> lines = koLines(testing::internal::GetCapturedStderr());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "[ko_a2x] silence-primed AR state cached (5 frames)"),
            lines.end());

  // The same state from the 8 s encoder's all-zero window, run here step by step.
  const std::vector<float> zeroEmb =
      runModel(authoring::speechEncoder8s(setup.speech),
               {{"input_values", FloatTensor{{1, 128000}, std::vector<float>(128000, 0.0f)}}},
               {"audio_emb"})[0]
          .values;
  FloatTensor feat{{1, 5, 12, 768}, {}};
  for (int k = 0; k < 5; ++k) {
    for (float value : legacyFrameRow(zeroEmb, k)) feat.values.push_back(halfRounded(value));
  }
  const authoring::A2xRecipe& net = setup.motion.net;
  FloatTensor positions{{1, 5, net.h},
                        std::vector<float>(primed->pos.begin(), primed->pos.begin() + 5 * net.h)};
  const std::vector<float> hidden =
      runModel(authoring::a2xEncoder(net),
               {{"feat", feat}, {"pos_window", positions}, {"attn", bandMask(5, 3, 1)}}, {"hidden"})[0]
          .values;
  FloatTensor prev{{1, 63}, std::vector<float>(63, 0.0f)};
  FloatTensor state{{1, 1, net.h}, std::vector<float>(net.h, 0.0f)};
  for (int k = 0; k < 5; ++k) {
    FloatTensor ctx{{1, net.h},
                    std::vector<float>(hidden.begin() + k * net.h, hidden.begin() + (k + 1) * net.h)};
    std::vector<FloatTensor> out =
        runModel(authoring::a2xDecoder(net), {{"ctx_t", ctx}, {"prev", prev}, {"h", state}}, {"m", "h_out"});
    prev.values = out[0].values;
    state.values = out[1].values;
  }
  EXPECT_LT(maxAbsDifference(primed->primedPrev, prev.values), 1e-6f);
  EXPECT_LT(maxAbsDifference(primed->primedState, state.values), 1e-6f);
  EXPECT_EQ(primed->prev, primed->primedPrev);

  ScopedEnv off("KO_A2X_SILENCE_PRIME", "0");
  EXPECT_TRUE(fixture.stream()->primedPrev.empty());
}

// Drops a buffer's rows below `from`, as a consumer far behind its producer would make a trim do.
void dropUpTo(RowBuffer& rows, int64_t from) {
  rows.growTo(from);
  rows.dropBefore(from, 1);
}

TEST(A2xStream, RefusesToReadRowsItDropped) {
  struct Case {
    bool pair;
    const char* what;
    std::function<void(A2xStream&)> drop;
  };
  const Case cases[] = {
      {true, "encoder band", [](A2xStream& s) { dropUpTo(s.hidden, s.encoded + 1); }},
      {true, "decoder frame", [](A2xStream& s) { dropUpTo(s.deltaRows, s.produced + 1); }},
      {true, "w2v window audio",
       [](A2xStream& s) { dropUpTo(s.features.audio, s.features.featStart * 640 + 640); }},
      {true, "feat block", [](A2xStream& s) { dropUpTo(s.features.feat, s.features.featStart + 1); }},
      {false, "8 s window audio",
       [](A2xStream& s) { dropUpTo(s.features.audio, s.features.featStart * 640 + 1); }},
      {false, "feat frame", [](A2xStream& s) { dropUpTo(s.features.feat, s.features.featEnd + 1); }},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    A2xSetup setup;
    setup.pair = c.pair;
    A2xFixture fixture(setup);
    std::unique_ptr<A2xStream> stream = fixture.stream();
    const std::vector<float> audio = speechAudio(12 * 16000);
    stream->push(audio.data(), 6 * 16000);
    ASSERT_GT(stream->avail(), 0);
    const int64_t produced = stream->produced;
    c.drop(*stream);
    stream->push(audio.data() + 6 * 16000, 6 * 16000);
    stream->finish();
    stream->extend(stream->frameTarget());
    EXPECT_EQ(stream->extendFailure, std::string("stream read behind the retained window (") + c.what + ")");
    EXPECT_EQ(stream->produced, produced);
  }
}

TEST(A2xStream, TurnsNonFiniteAndHugeSamplesIntoFiniteKeypoints) {
  A2xFixture fixture;
  std::unique_ptr<A2xStream> stream = fixture.stream();
  std::vector<float> audio = speechAudio(3 * 16000);
  for (size_t i = 0; i < audio.size(); i += 97) audio[i] = std::numeric_limits<float>::quiet_NaN();
  for (size_t i = 5; i < audio.size(); i += 1013) audio[i] = -std::numeric_limits<float>::infinity();
  for (size_t i = 7; i < audio.size(); i += 501) audio[i] = 3e38f;
  const std::vector<float> kp = streamAudio(
                                    *stream, audio, [&] { return audio.size(); }, false)
                                    .kp;
  ASSERT_EQ(kp.size(), 75u * kKp);
  for (float value : kp) ASSERT_TRUE(std::isfinite(value));
}

TEST(A2xStream, KeepsItsBuffersBoundedOverTenMinutes) {
  expectBoundedBuffers(600);
}

}  // namespace
}  // namespace ko::test
