// The next-source prediction on the sequences an idle loop produces: forward, backward, wrapping,
// bouncing and jumping.
#include "renderer/source_prediction.h"

#include <gtest/gtest.h>

#include <vector>

namespace ko {
namespace {

TEST(SourcePrediction, FollowsTheSequencesAnIdleLoopProduces) {
  const struct {
    const char* name;
    std::vector<int32_t> sequence;
    int32_t frameCount;
    std::vector<int32_t> expected;  // the prediction after each source index
    bool wrapped;
  } cases[] = {
      {"forward, turning around at the end", {0, 1, 2, 3, 4}, 5, {1, 2, 3, 4, 3}, false},
      {"forward from the middle", {3, 4}, 5, {4, 3}, false},
      {"after a wrap, wrapping", {0, 1, 2, 3, 4, 0, 1, 2, 3, 4}, 5, {1, 2, 3, 4, 3, 1, 2, 3, 4, 0}, true},
      {"backward, bouncing off zero", {3, 2, 1, 0}, 6, {4, 1, 0, 1}, false},
      {"a jump keeps the backward step", {5, 4, 40}, 50, {6, 3, 39}, false},
      {"a jump keeps the forward step", {5, 40}, 50, {6, 41}, false},
      {"a two-frame loop alternates", {0, 1, 0, 1}, 2, {1, 0, 1, 0}, true},
      {"one frame stays", {0, 0, 0}, 1, {0, 0, 0}, false},
  };
  for (const auto& c : cases) {
    SourcePrediction prediction;
    std::vector<int32_t> predicted;
    for (int32_t si : c.sequence) predicted.push_back(prediction.next(si, c.frameCount));
    EXPECT_EQ(predicted, c.expected) << c.name;
    EXPECT_EQ(prediction.wrapped(), c.wrapped) << c.name;
  }
}

}  // namespace
}  // namespace ko
