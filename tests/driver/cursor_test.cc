#include "driver/cursor.h"

#include <gtest/gtest.h>

#include <future>
#include <random>
#include <vector>

#include "tests/support/failure_text.h"
#include "tests/support/fake_source.h"

namespace ko {
namespace {

constexpr size_t kFrameBytes = 64;

struct CursorOverFake {
  std::shared_ptr<test::FakeSourceControl> control = std::make_shared<test::FakeSourceControl>();
  std::unique_ptr<DriverCursor> cursor;

  CursorOverFake(int32_t NT, int32_t ahead, int32_t hist, void (*setup)(test::FakeSourceControl&) = nullptr) {
    if (setup) setup(*control);
    cursor = DriverCursor::over(test::fakeSource(NT, kFrameBytes, control), ahead, hist);
  }

  // Pulls frame si by index and checks its bytes are that frame's.
  void expectFrameAt(int32_t si) {
    int32_t index = -1;
    const uint8_t* bytes = cursor->pullAt(si, &index);
    EXPECT_EQ(index, si);
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + kFrameBytes), test::fakeFrame(si, kFrameBytes)) << si;
  }
};

TEST(CursorLoops, PlainPullsCycleThroughTheMemberAndRewindIt) {
  CursorOverFake f(3, 2, 11);
  std::vector<int32_t> order;
  std::vector<uint8_t> frame(kFrameBytes);
  for (int i = 0; i < 7; ++i) {
    order.push_back(f.cursor->pull(frame.data()));
    EXPECT_EQ(frame, test::fakeFrame(order.back(), kFrameBytes));
  }
  EXPECT_EQ(order, (std::vector<int32_t>{0, 1, 2, 0, 1, 2, 0}));
  EXPECT_GE(f.control->rewinds.load(), 2);
  EXPECT_EQ(f.cursor->seeks(), 0u);
  EXPECT_EQ(f.cursor->position(), 1);
}

TEST(CursorServesHistoryWithoutSeeking, StepsBackAndForwardWithinTheRing) {
  CursorOverFake f(50, 3, 11);
  for (int32_t si = 0; si < 10; ++si) f.expectFrameAt(si);
  for (const int32_t back : {9, 5, 0, 7}) f.expectFrameAt(back);
  EXPECT_EQ(f.cursor->seeks(), 0u);
  // Forward within the decoded look-ahead is served from the ring too.
  f.expectFrameAt(8);
  f.control->waitForDecodes(11);
  f.expectFrameAt(10);
  EXPECT_EQ(f.cursor->seeks(), 0u);
}

TEST(CursorServesHistoryWithoutSeeking, JumpsOutsideTheWindowSeekTheSource) {
  CursorOverFake f(50, 2, 3);
  for (int32_t si = 0; si < 10; ++si) f.expectFrameAt(si);
  f.expectFrameAt(2);  // older than the three frames of history
  EXPECT_EQ(f.cursor->seeks(), 1u);
  f.expectFrameAt(40);
  EXPECT_EQ(f.cursor->seeks(), 2u);
  f.expectFrameAt(41);
  EXPECT_EQ(f.cursor->seeks(), 2u);
}

TEST(CursorMutablePulls, AFrameTakenMutablyIsDecodedAgain) {
  CursorOverFake f(20, 2, 11);
  int32_t index = -1;
  uint8_t* frame = f.cursor->pullMutAt(4, &index);
  ASSERT_EQ(index, 4);
  std::fill(frame, frame + kFrameBytes, 0xEE);
  const uint64_t before = f.cursor->seeks();
  f.expectFrameAt(4);
  EXPECT_EQ(f.cursor->seeks(), before + 1);
}

TEST(CursorDepths, ClampsLookAheadAndHistory) {
  CursorOverFake f(5, 0, -5);
  EXPECT_EQ(f.cursor->residentBytes(), 2 * kFrameBytes + 7);
  for (int32_t si = 0; si < 5; ++si) f.expectFrameAt(si);
  f.expectFrameAt(4);
  EXPECT_EQ(f.cursor->seeks(), 0u);
}

TEST(CursorSeeks, RefusesIndicesOutsideTheLoopAndStaysUsable) {
  CursorOverFake f(3, 2, 11);
  EXPECT_EQ(test::failureText([&] { f.cursor->seek(3); }), "ko_driver: seek(3) outside [0,3)");
  EXPECT_EQ(test::failureText([&] { f.cursor->pullAt(-1, static_cast<int32_t*>(nullptr)); }),
            "ko_driver: seek(-1) outside [0,3)");
  f.expectFrameAt(2);
}

TEST(CursorSeeks, SeekingToTheFrameBeingDecodedWaitsForIt) {
  CursorOverFake f(10, 1, 4, [](test::FakeSourceControl& c) { c.holdFrame = 1; });
  f.expectFrameAt(0);
  f.control->waitUntilHolding();
  auto pulled = std::async(std::launch::async, [&] { f.expectFrameAt(1); });
  f.control->release();
  pulled.get();
  EXPECT_EQ(f.cursor->seeks(), 0u);
  EXPECT_EQ(f.control->seeks.load(), 0);
}

TEST(CursorFailures, ADecodeFailureReachesEveryLaterCall) {
  // Look-ahead 1: frame 2 is decoded (and fails) only once frame 1 was taken.
  CursorOverFake f(5, 1, 11, [](test::FakeSourceControl& c) { c.failAt = 2; });
  f.expectFrameAt(0);
  f.expectFrameAt(1);
  EXPECT_EQ(test::failureText([&] { f.expectFrameAt(2); }), "ko_driver: boom at 2");
  EXPECT_EQ(test::failureText([&] { f.cursor->seek(0); }), "ko_driver: boom at 2");
  EXPECT_EQ(test::failureText([&] { f.cursor->pull(static_cast<int32_t*>(nullptr)); }),
            "ko_driver: boom at 2");
}

TEST(CursorFailures, AWaitingConsumerWakesAndThrows) {
  CursorOverFake f(5, 1, 2, [](test::FakeSourceControl& c) {
    c.holdFrame = 1;
    c.failAt = 1;
  });
  f.expectFrameAt(0);
  f.control->waitUntilHolding();
  auto waiting =
      std::async(std::launch::async, [&] { return test::failureText([&] { f.expectFrameAt(1); }); });
  f.control->release();
  EXPECT_EQ(waiting.get(), "ko_driver: boom at 1");
}

TEST(CursorFailures, AShortSourceIsRefusedWithItsLength) {
  CursorOverFake f(3, 1, 11, [](test::FakeSourceControl& c) { c.endAfter = 2; });
  f.expectFrameAt(0);
  f.expectFrameAt(1);
  const std::string expected =
      "ko_driver: fake ended after 2 frames, the manifest says NT=3 — a short driver is a session that stops "
      "part way "
      "through the loop, refusing";
  EXPECT_EQ(test::failureText([&] { f.expectFrameAt(2); }), expected);
  EXPECT_EQ(test::failureText([&] { f.expectFrameAt(0); }), expected);
}

TEST(CursorLifetime, DestroyingWhileTheThreadDecodesJoinsIt) {
  auto control = std::make_shared<test::FakeSourceControl>();
  control->holdFrame = 1;
  auto cursor = DriverCursor::over(test::fakeSource(4, kFrameBytes, control), 2, 2);
  control->waitUntilHolding();
  auto destroyed = std::async(std::launch::async, [&] { cursor.reset(); });
  control->release();
  destroyed.get();
  EXPECT_EQ(cursor, nullptr);
}

// A consumer that jumps around while the thread decodes: every frame it is handed is the one asked
// for, byte for byte. Run under ThreadSanitizer this also checks the locking.
TEST(CursorStress, RandomJumpsAlwaysYieldTheRequestedFrame) {
  CursorOverFake f(37, 2, 11);
  std::mt19937 rng(41);
  std::uniform_int_distribution<int32_t> frame(0, 36), action(0, 5);
  std::vector<uint8_t> copy(kFrameBytes);
  for (int step = 0; step < 3000; ++step) {
    const int32_t si = frame(rng);
    int32_t index = -1;
    switch (action(rng)) {
      case 0:
        f.cursor->seek(si);
        ASSERT_EQ(f.cursor->pull(copy.data()), si);
        ASSERT_EQ(copy, test::fakeFrame(si, kFrameBytes));
        break;
      case 1: {
        uint8_t* bytes = f.cursor->pullMutAt(si, &index);
        ASSERT_EQ(std::vector<uint8_t>(bytes, bytes + kFrameBytes), test::fakeFrame(si, kFrameBytes));
        bytes[5] ^= 0xFF;
        break;
      }
      case 2:
        ASSERT_EQ(f.cursor->pullAt(si, copy.data()), si);
        ASSERT_EQ(copy, test::fakeFrame(si, kFrameBytes));
        break;
      default: {
        const int32_t expected = f.cursor->position();
        const uint8_t* bytes = f.cursor->pull(&index);
        ASSERT_EQ(index, expected);
        ASSERT_EQ(std::vector<uint8_t>(bytes, bytes + kFrameBytes), test::fakeFrame(index, kFrameBytes));
      }
    }
  }
}

}  // namespace
}  // namespace ko
