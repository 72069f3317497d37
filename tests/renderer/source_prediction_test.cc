// The next-source prediction on the sequences an idle loop produces: forward, backward, wrapping,
// bouncing and jumping.
#include "renderer/source_prediction.h"

#include <gtest/gtest.h>

#include <vector>

namespace ko {
namespace {

// The prediction after each source index of `sequence`.
std::vector<int32_t> predictions(const std::vector<int32_t>& sequence, int32_t frameCount) {
  SourcePrediction prediction;
  std::vector<int32_t> out;
  for (int32_t si : sequence) out.push_back(prediction.next(si, frameCount));
  return out;
}

TEST(SourcePrediction, FollowsALoopForwardAndTurnsAroundAtTheEndUntilItSeesAWrap) {
  EXPECT_EQ(predictions({0, 1, 2, 3, 4}, 5), (std::vector<int32_t>{1, 2, 3, 4, 3}));
  EXPECT_EQ(predictions({3, 4}, 5), (std::vector<int32_t>{4, 3}));
}

TEST(SourcePrediction, AfterAWrapKeepsWrapping) {
  SourcePrediction prediction;
  for (int32_t si = 0; si < 5; ++si) prediction.next(si, 5);
  EXPECT_EQ(prediction.next(0, 5), 1);
  EXPECT_TRUE(prediction.wrapped());
  for (int32_t si = 1; si < 4; ++si) EXPECT_EQ(prediction.next(si, 5), si + 1);
  EXPECT_EQ(prediction.next(4, 5), 0);
}

TEST(SourcePrediction, BackwardStepsAreFollowedDownAndBounceOffZero) {
  EXPECT_EQ(predictions({3, 2, 1, 0}, 6), (std::vector<int32_t>{4, 1, 0, 1}));
}

TEST(SourcePrediction, AJumpKeepsThePreviousStep) {
  EXPECT_EQ(predictions({5, 4, 40}, 50), (std::vector<int32_t>{6, 3, 39}));
  EXPECT_EQ(predictions({5, 40}, 50), (std::vector<int32_t>{6, 41}));
}

TEST(SourcePrediction, ATwoFrameLoopAlternatesAndOneFrameStays) {
  EXPECT_EQ(predictions({0, 1, 0, 1}, 2), (std::vector<int32_t>{1, 0, 1, 0}));
  EXPECT_EQ(predictions({0, 0, 0}, 1), (std::vector<int32_t>{0, 0, 0}));
}

}  // namespace
}  // namespace ko
