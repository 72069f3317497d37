// The exported utterance calls: every argument refusal with its exact text, a model that cannot load,
// the pull buffer rules, render-failure reports, and destruction in every state.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "ko/utt_handle.h"
#include "tests/support/utt_fixture.h"

namespace ko::test {
namespace {

TEST(UttCalls, RefuseBadArgumentsWithTheirTexts) {
  UttFixture fixture;
  ko_utt_opts opts = fixture.options();
  EXPECT_EQ(ko_utt_create(fixture.ctx(), nullptr), nullptr);
  EXPECT_STREQ(ko_utt_last_error(), "ko_utt_create: NULL ctx/opts");
  for (const char* dir : {static_cast<const char*>(nullptr), ""}) {
    opts.motion_dir = dir;
    EXPECT_EQ(ko_utt_create(fixture.ctx(), &opts), nullptr);
    EXPECT_STREQ(ko_utt_last_error(), "ko_utt_create: opts.motion_dir required");
  }
  UttHandle utt = fixture.start(fixture.options());
  const int16_t sample = 0;
  struct Push {
    ko_utt* utt;
    const int16_t* samples;
    int count;
  };
  for (const Push& p : {Push{utt.get(), nullptr, 1}, Push{utt.get(), &sample, -1}}) {
    EXPECT_EQ(ko_utt_push_audio(p.utt, p.samples, p.count), 0);
    EXPECT_STREQ(ko_utt_last_error(), "ko_utt_push_audio: bad args");
  }
  EXPECT_EQ(ko_utt_push_audio(utt.get(), &sample, 0), 1);
  EXPECT_STREQ(ko_utt_last_error(), "");
  EXPECT_EQ(ko_utt_pull_frame(utt.get(), nullptr, 1, nullptr), 0);
  EXPECT_STREQ(ko_utt_last_error(), "ko_utt_pull_frame: bad args");
  ko_utt_get_stats(utt.get(), nullptr);
}

TEST(UttCalls, ReadyReportsTheModelsOwnCreationFailure) {
  UttFixture fixture;
  TempDir empty;
  struct Case {
    std::string dir;
    const char* w2v;  // nullptr: unset
    std::string text;
  };
  const Case cases[] = {
      {empty.path(), fixture.a2x.w2vPath.c_str(),
       "ko_motion_create: cannot open " + empty.path() + "/meta.json"},
      {fixture.a2x.motionDir, nullptr, "ko_a2x_create: $W2V_ONNX not set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ScopedEnv w2v("W2V_ONNX", c.w2v);
    ko_utt_opts opts = fixture.options();
    opts.motion_dir = c.dir.c_str();
    UttHandle utt(ko_utt_create(fixture.ctx(), &opts));
    ASSERT_NE(utt, nullptr) << ko_utt_last_error();
    while (ko_utt_ready(utt.get()) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(ko_utt_ready(utt.get()), -1);
    EXPECT_EQ(ko_utt_last_error(), c.text);
    // Audio for a model that never loaded is dropped; the idle loop goes on.
    pushSpeech(utt.get(), speechSamples(3200));
    const std::vector<PulledFrame> frames =
        pullUntil(utt.get(), [](const auto& got) { return got.size() == 12; });
    EXPECT_EQ(countKind(frames, utt::kIdle), 12u);
  }
}

TEST(UttCalls, PullCopiesWholeFramesOnly) {
  UttFixture fixture;
  UttHandle utt = fixture.start(fixture.options());
  const size_t bytes =
      static_cast<size_t>(ko_width(fixture.ctx())) * static_cast<size_t>(ko_height(fixture.ctx())) * 3;
  std::vector<uint8_t> frame(bytes);
  while (ko_utt_frames_available(utt.get()) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ko_utt_frame_info info{};
  EXPECT_EQ(ko_utt_pull_frame(utt.get(), frame.data(), bytes - 1, &info), 0);
  EXPECT_STREQ(ko_utt_last_error(), "ko_utt_pull_frame: buffer too small");
  EXPECT_EQ(ko_utt_frames_available(utt.get()), 1);
  ASSERT_EQ(ko_utt_pull_frame(utt.get(), frame.data(), bytes, &info), 1);
  EXPECT_EQ(info.seq, 0u);
  EXPECT_EQ(info.kind, 0);
  EXPECT_EQ(info.row, 0);
  EXPECT_EQ(info.ordinal, -1);
  // Between frames the ring is empty: that answer is not a failure and leaves the text alone.
  // The ring may have filled while this thread waited, so pull until it runs dry.
  uint64_t pulled = 1;
  bool empty = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!empty && std::chrono::steady_clock::now() < deadline) {
    ko_utt_push_audio(nullptr, nullptr, 0);
    if (ko_utt_pull_frame(utt.get(), frame.data(), bytes, &info) == 1) {
      ++pulled;
    } else {
      empty = true;
      EXPECT_STREQ(ko_utt_last_error(), "ko_utt_push_audio: bad args");
    }
  }
  ASSERT_TRUE(empty);
  ko_utt_stats stats{};
  ko_utt_get_stats(utt.get(), &stats);
  EXPECT_EQ(stats.frames_delivered, pulled);
  EXPECT_EQ(stats.speech_frames_delivered, 0u);
  EXPECT_EQ(stats.state, 0);
}

TEST(UttCalls, RenderStatusReportsEveryNotedFailure) {
  UttFixture fixture;
  UttHandle utt = fixture.start(fixture.options());
  char text[64];
  int64_t count = -1;
  EXPECT_EQ(ko_utt_render_status(utt.get(), text, sizeof text, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_STREQ(text, "");
  utt->pipeline.noteRenderFail("warm-up", "", false);
  EXPECT_EQ(ko_utt_render_status(utt.get(), text, sizeof text, &count), 0);
  EXPECT_STREQ(text, "ep=cpu warm-up: unknown failure");
  utt->pipeline.noteRenderFail("render", "the director refused", true);
  char cut[12];
  EXPECT_EQ(ko_utt_render_status(utt.get(), cut, sizeof cut, &count), -1);
  EXPECT_EQ(count, 2);
  EXPECT_STREQ(cut, "ep=cpu rend");
  EXPECT_EQ(ko_utt_render_status(utt.get(), nullptr, 0, nullptr), -1);
}

TEST(UttCalls, DestroyReturnsInEveryState) {
  ScopedEnv paste("KO_UTT_PIPELINE_PASTE", "1");
  UttFixture fixture;
  const std::vector<int16_t> speech = speechSamples(48000);
  struct Case {
    const char* state;
    std::function<void(ko_utt*)> reach;
  };
  const Case cases[] = {
      {"model loading", [](ko_utt*) {}},
      {"idle", [](ko_utt* utt) { pullUntil(utt, [](const auto& got) { return got.size() == 3; }); }},
      {"mid-utterance, host not pulling",
       [&](ko_utt* utt) {
         while (ko_utt_ready(utt) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
         pushSpeech(utt, speech);
         pullKind(utt, utt::kSpeech, 2);
       }},
      {"mid-interrupt",
       [&](ko_utt* utt) {
         while (ko_utt_ready(utt) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
         pushSpeech(utt, speech);
         pullKind(utt, utt::kSpeech, 2);
         ko_utt_interrupt(utt);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.state);
    ko_utt_opts opts = fixture.options();
    ko_utt* utt = ko_utt_create(fixture.ctx(), &opts);
    ASSERT_NE(utt, nullptr) << ko_utt_last_error();
    c.reach(utt);
    ko_utt_destroy(utt);
  }
}

}  // namespace
}  // namespace ko::test
