// The utterance pipeline end to end on a synthetic identity and a2x motion directory: idle frames on
// demand, speech frames that carry the audio model's keypoints and the session's own rendering of
// them, blends back to idle, the end gap, interruptions and the onset row.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "ko/utt_handle.h"
#include "tests/support/utt_fixture.h"

namespace ko::test {
namespace {

using utt::kBlend;
using utt::kIdle;
using utt::kSpeech;

std::vector<PulledFrame> ofKind(const std::vector<PulledFrame>& frames, int32_t kind) {
  std::vector<PulledFrame> chosen;
  for (const PulledFrame& frame : frames) {
    if (frame.info.kind == kind) chosen.push_back(frame);
  }
  return chosen;
}

int32_t nextRow(int32_t row) {
  return (row + 1) % kUttNt;
}

// The session's own frame for a crop rendered from xs to kp at row (the session must be free).
std::vector<uint8_t> sessionFrame(ko_ctx* ctx, int32_t row, const float* xs, const float* kp) {
  std::vector<uint8_t> frame(static_cast<size_t>(ko_width(ctx)) * static_cast<size_t>(ko_height(ctx)) * 3);
  const float* crop = ko_render_kp_crop(ctx, row, xs, kp);
  EXPECT_NE(crop, nullptr) << ko_last_error();
  if (crop) {
    EXPECT_EQ(ko_paste_crop(ctx, row, crop, frame.data(), frame.size()), 1) << ko_last_error();
  }
  return frame;
}

// Blend frame k of n from the keypoints `from` of row `fromRow` back to the idle pose.
void expectBlend(const UttFixture& fixture, const std::vector<PulledFrame>& blend, int32_t fromRow,
                 const utt::Keypoints& from) {
  int32_t row = fromRow;
  const auto n = static_cast<float>(blend.size());
  for (size_t k = 0; k < blend.size(); ++k) {
    row = nextRow(row);
    SCOPED_TRACE("blend frame " + std::to_string(k));
    EXPECT_EQ(blend[k].info.row, row);
    EXPECT_EQ(blend[k].info.ordinal, -1);
    const float weight = 1.0f - static_cast<float>(k + 1) / n;
    for (size_t v = 0; v < 63; ++v) {
      const float expected = weight * (from[v] - fixture.idlePose(fromRow)[v]) + fixture.idlePose(row)[v];
      ASSERT_FLOAT_EQ(blend[k].kp[v], expected) << v;
    }
  }
}

TEST(UttPipeline, IdleFramesComeOnePerPullInRowOrder) {
  UttFixture fixture;
  UttHandle utt = fixture.start(fixture.options());
  std::vector<PulledFrame> frames;
  for (int i = 0; i < 7; ++i) {
    std::vector<PulledFrame> one = pullUntil(utt.get(), [](const auto& got) { return got.size() == 1; });
    ASSERT_EQ(one.size(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_LE(ko_utt_frames_available(utt.get()), 1) << "more than one idle frame made for one pull";
    frames.push_back(one[0]);
  }
  utt.reset();
  for (size_t i = 0; i < frames.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(frames[i].info.kind, kIdle);
    EXPECT_EQ(frames[i].info.row, static_cast<int32_t>(i % kUttNt));
    EXPECT_EQ(frames[i].info.ordinal, -1);
    EXPECT_EQ(frames[i].info.seq, i);
    const uint8_t* driver = ko_target_frame(fixture.ctx(), frames[i].info.row);
    ASSERT_NE(driver, nullptr);
    EXPECT_TRUE(std::equal(frames[i].pixels.begin(), frames[i].pixels.end(), driver));
  }
}

struct SpeechCase {
  const char* name;
  const char* pipelinePaste;
  int chunkBatch;  // 0: every frame renders alone
};

class UttSpeech : public testing::TestWithParam<SpeechCase> {};

TEST_P(UttSpeech, FramesCarryTheModelsKeypointsThenBlendBackToIdle) {
  const SpeechCase& c = GetParam();
  ScopedEnv paste("KO_UTT_PIPELINE_PASTE", c.pipelinePaste);
  UttFixture fixture(c.chunkBatch);
  ko_utt_opts opts = fixture.options();
  opts.steady_model = c.chunkBatch > 0 ? nullptr : "-";
  opts.ramp_frames = 3;
  UttHandle utt = fixture.start(opts);
  const std::vector<int16_t> samples = speechSamples(19200);
  pushSpeech(utt.get(), samples);
  ko_utt_end_utterance(utt.get());
  const std::vector<PulledFrame> frames = pullUntil(utt.get(), [](const auto& got) {
    return countKind(got, kBlend) == 3 && got.back().info.kind == kIdle;
  });
  ko_utt_stats stats{};
  ko_utt_get_stats(utt.get(), &stats);
  utt.reset();
  for (size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[i].info.seq, frames[i - 1].info.seq + 1);

  const std::vector<PulledFrame> speech = ofKind(frames, kSpeech);
  ASSERT_EQ(speech.size(), 30u);
  EXPECT_EQ(stats.speech_frames_delivered, 30u);
  EXPECT_EQ(stats.utterances, 1u);
  A2xStream direct(fixture.a2x.motionDir, 1);
  direct.reset(speech[0].info.row, 1, 1);
  std::vector<float> audio(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) audio[i] = static_cast<float>(samples[i]) / 32768.0f;
  direct.push(audio.data(), static_cast<int64_t>(audio.size()));
  direct.finish();
  PulledFrames expected;
  pullAll(direct, expected);
  ASSERT_EQ(expected.idx.size(), speech.size());
  for (size_t i = 0; i < speech.size(); ++i) {
    SCOPED_TRACE("speech frame " + std::to_string(i));
    EXPECT_EQ(speech[i].info.ordinal, static_cast<int32_t>(i));
    EXPECT_EQ(speech[i].info.row, expected.idx[i]);
    EXPECT_TRUE(std::equal(speech[i].kp.begin(), speech[i].kp.end(), expected.kp.begin() + i * 63));
    const std::vector<uint8_t> own =
        sessionFrame(fixture.ctx(), speech[i].info.row, &expected.xs[i * 63], &expected.kp[i * 63]);
    int worst = 0;
    for (size_t b = 0; b < own.size(); ++b) worst = std::max(worst, std::abs(own[b] - speech[i].pixels[b]));
    // A batch graph may round a last bit differently from the batch-1 director.
    EXPECT_LE(worst, c.chunkBatch > 0 ? 1 : 0);
  }
  const std::vector<PulledFrame> blend = ofKind(frames, kBlend);
  expectBlend(fixture, blend, speech.back().info.row, speech.back().kp);
  EXPECT_EQ(frames.back().info.row, nextRow(blend.back().info.row));
}

INSTANTIATE_TEST_SUITE_P(PasteAndBatch, UttSpeech,
                         testing::Values(SpeechCase{"inline", "0", 0}, SpeechCase{"pipelined", "1", 0},
                                         SpeechCase{"chunked", "1", 4}),
                         [](const testing::TestParamInfo<SpeechCase>& param) { return param.param.name; });

TEST(UttPipeline, AnUtteranceEndsByItselfAfterTheEndGap) {
  struct Case {
    double endGapS;
    double atLeastMs;
  };
  for (const Case c : {Case{0, 600}, Case{0.15, 150}}) {
    SCOPED_TRACE(c.endGapS);
    UttFixture fixture;
    ko_utt_opts opts = fixture.options();
    opts.end_gap_s = c.endGapS;
    UttHandle utt = fixture.start(opts);
    pushSpeech(utt.get(), speechSamples(6400));
    const auto pushed = std::chrono::steady_clock::now();
    const std::vector<PulledFrame> frames = pullKind(utt.get(), kBlend, 1);
    const std::chrono::duration<double, std::milli> waited = std::chrono::steady_clock::now() - pushed;
    EXPECT_EQ(countKind(frames, kSpeech), 10u);
    EXPECT_GE(waited.count(), c.atLeastMs);
  }
}

TEST(UttPipeline, WithoutAnEndGapOnlyTheHostEndsTheUtterance) {
  UttFixture fixture;
  UttHandle utt = fixture.start(fixture.options());
  // Enough audio that the model serves frames while the utterance is live.
  pushSpeech(utt.get(), speechSamples(32000));
  pullKind(utt.get(), kSpeech, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  ko_utt_stats stats{};
  ko_utt_get_stats(utt.get(), &stats);
  EXPECT_EQ(stats.state, 2);
  ko_utt_end_utterance(utt.get());
  EXPECT_EQ(countKind(pullKind(utt.get(), kBlend, 6), kBlend), 6u);
}

TEST(UttPipeline, AnInterruptDropsWhatWaitsAndBlendsFromTheLastPulledFrame) {
  ScopedEnv paste("KO_UTT_PIPELINE_PASTE", "1");
  UttFixture fixture;
  UttHandle utt = fixture.start(fixture.options());
  pushSpeech(utt.get(), speechSamples(64000));
  ko_utt_end_utterance(utt.get());
  std::vector<PulledFrame> before = pullKind(utt.get(), kSpeech, 5);
  for (int wait = 0; wait < 10000 && ko_utt_frames_available(utt.get()) < 8; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(ko_utt_frames_available(utt.get()), 8);
  ko_utt_interrupt(utt.get());
  const std::vector<PulledFrame> after =
      pullUntil(utt.get(), [](const auto& got) { return !got.empty() && got.back().info.kind == kIdle; });
  ASSERT_EQ(after.size(), 5u);
  EXPECT_EQ(countKind(after, kBlend), 4u);
  // The 8 frames that waited were numbered and then dropped; nothing made before the interrupt follows.
  EXPECT_EQ(after[0].info.seq, before.back().info.seq + 9);
  expectBlend(fixture, ofKind(after, kBlend), before.back().info.row, before.back().kp);
}

TEST(UttPipeline, AnOnsetRowStartsEveryUtteranceThere) {
  ScopedEnv onset("KO_UTT_ONSET_SI", "7");
  UttFixture fixture;
  UttHandle utt = fixture.start(fixture.options());
  for (int utterance = 0; utterance < 2; ++utterance) {
    pushSpeech(utt.get(), speechSamples(3200));
    ko_utt_end_utterance(utt.get());
    const std::vector<PulledFrame> frames = pullKind(utt.get(), kBlend, 6);
    const std::vector<PulledFrame> speech = ofKind(frames, kSpeech);
    ASSERT_FALSE(speech.empty());
    EXPECT_EQ(speech[0].info.row, 7 % kUttNt);
  }
}

}  // namespace
}  // namespace ko::test
