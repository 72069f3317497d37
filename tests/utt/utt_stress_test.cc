// Three host threads pushing, pulling and interrupting one pipeline thousands of times: nothing
// deadlocks, and every frame arrives at most once and in the order it was made.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/support/utt_fixture.h"

namespace ko::test {
namespace {

TEST(UttStress, PushPullAndInterruptFromThreeThreads) {
  ScopedEnv paste("KO_UTT_PIPELINE_PASTE", "1");
  UttFixture fixture;
  ko_utt_opts opts = fixture.options();
  opts.end_gap_s = 0.05;
  UttHandle utt = fixture.start(opts);
  const std::vector<int16_t> speech = speechSamples(16000);
  std::atomic<bool> pushing{true};
  std::atomic<uint64_t> speechFrames{0};
  // However slow the build (sanitizers), the run goes on until speech got through the interrupts.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const auto spokeOrLate = [&] { return speechFrames > 0 || std::chrono::steady_clock::now() > deadline; };

  std::thread pusher([&] {
    for (int push = 0; push < 1500 || !spokeOrLate(); ++push) {
      const size_t at = static_cast<size_t>(push % 50) * 320;
      ko_utt_push_audio(utt.get(), speech.data() + at, 320);
      if (push % 50 == 49) ko_utt_end_utterance(utt.get());
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    pushing = false;
  });
  std::thread interrupter([&] {
    for (int interrupt = 0; pushing; ++interrupt) {
      std::this_thread::sleep_for(std::chrono::milliseconds(interrupt % 2 == 0 ? 3 : 11));
      // Now and then an utterance is let through to its speech frames.
      while (interrupt % 64 == 63 && pushing && !spokeOrLate())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      ko_utt_interrupt(utt.get());
    }
  });
  uint64_t frames = 0;
  bool ordered = true;
  std::thread puller([&] {
    std::vector<uint8_t> pixels(static_cast<size_t>(ko_width(fixture.ctx())) *
                                static_cast<size_t>(ko_height(fixture.ctx())) * 3);
    ko_utt_frame_info info{};
    uint64_t next = 0;
    while (pushing) {
      if (ko_utt_pull_frame(utt.get(), pixels.data(), pixels.size(), &info) == 1) {
        ordered = ordered && info.seq >= next;
        next = info.seq + 1;
        ++frames;
        if (info.kind == utt::kSpeech) ++speechFrames;
      }
      ko_utt_frames_available(utt.get());
    }
  });
  pusher.join();
  interrupter.join();
  puller.join();
  EXPECT_TRUE(ordered);
  EXPECT_GT(speechFrames, 0u);
  ko_utt_stats stats{};
  ko_utt_get_stats(utt.get(), &stats);
  EXPECT_EQ(stats.frames_delivered, frames);
  EXPECT_EQ(stats.speech_frames_delivered, speechFrames);
}

}  // namespace
}  // namespace ko::test
